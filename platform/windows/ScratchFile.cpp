#include "platform/ScratchFile.h"

#include "platform/windows/WideText.h"
#include "platform/windows/WindowsError.h"

#include <windows.h>

#include <algorithm>
#include <random>
#include <string>

namespace {

HANDLE handle(const FileHandle& file) { return reinterpret_cast<HANDLE>(file.get()); }

OVERLAPPED at(std::uint64_t offset) {
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(offset);
    where.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return where;
}

std::wstring temporaryFolder() {
    std::wstring folder(MAX_PATH + 1, L'\0');
    const DWORD n = ::GetTempPathW(static_cast<DWORD>(folder.size()), folder.data());
    if (n == 0 || n > folder.size()) throwLastError("no se encuentra la carpeta de archivos temporales");
    folder.resize(n);
    return folder;
}

}  // namespace

ScratchFile::ScratchFile() {
    const std::wstring folder = temporaryFolder();
    std::random_device seed;
    for (int attempt = 0; !m_file; ++attempt) {
        const std::wstring name = folder + L"velmora-" + std::to_wstring(seed()) + L".tmp";
        // The system deletes it when its handle is closed, even when the process is killed; being temporary, it
        // stays in the cache rather than being written to the disk where memory allows.
        m_file = FileHandle(reinterpret_cast<std::intptr_t>(
            ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                          FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr)));
        if (!m_file && (::GetLastError() != ERROR_FILE_EXISTS || attempt == 100))
            throwLastError("no se puede crear un archivo temporal");
    }
}

std::uint64_t ScratchFile::append(std::string_view bytes) {
    const std::uint64_t start = m_size;
    while (!bytes.empty()) {
        OVERLAPPED where = at(m_size);
        const DWORD asked = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
        DWORD written = 0;
        if (!::WriteFile(handle(m_file), bytes.data(), asked, &written, &where))
            throwLastError("no se puede escribir un archivo temporal");
        if (written == 0) throwWindowsError(ERROR_DISK_FULL, "no se puede escribir un archivo temporal");
        m_size += written;
        bytes.remove_prefix(written);
    }
    return start;
}

void ScratchFile::readAt(std::uint64_t offset, std::span<char> into) const {
    std::size_t done = 0;
    while (done < into.size()) {
        OVERLAPPED where = at(offset + done);
        const DWORD asked = static_cast<DWORD>(std::min<std::size_t>(into.size() - done, 1u << 30));
        DWORD got = 0;
        if (!::ReadFile(handle(m_file), into.data() + done, asked, &got, &where))
            throwLastError("no se puede leer un archivo temporal");
        if (got == 0) throwWindowsError(ERROR_HANDLE_EOF, "no se puede leer un archivo temporal");
        done += got;
    }
}
