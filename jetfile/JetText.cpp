#include "jetfile/JetText.h"

#include "runtime/TextCodecs.h"

#include <cstdint>
#include <cstring>

namespace {

// Writes the UTF-16LE units in [p, end) as UTF-8 at `out`; a lone surrogate becomes U+FFFD, an odd last byte is
// left out.
char* putUtf16(char* out, const unsigned char* p, const unsigned char* end) {
    while (end - p >= 2) {
        // Four ASCII units at a time.
        for (std::uint64_t units; end - p >= 8; p += 8, out += 4) {
            std::memcpy(&units, p, 8);
            if (units & 0xFF80FF80FF80FF80u) break;
            out[0] = static_cast<char>(units);
            out[1] = static_cast<char>(units >> 16);
            out[2] = static_cast<char>(units >> 32);
            out[3] = static_cast<char>(units >> 48);
        }
        if (end - p < 2) break;
        char32_t cp = char32_t(p[0] | p[1] << 8);
        p += 2;
        if (cp >= 0xD800 && cp <= 0xDBFF && end - p >= 2) {
            const char32_t low = char32_t(p[0] | p[1] << 8);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                p += 2;
            } else {
                cp = 0xFFFD;
            }
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        out = writeUtf8(out, cp);
    }
    return out;
}

}  // namespace

void appendJetText(const unsigned char* p, std::size_t size, bool jet3, std::string& out) {
    if (jet3) {
        appendUtf8FromWindows1252(out, p, size);
        return;
    }
    // Written in place: a byte of the compressed form takes at most two bytes of UTF-8, two bytes of UTF-16 at most
    // three (a pair of surrogates four for four); ASCII is copied eight bytes at a time, which may write up to
    // seven bytes past what it copies.
    const std::size_t start = out.size();
    out.resize(start + 2 * size + 8);
    char* w = out.data() + start;
    const unsigned char* const end = p + size;
    if (size >= 2 && p[0] == 0xFF && p[1] == 0xFE) {
        // After the marker, runs of one byte per character (Latin-1) and of UTF-16, each ended by a zero byte.
        bool compressed = true;
        for (p += 2; p < end;) {
            if (!compressed) {
                if (*p == 0) {
                    compressed = true;
                    ++p;
                } else {
                    if (end - p < 2) break;
                    w = putUtf16(w, p, p + 2);
                    p += 2;
                }
                continue;
            }
            // Eight bytes at a time while none is zero or above 0x7F, then byte by byte up to such a byte.
            for (std::uint64_t word; end - p >= 8; p += 8, w += 8) {
                std::memcpy(&word, p, 8);
                if ((word | ((word - 0x0101010101010101u) & ~word)) & 0x8080808080808080u) break;
                std::memcpy(w, &word, 8);
            }
            while (p < end && *p != 0 && *p < 0x80) *w++ = static_cast<char>(*p++);
            if (p == end) break;
            const unsigned char c = *p++;
            if (c == 0) {
                compressed = false;
            } else {
                *w++ = static_cast<char>(0xC0 | c >> 6);
                *w++ = static_cast<char>(0x80 | (c & 0x3F));
            }
        }
    } else {
        w = putUtf16(w, p, end);
    }
    out.resize(std::size_t(w - out.data()));
}

std::string jetText(const unsigned char* bytes, std::size_t size, bool jet3) {
    std::string out;
    appendJetText(bytes, size, jet3, out);
    return out;
}
