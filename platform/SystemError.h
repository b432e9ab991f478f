#pragma once

#include <string>
#include <system_error>

// The system's words for an error that one of its calls reported (the code of a std::system_error that the platform
// raised), in Spanish, as a message shows them after the operation and the object: ours for the C library's errors
// (errnoText); on Windows the system's own in Spanish where it has them, else ours. Never empty.
std::string systemErrorText(const std::error_code& code);
