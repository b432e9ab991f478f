#include "platform/FileSystem.h"

#include "platform/FileErrors.h"
#include "platform/FileNames.h"
#include "runtime/ErrnoText.h"

#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

namespace FileSystem {

std::string executableFolder() {
    std::string buffer(4096, '\0');
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (n <= 0) return ".";
    buffer.resize(static_cast<std::size_t>(n));
    const std::size_t slash = buffer.rfind('/');
    return slash == 0 ? std::string("/") : buffer.substr(0, slash);
}

bool exists(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) return true;
    // A path that names nothing, because an entry on its way is missing or is not a folder, is an answer; anything
    // else (a folder that cannot be searched, a loop of links, a name too long, an I/O error) means the test could
    // not be made.
    if (errno == ENOENT || errno == ENOTDIR) return false;
    throw FileErrors::cannotTest(path, errnoText(errno));
}

bool isFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void MkDir(const std::string& path) {
    if (::mkdir(path.c_str(), 0777) == 0) return;
    const int error = errno;
    // When the folder it goes in is missing, that is what the user must see to.
    const std::size_t slash = withoutTrailingSeparators(path).rfind('/');
    if (error == ENOENT && slash != std::string::npos && slash != 0)
        throw FileErrors::cannotCreateFolder(path,
                                             "no existe la carpeta " + path.substr(0, slash) + ", que la contiene");
    throw FileErrors::cannotCreateFolder(path, errnoText(error));
}

std::string withoutTrailingSeparators(std::string folder) {
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
}

std::string childPath(const std::string& folder, const std::string& name) {
    return folder.ends_with('/') ? folder + name : folder + "/" + name;
}

std::string joinPath(const std::string& folder, const std::string& name) { return folder + "/" + name; }

bool isFileName(std::string_view name) noexcept { return FileNames::linuxTakes(name); }

}  // namespace FileSystem
