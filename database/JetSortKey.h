#pragma once

#include <string>
#include <string_view>

// The key Access writes for `utf8` in an ascending index on a Text column of a Jet 4 file made with the General sort
// order (the header's sort order 1033, version 0), without the flag byte 0x7F ("not Null") the index puts before
// it. Comparing two keys as unsigned byte strings, a key that is a prefix of another first, orders their texts as
// Access orders them; texts with equal keys are equal in that order.
//
// What the key holds, level by level:
// - a code per character: case does not count; an accented letter takes its plain letter's code; punctuation and
//   symbols come before digits, digits before letters; the hyphen, the apostrophe and the control characters have
//   no code here, and a few characters (U+0000, some format characters) have nothing anywhere;
// - after the end marker 0x01, each accented character's mark, by position (trailing unmarked positions left out);
// - then, after three more 0x01, the characters without a code at the first level, with their positions;
// - the end marker 0x00.
// Trailing blanks (U+0020) count for nothing, and only the first 255 UTF-16 units of a text take part in its key, as
// in Access's indexes. Characters known here: U+0000 to U+017F, General Punctuation (U+2000 to U+206F) and the
// Windows-1252 characters outside them (ƒ ˆ ˜ € ™). Any other character sorts after every Latin letter and among
// the others by its code point (Access also puts other scripts after Latin, in an order of its own); a byte that is
// not UTF-8 counts as U+FFFD.
std::string jetGeneralSortKey(std::string_view utf8);
