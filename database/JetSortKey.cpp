#include "database/JetSortKey.h"

#include "runtime/TextCodecs.h"

#include <array>
#include <cstdint>

namespace {

// How a character counts in a key.
enum class Level : std::uint8_t {
    None,    // not at all
    Plain,   // by its code
    Marked,  // by its plain letter's code, then by its mark
    Hidden,  // only after the text, by its code and its position
    Other,   // another script's, by its code point after every letter
};

struct Weight {
    Level level = Level::None;
    std::uint16_t code = 0;  // Plain and Marked: one byte, or two for a code above 0xFF
    std::uint8_t extra = 0;  // Marked: the mark; Hidden: the code
};

constexpr Weight N{};
constexpr Weight P(std::uint16_t code) { return {Level::Plain, code, 0}; }
constexpr Weight H(std::uint8_t code) { return {Level::Hidden, 0, code}; }
constexpr Weight M(int code, std::uint8_t mark) { return {Level::Marked, std::uint16_t(code), mark}; }

// The marks, in the order Access gives texts that differ only by them (an acute before a grave); kVariant sets
// apart a letter's other forms (ª º ı ĸ).
constexpr std::uint8_t kVariant = 0x03, kAcute = 0x0E, kGrave = 0x0F, kDotAbove = 0x10, kMiddleDot = 0x11,
                       kCircumflex = 0x12, kDiaeresis = 0x13, kCaron = 0x14, kBreve = 0x15, kMacron = 0x17,
                       kTilde = 0x19, kRing = 0x1A, kOgonek = 0x1B, kCedilla = 0x1C, kDoubleAcute = 0x1D,
                       kStroke = 0x1E;

// The weights of the characters, each row from the code point in its comment on. Both cases of a letter share a
// code; a ligature, ß and þ weigh as the letters they stand for (Æ as A then E); the blanks that space text (tab,
// line ends, the no-break and typographic spaces) come before everything else.
// clang-format off
constexpr std::array<Weight, 128> kAscii = {
    /* 0000 */ N, H(0x3), H(0x4), H(0x5), H(0x6), H(0x7), H(0x8), H(0x9),
    /* 0008 */ H(0xA), P(0x803), P(0x804), P(0x805), P(0x806), P(0x807), H(0xB), H(0xC),
    /* 0010 */ H(0xD), H(0xE), H(0xF), H(0x10), H(0x11), H(0x12), H(0x13), H(0x14),
    /* 0018 */ H(0x15), H(0x16), H(0x17), H(0x18), H(0x19), H(0x1A), H(0x1B), H(0x1C),
    /* 0020 */ P(0x7), P(0x9), P(0xA), P(0xC), P(0xE), P(0x10), P(0x12), H(0x80),
    /* 0028 */ P(0x14), P(0x16), P(0x18), P(0x2C), P(0x1A), H(0x82), P(0x1C), P(0x1E),
    /* 0030 */ P(0x36), P(0x38), P(0x3A), P(0x3C), P(0x3E), P(0x40), P(0x42), P(0x44),
    /* 0038 */ P(0x46), P(0x48), P(0x20), P(0x22), P(0x2E), P(0x30), P(0x32), P(0x24),
    /* 0040 */ P(0x26), P(0x4A), P(0x4C), P(0x4D), P(0x4F), P(0x51), P(0x53), P(0x55),
    /* 0048 */ P(0x57), P(0x59), P(0x5B), P(0x5C), P(0x5E), P(0x60), P(0x62), P(0x64),
    /* 0050 */ P(0x66), P(0x68), P(0x69), P(0x6B), P(0x6D), P(0x6F), P(0x71), P(0x73),
    /* 0058 */ P(0x75), P(0x76), P(0x78), P(0x27), P(0x29), P(0x2A), P(0x2B02), P(0x2B03),
    /* 0060 */ P(0x2B07), P(0x4A), P(0x4C), P(0x4D), P(0x4F), P(0x51), P(0x53), P(0x55),
    /* 0068 */ P(0x57), P(0x59), P(0x5B), P(0x5C), P(0x5E), P(0x60), P(0x62), P(0x64),
    /* 0070 */ P(0x66), P(0x68), P(0x69), P(0x6B), P(0x6D), P(0x6F), P(0x71), P(0x73),
    /* 0078 */ P(0x75), P(0x76), P(0x78), P(0x2B09), P(0x2B0B), P(0x2B0D), P(0x2B0F), H(0x1D)
};
// clang-format on

// A letter with a mark, named by its plain letter.
constexpr Weight M(char letter, std::uint8_t mark) { return M(kAscii[std::size_t(letter)].code, mark); }

// clang-format off
constexpr std::array<Weight, 128> kLatin1 = {
    /* 0080 */ H(0x1E), H(0x1F), H(0x20), H(0x21), H(0x22), H(0x23), H(0x24), H(0x25),
    /* 0088 */ H(0x26), H(0x27), H(0x28), H(0x29), H(0x2A), H(0x2B), H(0x2C), H(0x2D),
    /* 0090 */ H(0x2E), H(0x2F), H(0x30), H(0x31), H(0x32), H(0x33), H(0x34), H(0x35),
    /* 0098 */ H(0x36), H(0x37), H(0x38), H(0x39), H(0x3A), H(0x3B), H(0x3C), H(0x3D),
    /* 00A0 */ P(0x802), P(0x2B10), P(0x34A6), P(0x34A7), P(0x34A8), P(0x34A9), P(0x2B11), P(0x34AA),
    /* 00A8 */ P(0x2B12), P(0x34AB), M('A', kVariant), P(0x3305), P(0x34AC), H(0x83), P(0x34AD), P(0x2B13),
    /* 00B0 */ P(0x34AE), P(0x3304), P(0x3A), P(0x3C), P(0x2B14), P(0x34AF), P(0x34B0), P(0x34B1),
    /* 00B8 */ P(0x2B15), P(0x38), M('O', kVariant), P(0x3307), P(0x3712), P(0x3716), P(0x371A), P(0x2B16),
    /* 00C0 */ M('A', kGrave), M('A', kAcute), M('A', kCircumflex), M('A', kTilde),
    /* 00C4 */ M('A', kDiaeresis), M('A', kRing), P(0x4A51), M('C', kCedilla),
    /* 00C8 */ M('E', kGrave), M('E', kAcute), M('E', kCircumflex), M('E', kDiaeresis),
    /* 00CC */ M('I', kGrave), M('I', kAcute), M('I', kCircumflex), M('I', kDiaeresis),
    /* 00D0 */ M('D', 0x68), M('N', kTilde), M('O', kGrave), M('O', kAcute),
    /* 00D4 */ M('O', kCircumflex), M('O', kTilde), M('O', kDiaeresis), P(0x3309),
    /* 00D8 */ M('O', 0x21), M('U', kGrave), M('U', kAcute), M('U', kCircumflex),
    /* 00DC */ M('U', kDiaeresis), M('Y', kAcute), P(0x6D57), P(0x6B6B),
    /* 00E0 */ M('A', kGrave), M('A', kAcute), M('A', kCircumflex), M('A', kTilde),
    /* 00E4 */ M('A', kDiaeresis), M('A', kRing), P(0x4A51), M('C', kCedilla),
    /* 00E8 */ M('E', kGrave), M('E', kAcute), M('E', kCircumflex), M('E', kDiaeresis),
    /* 00EC */ M('I', kGrave), M('I', kAcute), M('I', kCircumflex), M('I', kDiaeresis),
    /* 00F0 */ M('D', 0x68), M('N', kTilde), M('O', kGrave), M('O', kAcute),
    /* 00F4 */ M('O', kCircumflex), M('O', kTilde), M('O', kDiaeresis), P(0x330A),
    /* 00F8 */ M('O', 0x21), M('U', kGrave), M('U', kAcute), M('U', kCircumflex),
    /* 00FC */ M('U', kDiaeresis), M('Y', kAcute), P(0x6D57), M('Y', kDiaeresis)
};
constexpr std::array<Weight, 128> kLatinExtendedA = {
    /* 0100 */ M('A', kMacron), M('A', kMacron), M('A', kBreve), M('A', kBreve),
    /* 0104 */ M('A', kOgonek), M('A', kOgonek), M('C', kAcute), M('C', kAcute),
    /* 0108 */ M('C', kCircumflex), M('C', kCircumflex), M('C', kDotAbove), M('C', kDotAbove),
    /* 010C */ M('C', kCaron), M('C', kCaron), M('D', kCaron), M('D', kCaron),
    /* 0110 */ M('D', kStroke), M('D', kStroke), M('E', kMacron), M('E', kMacron),
    /* 0114 */ M('E', kBreve), M('E', kBreve), M('E', kDotAbove), M('E', kDotAbove),
    /* 0118 */ M('E', kOgonek), M('E', kOgonek), M('E', kCaron), M('E', kCaron),
    /* 011C */ M('G', kCircumflex), M('G', kCircumflex), M('G', kBreve), M('G', kBreve),
    /* 0120 */ M('G', kDotAbove), M('G', kDotAbove), M('G', kCedilla), M('G', kCedilla),
    /* 0124 */ M('H', kCircumflex), M('H', kCircumflex), M('H', kStroke), M('H', kStroke),
    /* 0128 */ M('I', kTilde), M('I', kTilde), M('I', kMacron), M('I', kMacron),
    /* 012C */ M('I', kBreve), M('I', kBreve), M('I', kOgonek), M('I', kOgonek),
    /* 0130 */ M('I', kDotAbove), M('I', kVariant), P(0x595B), P(0x595B),
    /* 0134 */ M('J', kCircumflex), M('J', kCircumflex), M('K', kCedilla), M('K', kCedilla),
    /* 0138 */ M('K', kVariant), M('L', kAcute), M('L', kAcute), M('L', kCedilla),
    /* 013C */ M('L', kCedilla), M('L', kCaron), M('L', kCaron), M('L', kMiddleDot),
    /* 0140 */ M('L', kMiddleDot), M('L', 0x1F), M('L', 0x1F), M('N', kAcute),
    /* 0144 */ M('N', kAcute), M('N', kCedilla), M('N', kCedilla), M('N', kCaron),
    /* 0148 */ M('N', kCaron), M('N', 0x48), P(0x6305), P(0x6305),
    /* 014C */ M('O', kMacron), M('O', kMacron), M('O', kBreve), M('O', kBreve),
    /* 0150 */ M('O', kDoubleAcute), M('O', kDoubleAcute), P(0x6451), P(0x6451),
    /* 0154 */ M('R', kAcute), M('R', kAcute), M('R', kCedilla), M('R', kCedilla),
    /* 0158 */ M('R', kCaron), M('R', kCaron), M('S', kAcute), M('S', kAcute),
    /* 015C */ M('S', kCircumflex), M('S', kCircumflex), M('S', kCedilla), M('S', kCedilla),
    /* 0160 */ M('S', kCaron), M('S', kCaron), M('T', kCedilla), M('T', kCedilla),
    /* 0164 */ M('T', kCaron), M('T', kCaron), M(0x6E06, kStroke), M(0x6E06, kStroke),
    /* 0168 */ M('U', kTilde), M('U', kTilde), M('U', kMacron), M('U', kMacron),
    /* 016C */ M('U', kBreve), M('U', kBreve), M('U', kRing), M('U', kRing),
    /* 0170 */ M('U', kDoubleAcute), M('U', kDoubleAcute), M('U', kOgonek), M('U', kOgonek),
    /* 0174 */ M('W', kCircumflex), M('W', kCircumflex), M('Y', kCircumflex), M('Y', kCircumflex),
    /* 0178 */ M('Y', kDiaeresis), M('Z', kAcute), M('Z', kAcute), M('Z', kDotAbove),
    /* 017C */ M('Z', kDotAbove), M('Z', kCaron), M('Z', kCaron), P(0x6C06)
};
constexpr std::array<Weight, 0x47> kGeneralPunctuation = {
    /* 2000 */ P(0x808), P(0x809), P(0x80A), P(0x80B), P(0x80C), P(0x80D), P(0x80E), P(0x80F),
    /* 2008 */ P(0x810), P(0x811), P(0x812), P(0x813), P(0x814), N, N, N,
    /* 2010 */ H(0x84), H(0x85), H(0x88), H(0x89), H(0x8B), H(0x8C), P(0x2B35), P(0x2B36),
    /* 2018 */ P(0x2B37), P(0x2B38), P(0x2B39), P(0x2B3A), P(0x2B3B), P(0x2B3C), P(0x2B3D), P(0x2B3E),
    /* 2020 */ P(0x34B3), P(0x34B4), P(0x34B5), P(0x34B6), P(0x34B7), P(0x34B8), P(0x34B9), H(0x86),
    /* 2028 */ P(0x815), P(0x816), N, N, N, N, N, N,
    /* 2030 */ P(0x34BA), P(0x34BB), P(0x2B3F), P(0x2B40), P(0x2B41), P(0x2B42), P(0x2B43), P(0x2B44),
    /* 2038 */ P(0x2B45), P(0x2B46), P(0x2B47), P(0x34BC), P(0x2B48), P(0x2B49), P(0x2B4A), P(0x2B4B),
    /* 2040 */ P(0x34BD), P(0x34BE), P(0x34BF), H(0x87), P(0x2D05), M('[', kCedilla), M(']', kCedilla)
};
// clang-format on

// Access gives no weight to the rest of General Punctuation: those characters were not yet assigned when its order
// was made.
constexpr char32_t kLastWeighedPunctuation = 0x2046, kLastPunctuation = 0x206F;

Weight weightOf(char32_t c) {
    if (c < 0x80) return kAscii[c];
    if (c < 0x100) return kLatin1[c - 0x80];
    if (c < 0x180) return kLatinExtendedA[c - 0x100];
    if (c >= 0x2000 && c <= kLastWeighedPunctuation) return kGeneralPunctuation[c - 0x2000];
    if (c > kLastWeighedPunctuation && c <= kLastPunctuation) return N;
    switch (c) {
        case 0x0192: return M('F', 0x7B);      // ƒ
        case 0x02C6: return M('^', kVariant);  // ˆ
        case 0x02DC: return P(0x2B1C);         // ˜
        case 0x20AC: return P(0x35A1);         // €
        case 0x2122: return P(0x6E04);         // ™
        default: return {Level::Other, 0, 0};
    }
}

// A character's code at the first level. One the table does not know gets a lead byte that no code of the table
// starts with and that sorts after every letter's, then its code point in three bytes.
constexpr unsigned char kOtherScript = 0xF0;
void appendCode(std::string& key, const Weight& weight, char32_t c) {
    if (weight.level == Level::Other) {
        key += char(kOtherScript);
        key += char(c >> 16);
        key += char(c >> 8 & 0xFF);
        key += char(c & 0xFF);
    } else if (weight.code > 0xFF) {
        key += char(weight.code >> 8);
        key += char(weight.code & 0xFF);
    } else {
        key += char(weight.code);
    }
}

// The marker that ends the first level, and each level after it; the whole key ends with kEnd.
constexpr char kEndOfLevel = 0x01, kEnd = 0x00;
// A character without a mark, at the second level; those after the last mark are left out.
constexpr char kUnmarked = 0x02;
// Access indexes a text's first 255 UTF-16 units.
constexpr std::size_t kIndexedUnits = 255;

}  // namespace

std::string jetGeneralSortKey(std::string_view utf8) {
    std::u32string text;
    for (std::size_t at = 0, units = 0; at < utf8.size();) {
        char32_t c;
        if (!decodeUtf8(utf8, at, c)) c = 0xFFFD;
        units += c > 0xFFFF ? 2 : 1;
        if (units > kIndexedUnits) break;
        text += c;
    }
    while (!text.empty() && text.back() == U' ') text.pop_back();

    std::string key, marks, hidden;
    std::size_t weighed = 0;  // the characters with a code so far
    for (const char32_t c : text) {
        const Weight weight = weightOf(c);
        switch (weight.level) {
            case Level::None: break;
            case Level::Plain:
            case Level::Marked:
            case Level::Other:
                appendCode(key, weight, c);
                marks += weight.level == Level::Marked ? char(weight.extra) : kUnmarked;
                ++weighed;
                break;
            case Level::Hidden: {
                // Its place (four steps for each character with a code before it) as a big-endian number with its
                // top bit set, 0x06, then its code.
                const std::size_t place = (7 + 4 * weighed) | 0x8000;
                hidden += char(place >> 8);
                hidden += char(place & 0xFF);
                hidden += '\x06';
                hidden += char(weight.extra);
                break;
            }
        }
    }
    while (!marks.empty() && marks.back() == kUnmarked) marks.pop_back();
    key += kEndOfLevel;
    key += marks;
    if (!hidden.empty()) {
        key.append(3, kEndOfLevel);
        key += hidden;
    }
    key += kEnd;
    return key;
}
