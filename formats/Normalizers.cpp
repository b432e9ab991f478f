#include "formats/Normalizers.h"

#include "platform/RuntimeError.h"

#include <glib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>

namespace {

// The blanks the runtime's Trim removes: the space character only; tabs and line breaks stay.
std::string trimBlanks(const std::string& text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

struct GFreeDeleter {
    void operator()(gchar* p) const noexcept { g_free(p); }
};
using GCharPtr = std::unique_ptr<gchar, GFreeDeleter>;

// Upper case of a piece without NUL; invalid UTF-8 becomes U+FFFD, which the output file writes as "?".
std::string upperPiece(std::string_view piece) {
    const GCharPtr valid(g_utf8_make_valid(piece.data(), static_cast<gssize>(piece.size())));
    const GCharPtr upper(g_utf8_strup(valid.get(), -1));
    return upper.get();
}

}  // namespace

std::string Limpiar_Texto(const std::string& text) {
    std::string cleaned = trimBlanks(text);
    std::replace_if(cleaned.begin(), cleaned.end(), [](char c) { return c == ';' || c == ',' || c == '.'; }, ' ');
    return cleaned;
}

std::string Quitar_Guiones(const std::string& text) {
    std::string stripped = trimBlanks(text);
    std::erase(stripped, '-');
    return stripped;
}

std::string Formatear_Importe(double amount, const std::string& G_SD) {
    // The product is rounded to a double before it is rounded to whole hundredths: 12.345 * 100.0 is exactly
    // 1234.5 and becomes 1234. volatile keeps the compiler from carrying it in wider precision.
    volatile double product = amount * 100.0;
    // nearbyint in the default rounding mode takes a tie to the even neighbour.
    const double hundredths = std::nearbyint(product);
    if (!(hundredths >= -0x1p63 && hundredths < 0x1p63)) throw RuntimeError::overflow();  // NaN and inf too
    // |hundredths| is at most 2^63, which still fits the unsigned type.
    const auto magnitude = static_cast<std::uint64_t>(std::fabs(hundredths));
    const auto cents = static_cast<unsigned>(magnitude % 100);
    std::string text = hundredths < 0 ? "-" : "";
    text += std::to_string(magnitude / 100);
    text += G_SD;
    text += static_cast<char>('0' + cents / 10);
    text += static_cast<char>('0' + cents % 10);
    return text;
}

std::string UCase(const std::string& utf8) {
    // GLib's case mapping stops at a NUL byte, so the pieces between NULs are mapped one by one.
    std::string upper;
    upper.reserve(utf8.size());
    std::string_view rest = utf8;
    for (;;) {
        const auto nul = rest.find('\0');
        upper += upperPiece(rest.substr(0, nul));
        if (nul == std::string_view::npos) break;
        upper += '\0';
        rest.remove_prefix(nul + 1);
    }
    return upper;
}
