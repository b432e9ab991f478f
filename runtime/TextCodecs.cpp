#include "runtime/TextCodecs.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// The code points of Windows-1252 bytes 0x80 to 0x9F; 0 marks the five bytes the code page leaves undefined.
// The rest of the code page is Latin-1.
constexpr std::array<char32_t, 32> kHighControls = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                                    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                                    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                                    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char windows1252Byte(char32_t cp) {
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<char>(cp);
    for (std::size_t i = 0; i < kHighControls.size(); ++i)
        if (kHighControls[i] == cp) return static_cast<char>(0x80 + i);
    return '?';
}

std::uint16_t u16le(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

// Appends UTF-16 code units given one at a time by `unit(i)`.
template <typename Unit>
void appendUtf16Units(std::string& out, std::size_t units, Unit unit) {
    for (std::size_t i = 0; i < units; ++i) {
        char32_t cp = unit(i);
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < units) {
            const char32_t low = unit(i + 1);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            } else {
                cp = kReplacement;
            }
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = kReplacement;
        }
        appendUtf8(out, cp);
    }
}

}  // namespace

bool decodeUtf8(std::string_view s, std::size_t& pos, char32_t& cp) {
    const auto lead = static_cast<unsigned char>(s[pos]);
    if (lead < 0x80) {
        cp = lead;
        ++pos;
        return true;
    }
    std::size_t length = 0;
    char32_t minimum = 0;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2, minimum = 0x80, cp = lead & 0x1F;
    else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3, minimum = 0x800, cp = lead & 0x0F;
    else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4, minimum = 0x10000, cp = lead & 0x07;
    std::size_t taken = 1;
    for (; taken < length && pos + taken < s.size(); ++taken) {
        const auto next = static_cast<unsigned char>(s[pos + taken]);
        if ((next & 0xC0) != 0x80) break;
        cp = (cp << 6) | (next & 0x3F);
    }
    pos += taken;
    return length != 0 && taken == length && cp >= minimum && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
}

char* writeUtf8(char* out, char32_t cp) {
    if (cp < 0x80) {
        *out++ = static_cast<char>(cp);
    } else if (cp < 0x800) {
        *out++ = static_cast<char>(0xC0 | cp >> 6);
        *out++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        *out++ = static_cast<char>(0xE0 | cp >> 12);
        *out++ = static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        *out++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        *out++ = static_cast<char>(0xF0 | cp >> 18);
        *out++ = static_cast<char>(0x80 | (cp >> 12 & 0x3F));
        *out++ = static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        *out++ = static_cast<char>(0x80 | (cp & 0x3F));
    }
    return out;
}

void appendUtf8(std::string& out, char32_t cp) {
    char bytes[4];
    out.append(bytes, writeUtf8(bytes, cp));
}

void appendUtf8FromUtf16le(std::string& out, const unsigned char* bytes, std::size_t units) {
    appendUtf16Units(out, units, [bytes](std::size_t i) { return u16le(bytes + 2 * i); });
}

void appendUtf8FromUtf16(std::string& out, std::u16string_view units) {
    appendUtf16Units(out, units.size(), [units](std::size_t i) { return units[i]; });
}

void appendUtf8FromWindows1252(std::string& out, const unsigned char* bytes, std::size_t size) {
    out.reserve(out.size() + size);
    for (std::size_t i = 0; i < size; ++i) {
        const unsigned char b = bytes[i];
        if (b < 0x80) {
            out.push_back(static_cast<char>(b));
        } else {
            const char32_t high = b < 0xA0 ? kHighControls[b - 0x80] : b;
            appendUtf8(out, high != 0 ? high : kReplacement);
        }
    }
}

std::string toWindows1252(std::string_view utf8) {
    std::string bytes;
    appendWindows1252(bytes, utf8);
    return bytes;
}

void appendWindows1252(std::string& bytes, std::string_view utf8) {
    bytes.reserve(bytes.size() + utf8.size());
    const char* const data = utf8.data();
    const std::size_t size = utf8.size();
    std::size_t pos = 0;
    while (pos < size) {
        // Runs of ASCII are the same in both, and lines are mostly ASCII: looked at eight bytes at a time, also
        // after the accented letters of a name.
        const std::size_t ascii = pos;
        for (std::uint64_t word; pos + 8 <= size; pos += 8) {
            std::memcpy(&word, data + pos, 8);
            if (word & 0x8080808080808080u) break;
        }
        while (pos < size && static_cast<unsigned char>(data[pos]) < 0x80) ++pos;
        bytes.append(data + ascii, pos - ascii);
        if (pos == size) break;
        const std::size_t start = pos;
        char32_t cp;
        if (decodeUtf8(utf8, pos, cp))
            bytes += windows1252Byte(cp);
        else
            bytes.append(pos - start, '?');
    }
}

std::u16string utf16FromUtf8(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        char32_t cp;
        if (!decodeUtf8(utf8, pos, cp)) cp = kReplacement;
        if (cp >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return out;
}
