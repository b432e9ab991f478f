#pragma once

#include <string>
#include <string_view>

// The UTF-8 text in the Windows-1252 code page, one byte per character, as the output files are written. A
// character the code page lacks becomes "?", and so does every byte that is not part of valid UTF-8.
std::string toWindows1252(std::string_view utf8);
// The same, appended to `bytes`.
void appendWindows1252(std::string& bytes, std::string_view utf8);
