#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Each normaliser comes in three forms: one that returns its result, one that appends it to `out`, and one that
// writes it at `out`, which has room for it (a line being built), and returns where it ends.
//
// Trims the blanks at both ends, then turns every ";", "," and "." into a blank. Room: the text's size.
std::string Limpiar_Texto(std::string_view text);
void appendLimpiarTexto(std::string& out, std::string_view text);
char* writeLimpiarTexto(char* out, std::string_view text);
// Turns every ";", "," and "." in [from, to) into a blank.
void blankSeparators(char* from, char* to);

// Trims the blanks at both ends, then removes every "-". Room: the text's size.
std::string Quitar_Guiones(std::string_view text);
void appendQuitarGuiones(std::string& out, std::string_view text);
char* writeQuitarGuiones(char* out, std::string_view text);

// An amount as its whole part, `G_SD` and two digits of hundredths, all from one rounding of amount × 100 (ties
// to even): 1234.5 gives "1234,50" with ",", "123450" with the empty separator; -0.07 gives "-0,07". Raises
// Overflow (6) for an amount whose hundredths do not fit 64 bits, or one that is not finite. Room: kImporteMax and
// the separator's size.
inline constexpr std::size_t kImporteMax = 24;
// The amount in whole hundredths, as the forms above round it; raises what they raise.
double hundredthsOf(double amount);
std::string Formatear_Importe(double amount, const std::string& G_SD);
void appendImporte(std::string& out, double amount, const std::string& G_SD);
char* writeImporte(char* out, double amount, std::string_view G_SD);

// Upper case, character by character (í → Í, ñ → Ñ): a character whose capital would be several characters
// stays as it is ("ß" stays "ß", "ﬁ" stays "ﬁ"). Each byte of an invalid UTF-8 sequence becomes U+FFFD. Room: three
// times the text's size.
std::string UCase(std::string_view utf8);
void appendUCase(std::string& out, std::string_view utf8);
char* writeUCase(char* out, std::string_view utf8);
