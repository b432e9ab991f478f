#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The program keeps text as UTF-8. These are its conversions to and from the other encodings it meets: UTF-16
// (Jet 4 files, workbook cells), Windows-1252 (Jet 3 files, the agency's output files).

// Decodes the UTF-8 sequence at `pos` into `cp` and advances `pos` past it. An invalid sequence (a stray or
// missing continuation byte, an overlong form, a surrogate, a code point beyond U+10FFFF, a sequence cut short)
// returns false and advances `pos` past its lead byte and the continuation bytes that follow it, at most as many
// as the lead announced: at least one byte. `pos` must be inside `s`.
bool decodeUtf8(std::string_view s, std::size_t& pos, char32_t& cp);

// Appends the UTF-8 form of the code point `cp` (at most U+10FFFF).
void appendUtf8(std::string& out, char32_t cp);
// Writes it at `out`, which has room for four bytes; returns where it ends.
char* writeUtf8(char* out, char32_t cp);

// Appends `units` UTF-16LE code units read from `bytes` as UTF-8; a lone surrogate becomes U+FFFD.
void appendUtf8FromUtf16le(std::string& out, const unsigned char* bytes, std::size_t units);
void appendUtf8FromUtf16(std::string& out, std::u16string_view units);

// Appends Windows-1252 bytes as UTF-8; the five bytes the code page leaves undefined become U+FFFD.
void appendUtf8FromWindows1252(std::string& out, const unsigned char* bytes, std::size_t size);

// The UTF-8 text in the Windows-1252 code page, one byte per character, as the output files are written. A
// character the code page lacks becomes "?", and so does every byte of an invalid UTF-8 sequence.
std::string toWindows1252(std::string_view utf8);
void appendWindows1252(std::string& bytes, std::string_view utf8);

// The UTF-16 form of UTF-8 text; each invalid sequence becomes one U+FFFD.
std::u16string utf16FromUtf8(std::string_view utf8);
