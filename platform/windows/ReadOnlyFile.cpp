#include "platform/ReadOnlyFile.h"

#include "platform/FileSystem.h"
#include "platform/windows/WideText.h"
#include "platform/windows/WindowsError.h"

#include <windows.h>

#include <algorithm>

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
}

std::size_t ReadOnlyFile::readAt(std::uint64_t offset, std::span<const std::span<unsigned char>> pieces) const {
    std::size_t read = 0;
    for (const std::span<unsigned char> piece : pieces) {
        std::size_t filled = 0;
        while (filled < piece.size()) {
            const std::uint64_t at = offset + read + filled;
            OVERLAPPED where{};
            where.Offset = static_cast<DWORD>(at);
            where.OffsetHigh = static_cast<DWORD>(at >> 32);
            const DWORD asked = static_cast<DWORD>(std::min<std::size_t>(piece.size() - filled, 1u << 30));
            DWORD got = 0;
            if (!::ReadFile(handle(m_file), piece.data() + filled, asked, &got, &where)) {
                const DWORD error = ::GetLastError();
                if (error != ERROR_HANDLE_EOF) throwWindowsError(error, "read");
                got = 0;
            }
            if (got == 0) return read + filled;
            filled += got;
        }
        read += filled;
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

FileIdentity ReadOnlyFile::identity() const { return identityOfHandle(m_file); }

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
