#pragma once

#include <charconv>
#include <cstdint>
#include <string>

// The runtime's numeric test for a text: optional blanks around it, a sign, digits with an optional decimal point,
// an optional exponent. An empty text is not numeric.
bool IsNumeric(const std::string& text);

// The runtime's conversion of a text that passed IsNumeric to a Double, with "." as the decimal point whatever the
// process's locale. A text that is not numeric raises Type mismatch (13); one too large for a Double, Overflow (6).
double textToDouble(const std::string& text);

// The longest text doubleText writes: "-1.23456789012346E-308" and the like.
inline constexpr std::size_t kDoubleTextMax = 32;

// The runtime's text of a Double: up to 15 significant digits without trailing zeros, in exponent form ("1E+20",
// "1.5E-05") when the decimal exponent is 15 or more or below -4, zero without a sign. Independent of the C
// locale. Writes at most kDoubleTextMax characters at `out` and returns the end.
char* writeDouble(char* out, double value);
std::string doubleText(double value);

// Appends the decimal digits of `value`, with a "-" when negative, as std::to_string writes them.
inline void appendInteger(std::string& out, std::int64_t value) {
    char digits[24];
    out.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
}
