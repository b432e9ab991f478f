#pragma once

#include <string>

// The runtime's file-system services.
namespace FileSystem {
// The folder holding the program file, without a trailing separator.
std::string executableFolder();
// True when `path` names an existing file or folder, false when it names nothing (also when a folder on its way
// is missing or is an ordinary file). A test that cannot be made (a folder that cannot be searched, a loop of
// links, a name too long, an I/O error) raises RuntimeError.
bool exists(const std::string& path);
// Creates one folder whose parent exists; raises RuntimeError when it cannot.
void MkDir(const std::string& path);
}  // namespace FileSystem
