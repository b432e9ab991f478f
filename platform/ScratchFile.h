#pragma once

#include "platform/FileHandle.h"

#include <cstdint>
#include <span>
#include <string_view>

// A file of the program's own in the system's folder for temporary files, for what does not fit in memory while one
// command runs: written by appending, read back by offset, and gone when its owner is (on Linux already unlinked,
// on Windows deleted by the system when it is closed, so that nothing is left behind even when the process is
// killed). The folder is TMPDIR's or /tmp on Linux, GetTempPathW's (TMP, TEMP) on Windows.
//
// Failures raise std::system_error with the system's reason (platform/SystemError.h describes it).
class ScratchFile {
public:
    ScratchFile();
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    // Appends `bytes` and returns the offset where they start.
    std::uint64_t append(std::string_view bytes);
    // How many bytes it holds.
    std::uint64_t size() const noexcept { return m_size; }
    // Reads `into.size()` bytes from `offset`, all of them.
    void readAt(std::uint64_t offset, std::span<char> into) const;

private:
    FileHandle m_file;
    std::uint64_t m_size = 0;
};
