#include "platform/WorkingFolder.h"

#include "platform/FileSystem.h"
#include "runtime/RuntimeError.h"

std::string workingFolder(const std::string& executableFolder, const std::string& home, const std::string& named) {
    if (!named.empty()) return FileSystem::withoutTrailingSeparators(named);
    if (FileSystem::exists(FileSystem::childPath(executableFolder, "Impuest.mdb"))) return executableFolder;
    if (home.empty()) throw RuntimeError(RuntimeError::FileError, "No se encuentra la carpeta personal del usuario");
    const std::string folder = FileSystem::childPath(FileSystem::withoutTrailingSeparators(home), "Velmora");
    if (!FileSystem::exists(folder)) FileSystem::MkDir(folder);
    return folder;
}
