#pragma once

#include <string_view>

// Which names each system takes as the name of one file in a folder, as it is given (UTF-8). Both rules are built on
// both systems, so that each can be tested anywhere; FileSystem::isFileName applies the running system's.
namespace FileNames {

// Linux: any name without a "/" (which would name a file in another folder) or a NUL (which would end it).
bool linuxTakes(std::string_view name) noexcept;

// Windows refuses, or reads as something else, much more: "\" and "/" (another folder), ":" (a drive, or an NTFS
// stream of another file), "*" "?" """ "<" ">" "|" (patterns and redirections), the control characters, a name
// that ends in a dot or a blank (Windows drops them, naming another file), and the names of its devices (CON, PRN,
// AUX, NUL, COM0 to COM9, LPT0 to LPT9, CONIN$, CONOUT$, and COM¹ to COM³, LPT¹ to LPT³), alone or followed by an
// extension or blanks (CON.txt and "NUL .csv" name the devices too), in any case. The empty name is no name.
bool windowsTakes(std::string_view name) noexcept;

}  // namespace FileNames
