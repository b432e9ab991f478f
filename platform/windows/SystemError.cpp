#include "platform/SystemError.h"

#include "platform/windows/WindowsError.h"
#include "runtime/ErrnoText.h"

std::string systemErrorText(const std::error_code& code) {
    if (code.category() == windowsCategory()) return code.message();
    // The C library's errors the platform raises itself (a folder where a file was to be written, a stream's
    // failure), whose words in the C library are English.
    if (code.category() == std::generic_category()) return errnoText(code.value());
    return "error " + std::to_string(code.value()) + " (" + code.category().name() + ")";
}
