#include "platform/ReadOnlyFile.h"

#include "platform/FileSystem.h"
#include "platform/windows/WideText.h"
#include "platform/windows/WindowsError.h"

#include <windows.h>
#include <winternl.h>

#include <algorithm>
#include <vector>

namespace {

// FILETIME and FILE_BASIC_INFO count 100-nanosecond ticks from 1601-01-01 UTC.
constexpr std::int64_t kTicksFrom1601To1970 = 116'444'736'000'000'000;

std::int64_t nanoseconds(const LARGE_INTEGER& ticks) { return (ticks.QuadPart - kTicksFrom1601To1970) * 100; }

HANDLE handle(const FileHandle& file) { return reinterpret_cast<HANDLE>(file.get()); }

// Opened with every share mode, as Access opens the database for its users: the programs that write it (Access,
// Jet with its .ldb) go on writing, and may even put another file in its place, while it is read.
FileHandle openShared(const std::string& path, DWORD access, DWORD flags) {
    return FileHandle(reinterpret_cast<std::intptr_t>(
        ::CreateFileW(wideText(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                      OPEN_EXISTING, flags, nullptr)));
}

FileIdentity identityOfHandle(const FileHandle& file) {
    BY_HANDLE_FILE_INFORMATION information{};
    if (!::GetFileInformationByHandle(handle(file), &information)) throwLastError("stat");
    return {information.dwVolumeSerialNumber,
            std::uint64_t(information.nFileIndexHigh) << 32 | information.nFileIndexLow};
}

}  // namespace

ReadOnlyFile::ReadOnlyFile(const std::string& path)
    : m_file(openShared(path, GENERIC_READ, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_RANDOM_ACCESS)) {
    if (!m_file) {
        const DWORD error = ::GetLastError();
        // A folder cannot be opened as a file at all; it is not refused for want of rights.
        if (FileSystem::isFolder(path)) throw std::system_error(std::make_error_code(std::errc::not_supported), "open");
        throwWindowsError(error, "open");
    }
    if (::GetFileType(handle(m_file)) != FILE_TYPE_DISK)
        throw std::system_error(std::make_error_code(std::errc::not_supported), "open");
    m_identity = identityOfHandle(m_file);
}

std::size_t ReadOnlyFile::readAt(std::uint64_t offset, std::span<const std::span<unsigned char>> pieces) const {
    // Read from the file's position, set first: a read given its offset (OVERLAPPED) also reports its end to a
    // completion port the handle may have, which costs a call to Wine's server for every page. A run of pages is
    // read at once, into the one piece or into memory of its own, and handed out.
    std::size_t asked = 0;
    for (const std::span<unsigned char> piece : pieces) asked += piece.size();
    if (asked == 0) return 0;
    const std::lock_guard lock(m_position);
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(offset);
    if (!::SetFilePointerEx(handle(m_file), at, nullptr, FILE_BEGIN)) throwLastError("read");
    thread_local std::vector<unsigned char> run;
    unsigned char* into = pieces.size() == 1 ? pieces.front().data() : (run.resize(asked), run.data());
    std::size_t read = 0;
    while (read < asked) {
        const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(asked - read, 1u << 30));
        DWORD got = 0;
        if (!::ReadFile(handle(m_file), into + read, wanted, &got, nullptr)) throwLastError("read");
        if (got == 0) break;  // the end of the file
        read += got;
    }
    if (pieces.size() != 1) {
        std::size_t handed = 0;
        for (const std::span<unsigned char> piece : pieces) {
            const std::size_t part = std::min(piece.size(), read - handed);
            std::copy_n(run.data() + handed, part, piece.data());
            handed += part;
            if (handed == read) break;
        }
    }
    return read;
}

FileStamp ReadOnlyFile::stamp() const {
    FILE_BASIC_INFO times{};
    LARGE_INTEGER size{};
    // Asked of the open handle, not of the folder's entry, which the system brings up to date only now and then.
    if (!::GetFileInformationByHandleEx(handle(m_file), FileBasicInfo, &times, sizeof times) ||
        !::GetFileSizeEx(handle(m_file), &size))
        throwLastError("stat");
    return {std::uint64_t(size.QuadPart), nanoseconds(times.LastWriteTime), nanoseconds(times.ChangeTime)};
}

FileIdentity ReadOnlyFile::identity() const { return m_identity; }

std::optional<FileIdentity> ReadOnlyFile::identityOf(const std::string& path) {
    // Opened for no access at all: share modes do not apply, so a file that another program holds is still named.
    const FileHandle file = openShared(path, 0, FILE_FLAG_BACKUP_SEMANTICS);
    if (!file) return std::nullopt;
    try {
        return identityOfHandle(file);
    } catch (const std::system_error&) {
        return std::nullopt;
    }
}

bool ReadOnlyFile::namedBy(const std::string& path) const {
    const FileHandle file = openShared(path, 0, FILE_FLAG_BACKUP_SEMANTICS);
    if (!file) return false;
    // The file's number within its volume (FileInternalInformation), which is what BY_HANDLE_FILE_INFORMATION's
    // index gives.
    constexpr auto kInternalInformation = static_cast<FILE_INFORMATION_CLASS>(6);
    IO_STATUS_BLOCK status{};
    LARGE_INTEGER index{};
    if (::NtQueryInformationFile(handle(file), &status, &index, sizeof index, kInternalInformation) != 0) return false;
    return std::uint64_t(index.QuadPart) == m_identity.index;
}
