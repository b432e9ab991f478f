#include "platform/ReadOnlyFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <system_error>
#include <utility>

namespace {

[[noreturn]] void fail(int error, const char* step) { throw std::system_error(error, std::generic_category(), step); }

std::int64_t nanoseconds(const timespec& t) { return std::int64_t(t.tv_sec) * 1'000'000'000 + t.tv_nsec; }

}  // namespace

ReadOnlyFile::ReadOnlyFile(const std::string& path) {
    m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (m_fd < 0) fail(errno, "open");
    struct stat st {};
    if (::fstat(m_fd, &st) != 0) {
        const int error = errno;
        ::close(std::exchange(m_fd, -1));
        fail(error, "stat");
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(std::exchange(m_fd, -1));
        fail(int(std::errc::not_supported), "open");
    }
}

ReadOnlyFile::~ReadOnlyFile() {
    if (m_fd >= 0) ::close(m_fd);
}

ReadOnlyFile::ReadOnlyFile(ReadOnlyFile&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}

ReadOnlyFile& ReadOnlyFile::operator=(ReadOnlyFile&& other) noexcept {
    if (this != &other) {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
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
            got = ::preadv(m_fd, vectors.data(), int(count), off_t(offset + read));
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
    if (::fstat(m_fd, &st) != 0) fail(errno, "stat");
    return {std::uint64_t(st.st_size), nanoseconds(st.st_mtim), nanoseconds(st.st_ctim)};
}

FileIdentity ReadOnlyFile::identity() const {
    struct stat st {};
    if (::fstat(m_fd, &st) != 0) fail(errno, "stat");
    return {std::uint64_t(st.st_dev), std::uint64_t(st.st_ino)};
}

std::optional<FileIdentity> ReadOnlyFile::identityOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return FileIdentity{std::uint64_t(st.st_dev), std::uint64_t(st.st_ino)};
}
