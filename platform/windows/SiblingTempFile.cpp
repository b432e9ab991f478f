#include "platform/SiblingTempFile.h"

#include "platform/windows/WideText.h"
#include "platform/windows/WindowsError.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <random>
#include <utility>

namespace {

HANDLE handleOf(std::FILE* file) { return reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(file))); }

}  // namespace

SiblingTempFile::SiblingTempFile(std::string target) : m_target(std::move(target)) {
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device seed;
    std::mt19937 generator(seed());
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kLetters - 2);
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0; file == INVALID_HANDLE_VALUE; ++attempt) {
        m_path = m_target + ".tmp-";
        for (int i = 0; i < 6; ++i) m_path += kLetters[pick(generator)];
        // Nobody else writes it; readers (a virus scanner) may look, and it may be renamed while they do.
        file = ::CreateFileW(wideText(m_path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                             CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            const DWORD error = ::GetLastError();
            if (error != ERROR_FILE_EXISTS || attempt == 100) {
                m_path.clear();
                throwWindowsError(error, "no se puede crear un archivo temporal a su lado");
            }
        }
    }
    // The C library's stream owns the handle from here on, and closes it with the stream.
    const int descriptor = ::_open_osfhandle(reinterpret_cast<std::intptr_t>(file), _O_WRONLY | _O_BINARY);
    if (descriptor < 0) {
        ::CloseHandle(file);
        discard();
        throwWindowsError(ERROR_TOO_MANY_OPEN_FILES, "no se puede abrir el archivo temporal");
    }
    m_file = ::_fdopen(descriptor, "wb");
    if (m_file == nullptr) {
        ::_close(descriptor);
        discard();
        throwWindowsError(ERROR_NOT_ENOUGH_MEMORY, "no se puede abrir el archivo temporal");
    }
}

void SiblingTempFile::discard() noexcept {
    if (m_file != nullptr) std::fclose(std::exchange(m_file, nullptr));
    if (!m_path.empty()) ::DeleteFileW(wideText(std::exchange(m_path, {})).c_str());
}

void SiblingTempFile::write(std::string_view bytes) {
    if (m_file == nullptr) throwWindowsError(ERROR_INVALID_HANDLE, "el archivo temporal no está abierto");
    const HANDLE file = handleOf(m_file);
    while (!bytes.empty()) {
        const DWORD asked = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
        DWORD written = 0;
        if (!::WriteFile(file, bytes.data(), asked, &written, nullptr))
            throwLastError("no se puede escribir el archivo temporal");
        if (written == 0) throwWindowsError(ERROR_DISK_FULL, "no se puede escribir el archivo temporal");
        bytes.remove_prefix(written);
    }
}

// The system's cache writes behind on its own; commit() waits for what is left.
void SiblingTempFile::startWriteBack() noexcept {}

void SiblingTempFile::commit() {
    if (m_file == nullptr) throwWindowsError(ERROR_INVALID_HANDLE, "el archivo temporal no está abierto");
    // An earlier failed write leaves only the error flag behind: the flush of what remains may well succeed.
    if (std::ferror(m_file) != 0) throwWindowsError(ERROR_WRITE_FAULT, "no se puede escribir el archivo temporal");
    if (std::fflush(m_file) != 0) throwWindowsError(ERROR_WRITE_FAULT, "no se puede escribir el archivo temporal");
    if (!::FlushFileBuffers(handleOf(m_file))) throwLastError("no se puede escribir el archivo temporal");
    if (std::fclose(std::exchange(m_file, nullptr)) != 0)
        throwWindowsError(ERROR_WRITE_FAULT, "no se puede cerrar el archivo temporal");
    const std::wstring from = wideText(m_path), to = wideText(m_target);
    // A program that has just looked at the new file (a virus scanner, the search indexer) may hold it for a moment;
    // the target held open by another program (a spreadsheet) keeps failing, and that is the answer.
    for (int attempt = 0;; ++attempt) {
        if (::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) break;
        const DWORD error = ::GetLastError();
        if ((error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED && error != ERROR_LOCK_VIOLATION) ||
            attempt == 5)
            throwWindowsError(error, "no se puede poner el archivo nuevo en su lugar");
        ::Sleep(50);
    }
    m_path.clear();
}
