#include "platform/SiblingTempFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <system_error>
#include <utility>

namespace {

[[noreturn]] void fail(int error, const char* step) { throw std::system_error(error, std::generic_category(), step); }

}  // namespace

SiblingTempFile::SiblingTempFile(std::string target) : m_target(std::move(target)) {
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device seed;
    std::mt19937 generator(seed());
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kLetters - 2);
    int fd = -1;
    for (int attempt = 0; fd < 0; ++attempt) {
        m_path = m_target + ".tmp-";
        for (int i = 0; i < 6; ++i) m_path += kLetters[pick(generator)];
        fd = ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && (errno != EEXIST || attempt == 100))
            fail(errno, "no se puede crear un archivo temporal a su lado");
    }
    m_file = ::fdopen(fd, "wb");
    if (m_file == nullptr) {
        const int error = errno;
        ::close(fd);
        ::unlink(m_path.c_str());
        fail(error, "no se puede abrir el archivo temporal");
    }
}

void SiblingTempFile::discard() noexcept {
    if (m_file != nullptr) std::fclose(std::exchange(m_file, nullptr));
    if (!m_path.empty()) ::unlink(std::exchange(m_path, {}).c_str());
}

void SiblingTempFile::write(std::string_view bytes) {
    if (m_file == nullptr) fail(EBADF, "el archivo temporal no está abierto");
    const int fd = ::fileno(m_file);
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) fail(n < 0 ? errno : EIO, "no se puede escribir el archivo temporal");
        bytes.remove_prefix(std::size_t(n));
    }
}

void SiblingTempFile::startWriteBack() noexcept {
    if (m_file == nullptr) return;
    const int fd = ::fileno(m_file);
    const off_t end = ::lseek(fd, 0, SEEK_CUR);
    // Only a hint: whatever fails here, commit()'s fsync reports.
    if (end > m_writtenBack && ::sync_file_range(fd, m_writtenBack, end - m_writtenBack, SYNC_FILE_RANGE_WRITE) == 0)
        m_writtenBack = end;
}

void SiblingTempFile::commit() {
    if (m_file == nullptr) fail(EBADF, "el archivo temporal no está abierto");
    // An earlier failed write leaves only the error flag behind: the flush of what remains may well succeed.
    if (std::ferror(m_file) != 0) fail(EIO, "no se puede escribir el archivo temporal");
    if (std::fflush(m_file) != 0 || ::fsync(::fileno(m_file)) != 0)
        fail(errno, "no se puede escribir el archivo temporal");
    if (std::fclose(std::exchange(m_file, nullptr)) != 0) fail(errno, "no se puede cerrar el archivo temporal");
    if (::rename(m_path.c_str(), m_target.c_str()) != 0) fail(errno, "no se puede poner el archivo nuevo en su lugar");
    m_path.clear();
}
