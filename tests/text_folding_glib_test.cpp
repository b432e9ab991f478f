// The order of text's folding against GLib's, which it replaces, on every code point and on random texts: folding
// alone (g_utf8_casefold) and folding with the marks dropped after the canonical decomposition (g_utf8_normalize to
// NFD, g_unichar_ismark). The upper case of the exported names against g_unichar_toupper, which it replaces too.
// Built on Linux only, where GLib is.
#include "runtime/TextCodecs.h"
#include "runtime/TextFolding.h"
#include "runtime/UpperCase.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <random>

namespace {

std::string glibFolded(std::string_view text) {
    gchar* folded = g_utf8_casefold(text.data(), static_cast<gssize>(text.size()));
    std::string out(folded);
    g_free(folded);
    return out;
}

std::string glibPlain(std::string_view text) {
    const std::string folded = glibFolded(text);
    gchar* decomposed = g_utf8_normalize(folded.c_str(), -1, G_NORMALIZE_NFD);
    std::string out;
    for (const gchar* p = decomposed ? decomposed : folded.c_str(); *p; p = g_utf8_next_char(p)) {
        const gunichar c = g_utf8_get_char(p);
        if (g_unichar_ismark(c)) continue;
        char buffer[6];
        out.append(buffer, static_cast<std::size_t>(g_unichar_to_utf8(c, buffer)));
    }
    g_free(decomposed);
    return out;
}

std::string ours(std::string_view text, bool withMarks) {
    std::string out;
    if (withMarks)
        appendFolded(out, text);
    else
        appendFoldedWithoutMarks(out, text);
    return out;
}

std::string codePoints(std::string_view utf8) {
    std::string out;
    for (std::size_t pos = 0; pos < utf8.size();) {
        char32_t cp = 0;
        char buffer[16];
        if (!decodeUtf8(utf8, pos, cp)) cp = 0xFFFFFFFF;
        std::snprintf(buffer, sizeof buffer, "%s%04X", out.empty() ? "" : " ", static_cast<unsigned>(cp));
        out += buffer;
    }
    return out;
}

// Compares both foldings of `text` with GLib's; true when they agree.
bool agrees(const std::string& text) {
    const std::string folded = ours(text, true), plain = ours(text, false);
    const std::string glibF = glibFolded(text), glibP = glibPlain(text);
    EXPECT_EQ(codePoints(folded), codePoints(glibF)) << "folding " << codePoints(text);
    EXPECT_EQ(codePoints(plain), codePoints(glibP)) << "without marks " << codePoints(text);
    return folded == glibF && plain == glibP;
}

TEST(TextFoldingAsGlib, EveryCodePoint) {
    int differences = 0;
    for (char32_t cp = 1; cp <= 0x10FFFF && differences < 20; ++cp) {
        if (cp >= 0xD800 && cp <= 0xDFFF) continue;
        std::string text;
        appendUtf8(text, cp);
        // Alone, and between letters, where a mark has something to follow.
        if (!agrees(text) || !agrees("A" + text + "b")) ++differences;
    }
}

// Random texts of code points drawn mostly from where texts live (Latin, combining marks in any order, Greek,
// Cyrillic, Hangul, the supplementary planes), so that sequences (marks to reorder, several foldings in a row) agree
// as the code points alone do.
TEST(TextFoldingAsGlib, RandomTexts) {
    const std::pair<char32_t, char32_t> ranges[] = {
        {0x20, 0x7E},     {0xA0, 0x24F},      {0x300, 0x36F},     {0x370, 0x3FF},     {0x400, 0x52F},
        {0x1E00, 0x1FFF}, {0x1AB0, 0x1AFF},   {0x2100, 0x218F},   {0xAC00, 0xD7A3},   {0x1100, 0x11FF},
        {0xFB00, 0xFB4F}, {0x10400, 0x1044F}, {0x1D100, 0x1D1FF}, {0x11F00, 0x11F5F}, {0x20, 0x10FFFF}};
    std::mt19937 random(20240611);
    int differences = 0;
    for (int n = 0; n < 5000 && differences < 20; ++n) {
        std::string text;
        const int length = 1 + static_cast<int>(random() % 24);
        for (int i = 0; i < length; ++i) {
            const auto& [first, last] = ranges[random() % std::size(ranges)];
            char32_t cp = first + random() % (last - first + 1);
            if (cp >= 0xD800 && cp <= 0xDFFF) cp = 0xFFFD;
            appendUtf8(text, cp);
        }
        if (!agrees(text)) ++differences;
    }
}

// Sequences that are not valid UTF-8 but that GLib reads as code points all the same (encoded surrogates, code
// points past U+10FFFF): both keep their bytes. Other malformed sequences GLib reads without any rule.
TEST(TextFoldingAsGlib, SurrogatesAndCodePointsPastTheLast) {
    for (const char* text : {"A\xED\xA0\x80"
                             "B",
                             "\xED\xBF\xBF\xC3\x89",
                             "a\xF4\x90\x80\x80"
                             "\xC3\x89"})
        agrees(text);
}

// Every code point a text can hold (UTF-8 cannot hold a surrogate: the normalisers make U+FFFD of one), and the
// code points past the last, which no text holds and both leave as they are.
TEST(UpperCaseAsGlib, EveryCodePoint) {
    int differences = 0;
    for (char32_t cp = 0; cp <= 0x10FFFF + 16 && differences < 20; ++cp) {
        if (cp >= 0xD800 && cp <= 0xDFFF) continue;
        const char32_t glib = g_unichar_toupper(cp);
        if (upperCase(cp) != glib) {
            ++differences;
            ADD_FAILURE() << std::hex << "U+" << unsigned(cp) << ": ours U+" << unsigned(upperCase(cp)) << ", GLib's U+"
                          << unsigned(glib);
        }
    }
}

}  // namespace
