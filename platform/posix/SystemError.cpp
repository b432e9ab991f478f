#include "platform/SystemError.h"

#include "runtime/ErrnoText.h"

// The platform raises errno values in the generic category, whose words are the C library's, in English: ours are
// Spanish.
std::string systemErrorText(const std::error_code& code) {
    if (code.category() == std::generic_category() || code.category() == std::system_category())
        return errnoText(code.value());
    return code.message();
}
