#pragma once

#include <string>
#include <string_view>

// Case folding and accent removal over all of Unicode (15.0), the ground of the program's order of text. Both give
// exactly what GLib 2.74's g_utf8_casefold (and g_utf8_normalize to NFD, less every mark) gives for valid UTF-8,
// which the order followed when it was built on GLib; the tables come from scripts/make-text-folding.py.
//
// A NUL ends the text: what follows it is not appended, as it never counted in the order. A malformed UTF-8
// sequence (a stray continuation byte, a sequence cut short, an overlong form, an encoded surrogate) is appended as
// its bytes, unchanged; the program's texts never hold one except from a command line's arguments.

// Appends `text` case folded (full folding: "Straße" and "STRASSE" both give "strasse").
void appendFolded(std::string& out, std::string_view text);

// Appends `text` case folded, then decomposed with its marks dropped: "Ñandú" gives "nandu", "Ǻ" gives "a"; a Hangul
// syllable gives its jamo.
void appendFoldedWithoutMarks(std::string& out, std::string_view text);
