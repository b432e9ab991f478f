#include "platform/WorkingFolder.h"

#include "platform/FileSystem.h"
#include "runtime/RuntimeError.h"

#include <pwd.h>
#include <unistd.h>
#include <cstdlib>
#include <vector>

namespace {

std::string withoutTrailingSeparators(std::string folder) {
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
}

}  // namespace

std::string workingFolder(const std::string& executableFolder, const std::string& home, const std::string& named) {
    if (!named.empty()) return withoutTrailingSeparators(named);
    if (FileSystem::exists(executableFolder + "/Impuest.mdb")) return executableFolder;
    if (home.empty()) throw RuntimeError(RuntimeError::FileError, "cannot find the user's home folder");
    const std::string base = withoutTrailingSeparators(home);
    const std::string folder = (base == "/" ? "" : base) + "/Velmora";
    if (!FileSystem::exists(folder)) FileSystem::MkDir(folder);
    return folder;
}

std::string homeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
    const long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr ||
        found->pw_dir == nullptr)
        return {};
    return found->pw_dir;
}
