#pragma once

#include <string>
#include <string_view>

// The English the program once showed its users (descriptions of errors, of damage, of files that could not be
// written): the first of those words found in `text`, or an empty string. Every text a user reads is Spanish.
std::string oldEnglishIn(std::string_view text);
