#include "platform/FileNames.h"

#include <algorithm>
#include <array>

namespace {

bool sameLetters(std::string_view a, std::string_view b) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    return std::ranges::equal(a, b, [&](char x, char y) { return lower(x) == lower(y); });
}

// Whether `stem` (a name up to its first dot, its trailing blanks dropped) is one of the devices Windows keeps its
// names for.
bool isDevice(std::string_view stem) {
    static constexpr std::array<std::string_view, 6> kNamed = {"con", "prn", "aux", "nul", "conin$", "conout$"};
    if (std::ranges::any_of(kNamed, [&](std::string_view device) { return sameLetters(stem, device); })) return true;
    if (stem.size() < 4 || !(sameLetters(stem.substr(0, 3), "com") || sameLetters(stem.substr(0, 3), "lpt")))
        return false;
    const std::string_view number = stem.substr(3);
    // A digit, or a superscript one, two or three (UTF-8 C2 B9, C2 B2, C2 B3), which Windows reads as the digits.
    return (number.size() == 1 && number[0] >= '0' && number[0] <= '9') || number == "\xC2\xB9" ||
           number == "\xC2\xB2" || number == "\xC2\xB3";
}

}  // namespace

namespace FileNames {

bool linuxTakes(std::string_view name) noexcept { return name.find_first_of(std::string_view("/\0", 2)) == name.npos; }

bool windowsTakes(std::string_view name) noexcept {
    if (name.empty() || name.back() == '.' || name.back() == ' ') return false;
    for (const char c : name)
        if (static_cast<unsigned char>(c) < 0x20 || std::string_view("\\/:*?\"<>|").find(c) != std::string_view::npos)
            return false;
    std::string_view stem = name.substr(0, name.find('.'));
    while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
    return !isDevice(stem);
}

}  // namespace FileNames
