#pragma once

#include <string>

// The working folder: where the program reads Impuest.mdb and creates RET-PERC.
//
// `named` (a --dir option) when it is not empty, as given and never created; otherwise `executableFolder` when it
// holds Impuest.mdb, so that a copy run from a folder of its own works there as it always has; otherwise the folder
// Velmora in `home` (homeFolder()), created when missing (an installed program's executable has a system folder of
// its own). The answer has no trailing separator, unless it is a root folder. Raises RuntimeError when a test of the file system cannot be made, when `home`
// is empty, or when the folder Velmora cannot be created.
std::string workingFolder(const std::string& executableFolder, const std::string& home, const std::string& named);

// The user's folder that holds the program's own: on Linux the home folder ($HOME, or the user database's entry when
// HOME is unset or empty); on Windows the user's Documents folder, where Windows users keep their files. Empty when
// none is known.
std::string homeFolder();

// The folder Velmora of homeFolder() as a person names it in a command: "~/Velmora" on Linux,
// "%USERPROFILE%\Documents\Velmora" on Windows (as cmd names the user's folder).
std::string homeVelmoraShown();
