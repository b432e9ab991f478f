#pragma once

#include "runtime/RuntimeError.h"

#include <string>

// Raises the run-time error of a Jet file that is not what it says it is (a page number, offset, length or chain
// out of bounds): it names the table being read, the file and what is wrong.
[[noreturn]] void throwDamaged(const std::string& path, const std::string& table, const std::string& what);

// The run-time error of a file that changed while it was being read (DatabaseChanged): what was read may mix two
// states of the file, so the reading is to be made again.
RuntimeError fileChanged(const std::string& path);
