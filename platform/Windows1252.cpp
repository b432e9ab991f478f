#include "platform/Windows1252.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace {

// The code points of bytes 0x80 to 0x9F; 0 marks the five bytes the code page leaves undefined.
constexpr std::array<char32_t, 32> kHighControls = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char encode(char32_t cp) {
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<char>(cp);
    for (std::size_t i = 0; i < kHighControls.size(); ++i)
        if (kHighControls[i] == cp) return static_cast<char>(0x80 + i);
    return '?';
}

// Decodes the sequence at `pos`, advancing `pos` past it; returns false (leaving `pos`) for an invalid sequence:
// a stray or missing continuation byte, an overlong form, a surrogate or a code point beyond U+10FFFF.
bool decode(std::string_view s, std::size_t& pos, char32_t& cp) {
    const auto lead = static_cast<unsigned char>(s[pos]);
    std::size_t length;
    char32_t minimum;
    if (lead < 0x80) {
        cp = lead;
        ++pos;
        return true;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, minimum = 0x80, cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, minimum = 0x800, cp = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, minimum = 0x10000, cp = lead & 0x07;
    } else {
        return false;
    }
    if (s.size() - pos < length) return false;
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(s[pos + i]);
        if ((next & 0xC0) != 0x80) return false;
        cp = (cp << 6) | (next & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    pos += length;
    return true;
}

}  // namespace

std::string toWindows1252(std::string_view utf8) {
    std::string bytes;
    appendWindows1252(bytes, utf8);
    return bytes;
}

void appendWindows1252(std::string& bytes, std::string_view utf8) {
    bytes.reserve(bytes.size() + utf8.size());
    std::size_t pos = 0;
    // Lines are mostly ASCII, which is the same in both: eight bytes at a time.
    while (pos + 8 <= utf8.size()) {
        std::uint64_t word;
        std::memcpy(&word, utf8.data() + pos, 8);
        if (word & 0x8080808080808080u) break;
        pos += 8;
    }
    bytes.append(utf8, 0, pos);
    while (pos < utf8.size()) {
        // Runs of ASCII are the same in both.
        const std::size_t ascii = pos;
        while (pos < utf8.size() && static_cast<unsigned char>(utf8[pos]) < 0x80) ++pos;
        bytes.append(utf8, ascii, pos - ascii);
        if (pos == utf8.size()) break;
        char32_t cp;
        if (decode(utf8, pos, cp)) {
            bytes += encode(cp);
        } else {
            bytes += '?';
            ++pos;
        }
    }
}
