#pragma once

#include <string>
#include <string_view>

// Windows takes text, and paths, in UTF-16; the program keeps them in UTF-8. Every call of the system converts them
// here, so that a name of any script (C:\Users\Muñoz\Documents) reaches it whole, whatever the ANSI code page.

// The UTF-16 form of UTF-8 text; each invalid sequence becomes one U+FFFD.
std::wstring wideText(std::string_view utf8);
// The UTF-8 form of UTF-16 text; a lone surrogate becomes U+FFFD.
std::string utf8Text(std::wstring_view wide);
