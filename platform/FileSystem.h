#pragma once

#include <string>
#include <string_view>

// The runtime's file-system services. Paths are UTF-8; on Windows either separator may be used.
namespace FileSystem {
// The folder holding the program file, without a trailing separator.
std::string executableFolder();
// True when `path` names an existing file or folder, false when it names nothing (also when a folder on its way
// is missing or is an ordinary file). A test that cannot be made (a folder that cannot be searched, a loop of
// links, a name too long, an I/O error) raises RuntimeError.
bool exists(const std::string& path);
// True when `path` names an existing folder (or a link to one); false otherwise, also when that cannot be known.
bool isFolder(const std::string& path);
// Creates one folder whose parent exists; raises RuntimeError when it cannot.
void MkDir(const std::string& path);

// `folder` without the separators that end it, a root folder ("/", "C:\") left as it is.
std::string withoutTrailingSeparators(std::string folder);
// The path of `name` in `folder`, joined by the system's separator unless `folder` ends in one.
std::string childPath(const std::string& folder, const std::string& name);
// `folder`, the system's separator ("/" on Linux, "\" on Windows) and `name`, joined as they are: a folder that
// ends in a separator gets another, as the program has always joined its folder and its files' names.
std::string joinPath(const std::string& folder, const std::string& name);

// Whether the system takes `name` as it is as the name of a file in a folder: a name it would read as another
// folder, another file, a stream of a file or a device is refused (platform/FileNames.h tells each system's rule).
bool isFileName(std::string_view name) noexcept;
}  // namespace FileSystem
