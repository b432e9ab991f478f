#include "platform/SystemError.h"

// The platform raises errno values in the generic category, whose words are strerror's.
std::string systemErrorText(const std::error_code& code) { return code.message(); }
