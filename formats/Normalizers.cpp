#include "formats/Normalizers.h"

#include "runtime/RuntimeError.h"
#include "runtime/TextCodecs.h"
#include "runtime/UpperCase.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

// Appends what `write` writes at most `room` bytes of.
template <typename Write>
void appendWritten(std::string& out, std::size_t room, Write write) {
    const std::size_t start = out.size();
    out.resize(start + room);
    out.resize(std::size_t(write(out.data() + start) - out.data()));
}

// ',' '.' and ';' are 0x2C, 0x2E and 0x3B: bits 0, 2 and 15 counted from ','.
bool isSeparator(char c) {
    const unsigned offset = static_cast<unsigned char>(c) - 0x2Cu;
    return offset < 16 && (0x8005u >> offset & 1u);
}

// Writes the decimal digits of `value` at `out`; returns where they end.
char* writeDigits(char* out, std::uint64_t value) {
    if (value < 10) {
        *out = static_cast<char>('0' + value);
        return out + 1;
    }
    return std::to_chars(out, out + 20, value).ptr;
}

// `value` rounded to a whole number, a tie to the even neighbour, in the default rounding mode.
double roundToEven(double value) {
    if (!(std::fabs(value) < 0x1p52)) return value;  // already whole, or not finite
    volatile double shifted = value < 0 ? value - 0x1p52 : value + 0x1p52;
    const double rounded = value < 0 ? shifted + 0x1p52 : shifted - 0x1p52;
    // -0.4 rounds to -0: the sign stays, as nearbyint keeps it.
    return rounded == 0 ? std::copysign(0.0, value) : rounded;
}

// The text without the blanks at both ends.
std::string_view trimmed(std::string_view text) {
    const char* first = text.data();
    const char* last = first + text.size();
    while (first != last && *first == ' ') ++first;
    while (last != first && last[-1] == ' ') --last;
    return std::string_view(first, std::size_t(last - first));
}

constexpr std::uint64_t kHighBits = 0x8080808080808080u;
constexpr std::uint64_t kOnes = 0x0101010101010101u;

// Upper case of the texts agents' names are made of, without a table: ASCII letters, and the Latin-1 letters
// à to þ (two bytes, C3 A0 to C3 BE but for ÷), whose capitals are 32 code points below. Writes at `out` and
// returns where it ends, or returns null for anything else, having written part of the text.
char* upperLatin1(char* out, std::string_view utf8) {
    const char* in = utf8.data();
    const char* const end = in + utf8.size();
    while (in != end) {
        // Eight ASCII bytes at a time: a byte from 'a' to 'z' loses its 0x20 bit.
        for (std::uint64_t word; end - in >= 8; in += 8, out += 8) {
            std::memcpy(&word, in, 8);
            if (word & kHighBits) break;
            const std::uint64_t fromA = word + (0x80 - 'a') * kOnes;
            const std::uint64_t pastZ = word + (0x80 - 'z' - 1) * kOnes;
            word ^= (fromA & ~pastZ & kHighBits) >> 2;
            std::memcpy(out, &word, 8);
        }
        if (in == end) break;
        const auto c = static_cast<unsigned char>(*in);
        if (c < 0x80) {
            *out++ = static_cast<char>(unsigned(c) - 'a' < 26u ? c - 32 : c);
            ++in;
            continue;
        }
        if (c != 0xC3 || in + 1 == end) return nullptr;
        const auto next = static_cast<unsigned char>(in[1]);
        if (next >= 0x80 && next <= 0x9E)
            out[1] = static_cast<char>(next);
        else if (next >= 0xA0 && next <= 0xBE && next != 0xB7)
            out[1] = static_cast<char>(next - 0x20);
        else
            return nullptr;
        out[0] = static_cast<char>(c);
        out += 2;
        in += 2;
    }
    return out;
}

}  // namespace

void blankSeparators(char* from, char* to) {
    // Words of eight bytes without any of the three are passed over.
    const auto has = [](std::uint64_t word, char c) {
        const std::uint64_t x = word ^ (static_cast<unsigned char>(c) * kOnes);
        return (x - kOnes) & ~x & kHighBits;
    };
    for (std::uint64_t word; to - from >= 8; from += 8) {
        std::memcpy(&word, from, 8);
        if (has(word, ',') | has(word, '.') | has(word, ';')) break;
    }
    for (; from != to; ++from)
        if (isSeparator(*from)) *from = ' ';
}

char* writeLimpiarTexto(char* out, std::string_view text) {
    for (const char c : trimmed(text)) *out++ = isSeparator(c) ? ' ' : c;
    return out;
}

void appendLimpiarTexto(std::string& out, std::string_view text) {
    appendWritten(out, text.size(), [&](char* at) { return writeLimpiarTexto(at, text); });
}

std::string Limpiar_Texto(std::string_view text) {
    std::string cleaned;
    appendLimpiarTexto(cleaned, text);
    return cleaned;
}

char* writeQuitarGuiones(char* out, std::string_view text) {
    for (const char c : trimmed(text)) {
        *out = c;
        out += c != '-';
    }
    return out;
}

void appendQuitarGuiones(std::string& out, std::string_view text) {
    appendWritten(out, text.size(), [&](char* at) { return writeQuitarGuiones(at, text); });
}

std::string Quitar_Guiones(std::string_view text) {
    std::string stripped;
    appendQuitarGuiones(stripped, text);
    return stripped;
}

double hundredthsOf(double amount) {
    // The product is rounded to a double before it is rounded to whole hundredths: 12.345 * 100.0 is exactly
    // 1234.5 and becomes 1234. volatile keeps the compiler from carrying it in wider precision.
    volatile double product = amount * 100.0;
    // Rounded to whole hundredths, a tie to the even neighbour: adding 2^52 leaves no bits for a fraction, and the
    // sum is rounded as the default rounding mode rounds (nearbyint's rounding, without its call).
    const double hundredths = roundToEven(product);
    if (!(hundredths >= -0x1p63 && hundredths < 0x1p63)) throw RuntimeError::overflow();  // NaN and inf too
    return hundredths;
}

char* writeImporte(char* out, double amount, std::string_view G_SD) {
    const double hundredths = hundredthsOf(amount);
    // |hundredths| is at most 2^63, which still fits the unsigned type.
    const auto magnitude = static_cast<std::uint64_t>(std::fabs(hundredths));
    const auto cents = static_cast<unsigned>(magnitude % 100);
    if (hundredths < 0) *out++ = '-';
    out = writeDigits(out, magnitude / 100);
    for (const char c : G_SD) *out++ = c;
    *out++ = static_cast<char>('0' + cents / 10);
    *out++ = static_cast<char>('0' + cents % 10);
    return out;
}

void appendImporte(std::string& out, double amount, const std::string& G_SD) {
    appendWritten(out, kImporteMax + G_SD.size(), [&](char* at) { return writeImporte(at, amount, G_SD); });
}

std::string Formatear_Importe(double amount, const std::string& G_SD) {
    std::string text;
    appendImporte(text, amount, G_SD);
    return text;
}

char* writeUCase(char* out, std::string_view utf8) {
    if (char* end = upperLatin1(out, utf8)) return end;
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        const std::size_t from = pos;
        char32_t cp;
        if (!decodeUtf8(utf8, pos, cp)) {
            for (std::size_t i = from; i < pos; ++i) out = writeUtf8(out, 0xFFFD);
            continue;
        }
        // The simple case mapping: one character for one. A capital of several characters (ß → SS) is the full
        // mapping, which the upper-casing the agency's files were made with does not apply.
        out = writeUtf8(out, upperCase(cp));
    }
    return out;
}

void appendUCase(std::string& out, std::string_view utf8) {
    appendWritten(out, 3 * utf8.size(), [&](char* at) { return writeUCase(at, utf8); });
}

std::string UCase(std::string_view utf8) {
    std::string upper;
    appendUCase(upper, utf8);
    return upper;
}
