#include "formats/Normalizers.h"

#include "runtime/RuntimeError.h"
#include "runtime/Text.h"
#include "runtime/TextCodecs.h"

#include <glib.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>

void appendLimpiarTexto(std::string& out, std::string_view text) {
    const std::size_t start = out.size();
    out += trimBlanks(text);
    blankSeparators(out, start);
}

void blankSeparators(std::string& text, std::size_t from) {
    // Through plain pointers: the loop runs over every byte of the longest fields of every line.
    for (char *at = text.data() + from, *end = text.data() + text.size(); at != end; ++at) {
        // ',' '.' and ';' are 0x2C, 0x2E and 0x3B: bits 0, 2 and 15 counted from ','.
        const unsigned offset = static_cast<unsigned char>(*at) - 0x2Cu;
        if (offset < 16 && (0x8005u >> offset & 1u)) *at = ' ';
    }
}

std::string Limpiar_Texto(std::string_view text) {
    std::string cleaned;
    appendLimpiarTexto(cleaned, text);
    return cleaned;
}

void appendQuitarGuiones(std::string& out, std::string_view text) {
    // Appended whole, then the hyphens are squeezed out in place: no call per character or per hyphen.
    const std::size_t start = out.size();
    out += trimBlanks(text);
    char* to = out.data() + start;
    for (const char *from = to, *end = out.data() + out.size(); from != end; ++from) {
        *to = *from;
        to += *from != '-';
    }
    out.resize(std::size_t(to - out.data()));
}

std::string Quitar_Guiones(std::string_view text) {
    std::string stripped;
    appendQuitarGuiones(stripped, text);
    return stripped;
}

void appendImporte(std::string& out, double amount, const std::string& G_SD) {
    // The product is rounded to a double before it is rounded to whole hundredths: 12.345 * 100.0 is exactly
    // 1234.5 and becomes 1234. volatile keeps the compiler from carrying it in wider precision.
    volatile double product = amount * 100.0;
    // nearbyint in the default rounding mode takes a tie to the even neighbour.
    const double hundredths = std::nearbyint(product);
    if (!(hundredths >= -0x1p63 && hundredths < 0x1p63)) throw RuntimeError::overflow();  // NaN and inf too
    // |hundredths| is at most 2^63, which still fits the unsigned type.
    const auto magnitude = static_cast<std::uint64_t>(std::fabs(hundredths));
    const auto cents = static_cast<unsigned>(magnitude % 100);
    char whole[24];
    char* wholeEnd = std::to_chars(whole, whole + sizeof whole, magnitude / 100).ptr;
    if (hundredths < 0) out += '-';
    out.append(whole, wholeEnd);
    out += G_SD;
    out += static_cast<char>('0' + cents / 10);
    out += static_cast<char>('0' + cents % 10);
}

std::string Formatear_Importe(double amount, const std::string& G_SD) {
    std::string text;
    appendImporte(text, amount, G_SD);
    return text;
}

namespace {

// Upper case of the texts agents' names are made of, without asking GLib: ASCII letters, and the Latin-1 letters
// à to þ (two bytes, C3 A0 to C3 BE but for ÷), whose capitals are 32 code points below. Appends to `upper` and
// returns true, or returns false for anything else, having appended part of the text.
bool upperLatin1(std::string_view utf8, std::string& upper) {
    const std::size_t start = upper.size();
    upper.resize(start + utf8.size());
    char* out = upper.data() + start;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x80) {
            out[i] = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
        } else if (c == 0xC3 && i + 1 < utf8.size()) {
            const auto next = static_cast<unsigned char>(utf8[i + 1]);
            if (next >= 0x80 && next <= 0x9E) {
                out[i] = utf8[i];
                out[i + 1] = utf8[i + 1];
            } else if (next >= 0xA0 && next <= 0xBE && next != 0xB7) {
                out[i] = utf8[i];
                out[i + 1] = static_cast<char>(next - 0x20);
            } else {
                return false;
            }
            ++i;
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

void appendUCase(std::string& out, std::string_view utf8) {
    const std::size_t start = out.size();
    if (upperLatin1(utf8, out)) return;
    out.resize(start);
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        const std::size_t from = pos;
        char32_t cp;
        if (!decodeUtf8(utf8, pos, cp)) {
            for (std::size_t i = from; i < pos; ++i) appendUtf8(out, 0xFFFD);
            continue;
        }
        // The simple case mapping: one character for one. A capital of several characters (ß → SS) is the full
        // mapping, which the upper-casing the agency's files were made with does not apply.
        appendUtf8(out, static_cast<char32_t>(g_unichar_toupper(cp)));
    }
}

std::string UCase(std::string_view utf8) {
    std::string upper;
    upper.reserve(utf8.size());
    appendUCase(upper, utf8);
    return upper;
}
