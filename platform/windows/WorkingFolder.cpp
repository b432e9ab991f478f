#include "platform/WorkingFolder.h"

#include "platform/windows/WideText.h"

#include <windows.h>

#include <knownfolders.h>
#include <shlobj.h>

std::string homeFolder() {
    wchar_t* documents = nullptr;
    std::string folder;
    // The Documents folder where it really is: users and administrators move it (to another drive, to a server).
    if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_Documents, KF_FLAG_DEFAULT, nullptr, &documents)))
        folder = utf8Text(documents);
    ::CoTaskMemFree(documents);
    return folder;
}

std::string homeVelmoraShown() { return "%USERPROFILE%\\Documents\\Velmora"; }
