#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The text without the blanks at both ends: the space character only, as the runtime's Trim; tabs and line
// breaks stay.
std::string_view trimBlanks(std::string_view text);

// How many characters a UTF-8 text holds: its bytes less the continuation bytes.
std::size_t characterCount(std::string_view utf8);

// The first `count` characters (not bytes) of a UTF-8 text, or all of it when it holds fewer.
std::string firstCharacters(std::string_view utf8, std::size_t count);
