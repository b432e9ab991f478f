#include "platform/ScratchFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <system_error>

namespace {

[[noreturn]] void fail(int error, const char* step) { throw std::system_error(error, std::generic_category(), step); }

std::string temporaryFolder() {
    const char* named = std::getenv("TMPDIR");
    return named && *named ? named : "/tmp";
}

}  // namespace

ScratchFile::ScratchFile() {
    const std::string folder = temporaryFolder();
    // A file without a name, where the file system allows it; else one named and unlinked at once.
    m_file = FileHandle(::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
    if (m_file) return;
    std::string name = folder + "/velmora-XXXXXX";
    m_file = FileHandle(::mkostemp(name.data(), O_CLOEXEC));
    if (!m_file) fail(errno, "no se puede crear un archivo temporal");
    ::unlink(name.c_str());
}

std::uint64_t ScratchFile::append(std::string_view bytes) {
    const std::uint64_t at = m_size;
    while (!bytes.empty()) {
        const ssize_t n = ::pwrite(static_cast<int>(m_file.get()), bytes.data(), bytes.size(), off_t(m_size));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) fail(n < 0 ? errno : ENOSPC, "no se puede escribir un archivo temporal");
        m_size += std::uint64_t(n);
        bytes.remove_prefix(std::size_t(n));
    }
    return at;
}

void ScratchFile::readAt(std::uint64_t offset, std::span<char> into) const {
    std::size_t done = 0;
    while (done < into.size()) {
        const ssize_t n =
            ::pread(static_cast<int>(m_file.get()), into.data() + done, into.size() - done, off_t(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) fail(n < 0 ? errno : EIO, "no se puede leer un archivo temporal");
        done += std::size_t(n);
    }
}
