#include "runtime/Numeric.h"

#include "runtime/RuntimeError.h"
#include "runtime/Text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string_view>

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Skips a run of digits; returns how many there were.
std::size_t skipDigits(std::string_view text, std::size_t& pos) {
    const std::size_t start = pos;
    while (pos < text.size() && isDigit(text[pos])) ++pos;
    return pos - start;
}

// The number without its surrounding blanks when `text` reads as one, else the empty view.
std::string_view numericPart(std::string_view text) {
    const std::string_view number = trimBlanks(text);
    std::size_t pos = 0;
    if (pos < number.size() && (number[pos] == '+' || number[pos] == '-')) ++pos;
    std::size_t digits = skipDigits(number, pos);
    if (pos < number.size() && number[pos] == '.') {
        ++pos;
        digits += skipDigits(number, pos);
    }
    if (digits == 0) return {};
    if (pos < number.size() && (number[pos] == 'e' || number[pos] == 'E')) {
        ++pos;
        if (pos < number.size() && (number[pos] == '+' || number[pos] == '-')) ++pos;
        if (skipDigits(number, pos) == 0) return {};
    }
    return pos == number.size() ? number : std::string_view();
}

// Whether a number (as numericPart gives it) that does not fit a Double is too large rather than too small: its
// first significant digit stands at a positive power of ten.
bool tooLarge(std::string_view number) {
    std::size_t pos = number[0] == '+' || number[0] == '-' ? 1 : 0;
    long whole = 0, zerosAfterPoint = 0;
    for (; pos < number.size() && isDigit(number[pos]); ++pos) whole += whole > 0 || number[pos] != '0';
    if (pos < number.size() && number[pos] == '.')
        for (++pos; pos < number.size() && number[pos] == '0' && whole == 0; ++pos) ++zerosAfterPoint;
    while (pos < number.size() && number[pos] != 'e' && number[pos] != 'E') ++pos;
    long exponent = 0;
    if (pos < number.size()) {
        const bool negative = number[++pos] == '-';
        pos += number[pos] == '+' || number[pos] == '-';
        for (; pos < number.size(); ++pos) exponent = std::min(exponent * 10 + (number[pos] - '0'), 1'000'000L);
        if (negative) exponent = -exponent;
    }
    return (whole > 0 ? whole + exponent : exponent - zerosAfterPoint) > 0;
}

}  // namespace

bool IsNumeric(const std::string& text) { return !numericPart(text).empty(); }

double textToDouble(const std::string& text) {
    // Whole numbers of up to fifteen digits, the periods and keys of every row, are exact as they are read here.
    if (!text.empty() && text.size() <= 15 &&
        std::all_of(text.begin(), text.end(), [](char c) { return isDigit(c); })) {
        std::int64_t whole = 0;
        for (const char c : text) whole = whole * 10 + (c - '0');
        return static_cast<double>(whole);
    }
    const std::string number(numericPart(text));
    if (number.empty()) throw RuntimeError::typeMismatch();
    // from_chars reads "." as the decimal point whatever the locale, and takes no "+".
    const char* first = number.data() + (number[0] == '+');
    double value = 0;
    if (std::from_chars(first, number.data() + number.size(), value).ec == std::errc::result_out_of_range) {
        // Too small a number reads as zero; too large a one does not fit a Double.
        if (tooLarge(number)) throw RuntimeError::overflow();
        return number[0] == '-' ? -0.0 : 0.0;
    }
    return value;
}

char* writeDouble(char* out, double value) {
    if (value == 0.0) {  // also -0, which the runtime writes without a sign
        *out = '0';
        return out + 1;
    }
    char* const end = std::to_chars(out, out + kDoubleTextMax, value, std::chars_format::general, 15).ptr;
    for (char* p = out; p != end; ++p)
        if (*p == 'e') *p = 'E';
    return end;
}

std::string doubleText(double value) {
    char buffer[kDoubleTextMax];
    return std::string(buffer, writeDouble(buffer, value));
}
