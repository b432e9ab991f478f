#pragma once

#include <cstdio>
#include <string>

// A new file beside a target, named "<target>.tmp-XXXXXX" and created with the permissions a new target would get
// (0666 less the umask). commit() puts it in the target's place; dropped before that, it is removed and the
// target stays as it was. Failures raise std::system_error naming the step.
class SiblingTempFile {
public:
    explicit SiblingTempFile(std::string target);
    SiblingTempFile(SiblingTempFile&& other) noexcept;
    SiblingTempFile& operator=(SiblingTempFile&& other) noexcept;
    SiblingTempFile(const SiblingTempFile&) = delete;
    SiblingTempFile& operator=(const SiblingTempFile&) = delete;
    ~SiblingTempFile();

    // The open file, for writing; null once committed.
    std::FILE* stream() const noexcept { return m_file; }
    const std::string& path() const noexcept { return m_path; }

    // Starts writing to the disk what has reached the file so far (flushed from the stream), without waiting for
    // it, so that commit() has less left to wait for.
    void startWriteBack() noexcept;

    // Flushes the file to the disk, closes it and renames it over the target.
    void commit();

private:
    void discard() noexcept;

    std::string m_target;
    std::string m_path;
    std::FILE* m_file = nullptr;
    long long m_writtenBack = 0;  // bytes already on their way to the disk
};
