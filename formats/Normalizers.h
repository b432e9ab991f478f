#pragma once

#include <string>
#include <string_view>

// Each normaliser also comes in a form that appends its result to `out`.
//
// Trims the blanks at both ends, then turns every ";", "," and "." into a blank.
std::string Limpiar_Texto(std::string_view text);
void appendLimpiarTexto(std::string& out, std::string_view text);
// Turns every ";", "," and "." of `text` from position `from` on into a blank.
void blankSeparators(std::string& text, std::size_t from);

// Trims the blanks at both ends, then removes every "-".
std::string Quitar_Guiones(std::string_view text);
void appendQuitarGuiones(std::string& out, std::string_view text);

// An amount as its whole part, `G_SD` and two digits of hundredths, all from one rounding of amount × 100 (ties
// to even): 1234.5 gives "1234,50" with ",", "123450" with the empty separator; -0.07 gives "-0,07". Raises
// Overflow (6) for an amount whose hundredths do not fit 64 bits, or one that is not finite.
std::string Formatear_Importe(double amount, const std::string& G_SD);
void appendImporte(std::string& out, double amount, const std::string& G_SD);

// Upper case, character by character (í → Í, ñ → Ñ): a character whose capital would be several characters
// stays as it is ("ß" stays "ß", "ﬁ" stays "ﬁ"). Each byte of an invalid UTF-8 sequence becomes U+FFFD.
std::string UCase(std::string_view utf8);
void appendUCase(std::string& out, std::string_view utf8);
