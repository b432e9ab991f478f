#pragma once

#include <system_error>

// The system's error codes (GetLastError) as std::error_code: their words are Spanish (platform/SystemError.h), and
// the common ones compare equal to their std::errc (ERROR_FILE_NOT_FOUND to no_such_file_or_directory,
// ERROR_DISK_FULL to no_space_on_device...).
const std::error_category& windowsCategory();

// Raises std::system_error for the calling thread's last error (GetLastError), `step` naming what failed.
[[noreturn]] void throwLastError(const char* step);
// Raises std::system_error for the error `code` of the system.
[[noreturn]] void throwWindowsError(unsigned long code, const char* step);
