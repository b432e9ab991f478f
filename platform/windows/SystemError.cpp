#include "platform/SystemError.h"

#include "platform/windows/WindowsError.h"

namespace {

// The C library's errors the platform raises itself (a folder where a file was to be written, a stream's failure),
// whose words in the C library are English.
const char* errnoWords(const std::error_code& code) {
    if (code == std::errc::is_a_directory) return "es una carpeta";
    if (code == std::errc::not_a_directory) return "no es una carpeta";
    if (code == std::errc::no_such_file_or_directory) return "no existe el archivo o la carpeta";
    if (code == std::errc::permission_denied) return "permiso denegado";
    if (code == std::errc::file_exists) return "el archivo ya existe";
    if (code == std::errc::no_space_on_device) return "no queda espacio en el disco";
    if (code == std::errc::file_too_large) return "el archivo es demasiado grande";
    if (code == std::errc::not_enough_memory) return "no hay memoria suficiente";
    if (code == std::errc::bad_file_descriptor) return "el archivo no está abierto";
    if (code == std::errc::not_supported) return "la operación no se admite";
    if (code == std::errc::io_error) return "error de entrada o salida";
    return nullptr;
}

}  // namespace

std::string systemErrorText(const std::error_code& code) {
    if (code.category() == windowsCategory()) return code.message();
    if (code.category() == std::generic_category())
        if (const char* words = errnoWords(code)) return words;
    return "error " + std::to_string(code.value()) + " (" + code.category().name() + ")";
}
