#pragma once

#include "runtime/RuntimeError.h"

#include <string>

// The program's words, in Spanish, for a file or folder it could not use, each followed by the system's reason
// (systemErrorText). All are file errors (75).
namespace FileErrors {
RuntimeError cannotTest(const std::string& path, const std::string& reason);
RuntimeError cannotCreateFolder(const std::string& folder, const std::string& reason);
RuntimeError cannotCreateFile(const std::string& file, const std::string& reason);
RuntimeError cannotWriteFile(const std::string& file, const std::string& reason);
RuntimeError cannotReplaceFile(const std::string& file, const std::string& reason);
}  // namespace FileErrors
