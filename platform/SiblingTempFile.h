#pragma once

#include <cstdio>
#include <string>
#include <string_view>

// A new file beside a target, named "<target>.tmp-XXXXXX" and created with the permissions a new target would get
// (on Linux 0666 less the umask). commit() puts it in the target's place (replacing an existing target at once, so
// that the name always names a whole file); dropped before that, it is removed and the target stays as it was.
// Paths are UTF-8. Failures raise std::system_error naming the step, with the system's reason
// (platform/SystemError.h describes it).
class SiblingTempFile {
public:
    explicit SiblingTempFile(std::string target);
    SiblingTempFile(SiblingTempFile&& other) noexcept;
    SiblingTempFile& operator=(SiblingTempFile&& other) noexcept;
    SiblingTempFile(const SiblingTempFile&) = delete;
    SiblingTempFile& operator=(const SiblingTempFile&) = delete;
    ~SiblingTempFile();

    // The open file, for writing through the C library; null once committed. Not to be mixed with write().
    std::FILE* stream() const noexcept { return m_file; }
    const std::string& path() const noexcept { return m_path; }

    // Writes `bytes` at the end of the file, straight to the system (nothing is kept back in a buffer).
    void write(std::string_view bytes);

    // Starts writing to the disk what has reached the file so far (flushed from the stream), without waiting for
    // it, so that commit() has less left to wait for.
    void startWriteBack() noexcept;

    // Flushes the file to the disk, closes it and renames it over the target. Whatever fails, the file is no longer
    // open; dropped, it is removed.
    void commit();

private:
    void discard() noexcept;

    std::string m_target;
    std::string m_path;
    std::FILE* m_file = nullptr;
    long long m_writtenBack = 0;  // bytes already on their way to the disk (Linux)
};
