#pragma once

#include "platform/FileHandle.h"

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>

// What changes when a file is written: its size, and its modification and change times in nanoseconds since
// 1970-01-01 UTC (a system that keeps no change time gives 0).
struct FileStamp {
    std::uint64_t size = 0;
    std::int64_t modified = 0;
    std::int64_t changed = 0;
    bool operator==(const FileStamp&) const = default;
};

// Which file a name leads to: the same pair for the same file, whatever its name, as long as it exists.
struct FileIdentity {
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
    bool operator==(const FileIdentity&) const = default;
};

// A file opened to be read by offset and never written. It is shared with the programs that write it, which may go
// on writing while it is open (and, on Windows, delete it or put another file in its place); nothing is locked and
// no lock file is made. Paths are UTF-8.
//
// Failures raise std::system_error with the system's reason (platform/SystemError.h describes it).
class ReadOnlyFile {
public:
    // Opens the ordinary file `path`. Raises std::system_error when it cannot be opened, and one whose code is
    // std::errc::not_supported when `path` names something else (a folder, a device).
    explicit ReadOnlyFile(const std::string& path);

    // Reads the bytes from `offset` on into `pieces`, one after the other, and returns how many it read: fewer than
    // asked only at the end of the file.
    std::size_t readAt(std::uint64_t offset, std::span<const std::span<unsigned char>> pieces) const;
    // The file's stamp now.
    FileStamp stamp() const;
    FileIdentity identity() const;

    // Whether `path` names this file now. On Windows the file's number within its volume is compared, the volume
    // being the one `path` led to when the file was opened (asking the volume's serial of Wine costs a call to
    // another process, and this is asked at every export of a batch).
    bool namedBy(const std::string& path) const;

    // Which file `path` names now; nullopt when it names none.
    static std::optional<FileIdentity> identityOf(const std::string& path);

private:
    FileHandle m_file;
    FileIdentity m_identity;  // an open file's, which stays its own while it is open
    // Windows reads at the file's position, which a read moves: one read at a time.
    mutable std::mutex m_position;
};
