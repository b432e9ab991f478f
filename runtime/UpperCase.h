#pragma once

// The capital of one code point, one character for one, over all of Unicode (15.0): a lowercase or titlecase
// letter's simple uppercase mapping ("ñ" gives "Ñ", "ǅ" gives "Ǆ"), and the code point itself for everything else,
// also for a letter whose capital is several characters ("ß", "ﬁ") and for a character that is no letter ("ⓐ").
// It is exactly what GLib 2.74's g_unichar_toupper gives, which the exported names were upper-cased with before the
// program had a table of its own (scripts/make-text-folding.py writes it).
char32_t upperCase(char32_t cp) noexcept;
