#include "platform/windows/WindowsError.h"

#include "platform/windows/WideText.h"

#include <windows.h>

#include <string>

namespace {

// Words of our own for the errors the program's files meet, where the system has no Spanish words.
const char* ownWords(DWORD code) {
    switch (code) {
        case ERROR_FILE_NOT_FOUND: return "no se encuentra el archivo";
        case ERROR_PATH_NOT_FOUND: return "no se encuentra la ruta";
        case ERROR_TOO_MANY_OPEN_FILES: return "hay demasiados archivos abiertos";
        case ERROR_ACCESS_DENIED: return "acceso denegado";
        case ERROR_INVALID_HANDLE: return "el identificador del archivo no es válido";
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY: return "no hay memoria suficiente";
        case ERROR_INVALID_DRIVE: return "no se encuentra la unidad";
        case ERROR_WRITE_PROTECT: return "el disco está protegido contra escritura";
        case ERROR_NOT_READY: return "la unidad no está lista";
        case ERROR_CRC: return "error de datos en el disco";
        case ERROR_WRITE_FAULT: return "no se puede escribir en el dispositivo";
        case ERROR_READ_FAULT: return "no se puede leer del dispositivo";
        case ERROR_GEN_FAILURE: return "un dispositivo conectado al sistema no funciona";
        case ERROR_SHARING_VIOLATION: return "otro programa está usando el archivo";
        case ERROR_LOCK_VIOLATION: return "otro programa ha bloqueado una parte del archivo";
        case ERROR_HANDLE_EOF: return "se llegó al final del archivo";
        case ERROR_HANDLE_DISK_FULL:
        case ERROR_DISK_FULL: return "no queda espacio en el disco";
        case ERROR_NOT_SUPPORTED: return "la operación no se admite";
        case ERROR_BAD_NETPATH: return "no se encuentra la ruta de red";
        case ERROR_NETNAME_DELETED: return "el nombre de red ya no está disponible";
        case ERROR_NETWORK_ACCESS_DENIED: return "acceso a la red denegado";
        case ERROR_BAD_NET_NAME: return "no se encuentra el nombre de red";
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS: return "el archivo ya existe";
        case ERROR_INVALID_PARAMETER: return "un parámetro no es válido";
        case ERROR_INVALID_NAME: return "el nombre del archivo, de la carpeta o de la unidad no es válido";
        case ERROR_DIR_NOT_EMPTY: return "la carpeta no está vacía";
        case ERROR_FILENAME_EXCED_RANGE: return "el nombre del archivo es demasiado largo";
        case ERROR_DIRECTORY: return "el nombre de la carpeta no es válido";
        case ERROR_IO_DEVICE: return "error de entrada o salida en el dispositivo";
        case ERROR_DEVICE_NOT_CONNECTED: return "el dispositivo no está conectado";
        case ERROR_USER_MAPPED_FILE: return "otro programa tiene el archivo abierto en memoria";
        case ERROR_CANT_ACCESS_FILE: return "no se puede acceder al archivo";
        default: return nullptr;
    }
}

// The system's own words in `language`, without the period and line break that end them; empty when it has none.
std::string systemWords(DWORD code, LANGID language) {
    wchar_t* buffer = nullptr;
    const DWORD length =
        ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                         nullptr, code, language, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    if (length == 0 || buffer == nullptr) return {};
    std::wstring words(buffer, length);
    ::LocalFree(buffer);
    while (!words.empty() &&
           (words.back() == L'\r' || words.back() == L'\n' || words.back() == L' ' || words.back() == L'.'))
        words.pop_back();
    return utf8Text(words);
}

class WindowsCategory final : public std::error_category {
public:
    const char* name() const noexcept override { return "windows"; }

    // The system's Spanish words: those of the user's language when it is Spanish, else those of a Spanish
    // language pack installed, else ours.
    std::string message(int value) const override {
        const auto code = static_cast<DWORD>(value);
        if (PRIMARYLANGID(::GetUserDefaultUILanguage()) == LANG_SPANISH)
            if (std::string words = systemWords(code, 0); !words.empty()) return words;
        for (const WORD sublanguage : {SUBLANG_SPANISH_MODERN, SUBLANG_SPANISH_MEXICAN, SUBLANG_SPANISH})
            if (std::string words = systemWords(code, MAKELANGID(LANG_SPANISH, sublanguage)); !words.empty())
                return words;
        if (const char* words = ownWords(code)) return words;
        return "error " + std::to_string(code) + " del sistema";
    }

    std::error_condition default_error_condition(int value) const noexcept override {
        switch (static_cast<DWORD>(value)) {
            case ERROR_FILE_NOT_FOUND:
            case ERROR_PATH_NOT_FOUND:
            case ERROR_INVALID_DRIVE:
            case ERROR_BAD_NETPATH:
            case ERROR_BAD_NET_NAME: return std::errc::no_such_file_or_directory;
            case ERROR_ACCESS_DENIED:
            case ERROR_NETWORK_ACCESS_DENIED: return std::errc::permission_denied;
            case ERROR_NOT_ENOUGH_MEMORY:
            case ERROR_OUTOFMEMORY: return std::errc::not_enough_memory;
            case ERROR_HANDLE_DISK_FULL:
            case ERROR_DISK_FULL: return std::errc::no_space_on_device;
            case ERROR_NOT_SUPPORTED: return std::errc::not_supported;
            case ERROR_FILE_EXISTS:
            case ERROR_ALREADY_EXISTS: return std::errc::file_exists;
            case ERROR_INVALID_PARAMETER: return std::errc::invalid_argument;
            case ERROR_DIR_NOT_EMPTY: return std::errc::directory_not_empty;
            case ERROR_FILENAME_EXCED_RANGE: return std::errc::filename_too_long;
            case ERROR_DIRECTORY: return std::errc::not_a_directory;
            case ERROR_SHARING_VIOLATION:
            case ERROR_LOCK_VIOLATION: return std::errc::device_or_resource_busy;
            default: return std::error_condition(value, *this);
        }
    }
};

}  // namespace

const std::error_category& windowsCategory() {
    static const WindowsCategory category;
    return category;
}

void throwLastError(const char* step) { throwWindowsError(::GetLastError(), step); }

void throwWindowsError(unsigned long code, const char* step) {
    throw std::system_error(static_cast<int>(code), windowsCategory(), step);
}
