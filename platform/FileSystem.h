#pragma once

#include <string>

// The runtime's file-system services.
namespace FileSystem {
// The folder holding the program file, without a trailing separator.
std::string executableFolder();
// True when `path` names an existing file or folder, false when it names nothing. A test that cannot be made
// (a path the system rejects, a folder that cannot be searched) raises RuntimeError.
bool exists(const std::string& path);
// Creates one folder whose parent exists; raises RuntimeError when it cannot.
void MkDir(const std::string& path);
}  // namespace FileSystem
