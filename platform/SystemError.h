#pragma once

#include <string>
#include <system_error>

// The system's words for an error that one of its calls reported (the code of a std::system_error that the platform
// raised), as a message shows them after the operation and the object: the C library's on Linux (strerror); on
// Windows the system's own in Spanish where it has them, else words of our own in Spanish, never empty.
std::string systemErrorText(const std::error_code& code);
