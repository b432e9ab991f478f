#include "platform/FileSystem.h"

#include "platform/FileErrors.h"
#include "platform/FileNames.h"
#include "platform/SystemError.h"
#include "platform/windows/WideText.h"
#include "platform/windows/WindowsError.h"
#include "runtime/RuntimeError.h"

#include <windows.h>

namespace {

bool isSeparator(char c) { return c == '\\' || c == '/'; }

std::string errorText(DWORD code) {
    return systemErrorText(std::error_code(static_cast<int>(code), windowsCategory()));
}

}  // namespace

namespace FileSystem {

std::string executableFolder() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return ".";
        if (n < buffer.size()) {
            buffer.resize(n);
            break;
        }
        buffer.resize(buffer.size() * 2);
    }
    const std::string path = utf8Text(buffer);
    const std::size_t separator = path.find_last_of("\\/");
    if (separator == std::string::npos) return ".";
    // A program at the root of a drive keeps the separator: "C:" alone names the drive's current folder.
    return path.substr(0, separator == 2 && path[1] == ':' ? separator + 1 : separator);
}

bool exists(const std::string& path) {
    if (::GetFileAttributesW(wideText(path).c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    // A path that names nothing, because an entry on its way is missing or is not a folder, or its drive is
    // missing, is an answer; anything else (access denied, a name the system refuses, a server that does not answer)
    // means the test could not be made.
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_DIRECTORY ||
        error == ERROR_INVALID_DRIVE)
        return false;
    throw FileErrors::cannotTest(path, errorText(error));
}

bool isFolder(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesW(wideText(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

void MkDir(const std::string& path) {
    if (::CreateDirectoryW(wideText(path).c_str(), nullptr)) return;
    const DWORD error = ::GetLastError();
    // The folder that should hold it is missing: named, as Linux names it, rather than "the path was not found".
    const std::string trimmed = withoutTrailingSeparators(path);
    const std::size_t separator = trimmed.find_last_of("\\/");
    if (error == ERROR_PATH_NOT_FOUND && separator != std::string::npos && separator > 0 &&
        !(separator == 2 && trimmed[1] == ':'))
        throw FileErrors::cannotCreateFolder(
            path, "no existe la carpeta " + trimmed.substr(0, separator) + ", que la contiene");
    throw FileErrors::cannotCreateFolder(path, errorText(error));
}

std::string withoutTrailingSeparators(std::string folder) {
    // "C:\" is the drive's root, "C:" its current folder: the root keeps its separator.
    const auto isDriveRoot = [&] { return folder.size() == 3 && folder[1] == ':'; };
    while (folder.size() > 1 && isSeparator(folder.back()) && !isDriveRoot()) folder.pop_back();
    return folder;
}

std::string childPath(const std::string& folder, const std::string& name) {
    return !folder.empty() && isSeparator(folder.back()) ? folder + name : folder + "\\" + name;
}

std::string joinPath(const std::string& folder, const std::string& name) { return folder + "\\" + name; }

bool isFileName(std::string_view name) noexcept { return FileNames::windowsTakes(name); }

}  // namespace FileSystem
