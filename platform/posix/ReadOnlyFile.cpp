#include "platform/ReadOnlyFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <system_error>

namespace {

[[noreturn]] void fail(int error, const char* step) { throw std::system_error(error, std::generic_category(), step); }

int fd(const FileHandle& file) { return static_cast<int>(file.get()); }

std::int64_t nanoseconds(const timespec& t) { return std::int64_t(t.tv_sec) * 1'000'000'000 + t.tv_nsec; }

}  // namespace

ReadOnlyFile::ReadOnlyFile(const std::string& path) : m_file(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    if (!m_file) fail(errno, "open");
    struct stat st {};
    if (::fstat(fd(m_file), &st) != 0) fail(errno, "stat");
    if (!S_ISREG(st.st_mode)) fail(int(std::errc::not_supported), "open");
    m_identity = {std::uint64_t(st.st_dev), std::uint64_t(st.st_ino)};
}

std::size_t ReadOnlyFile::readAt(std::uint64_t offset, std::span<const std::span<unsigned char>> pieces) const {
    // One call for the pieces: a run of pages is read at once straight into the buffers that keep them.
    std::array<iovec, 16> vectors{};
    std::size_t read = 0;
    while (!pieces.empty()) {
        const std::size_t count = std::min(pieces.size(), vectors.size());
        std::size_t asked = 0;
        for (std::size_t i = 0; i < count; ++i) {
            vectors[i] = {pieces[i].data(), pieces[i].size()};
            asked += pieces[i].size();
        }
        ssize_t got;
        do {
            got = ::preadv(fd(m_file), vectors.data(), int(count), off_t(offset + read));
        } while (got < 0 && errno == EINTR);
        if (got < 0) fail(errno, "read");
        read += std::size_t(got);
        if (std::size_t(got) < asked) break;
        pieces = pieces.subspan(count);
    }
    return read;
}

FileStamp ReadOnlyFile::stamp() const {
    struct stat st {};
    if (::fstat(fd(m_file), &st) != 0) fail(errno, "stat");
    return {std::uint64_t(st.st_size), nanoseconds(st.st_mtim), nanoseconds(st.st_ctim)};
}

FileIdentity ReadOnlyFile::identity() const { return m_identity; }

std::optional<FileIdentity> ReadOnlyFile::identityOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return FileIdentity{std::uint64_t(st.st_dev), std::uint64_t(st.st_ino)};
}

bool ReadOnlyFile::namedBy(const std::string& path) const { return identityOf(path) == m_identity; }
