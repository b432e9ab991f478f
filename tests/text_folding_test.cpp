// Case folding and accent removal as the order of text uses them, on both systems: the cases the taxpayers' names
// and references meet, the edges of the tables (full foldings, Hangul, marks outside the Basic Multilingual Plane)
// and the texts that are not valid UTF-8.
#include "runtime/TextFolding.h"

#include <gtest/gtest.h>

namespace {

std::string folded(std::string_view text) {
    std::string out;
    appendFolded(out, text);
    return out;
}

std::string plain(std::string_view text) {
    std::string out;
    appendFoldedWithoutMarks(out, text);
    return out;
}

TEST(TextFolding, FoldsAndDropsMarks) {
    using namespace std::string_view_literals;
    const struct {
        const char* name;
        std::string_view text, folded, plain;
    } rows[] = {
        {"ASCII lowered", "Agro-Sur S.A.", "agro-sur s.a.", "agro-sur s.a."},
        {"Spanish letters", "MUÑOZ Ángel Güemes", "muñoz ángel güemes", "munoz angel guemes"},
        {"a combining accent dropped", "a\u0301B", "a\u0301b", "ab"},
        {"full folding of ß and ẞ", "Straße STRASSE \u1E9E", "strasse strasse ss", "strasse strasse ss"},
        {"dotted capital I", "\u0130", "i\u0307", "i"},
        {"Kelvin sign", "\u212A", "k", "k"},
        {"final sigma and capital sigma", "\u03A3\u03C2", "\u03C3\u03C3", "\u03C3\u03C3"},
        {"Greek with ypogegrammeni", "\u1F88", "\u1F00\u03B9", "\u03B1\u03B9"},
        {"Cherokee capital lowered", "\u13A0", "\uAB70", "\uAB70"},
        {"Cherokee small folds to capital", "\uAB70", "\u13A0", "\u13A0"},
        {"Roman numeral", "\u2160", "\u2170", "\u2170"},
        {"compatibility forms stay, but a ligature folds apart", "\u01C4\u2460\uFB01", "\u01C6\u2460fi",
         "\u01C6\u2460fi"},
        {"Hangul syllable with a trailing consonant", "\uD55C", "\uD55C", "\u1112\u1161\u11AB"},
        {"Hangul syllable without one", "\uAC00", "\uAC00", "\u1100\u1161"},
        {"Deseret, outside the BMP", "\U00010400", "\U00010428", "\U00010428"},
        {"a mark outside the BMP", "x\U0001D167y", "x\U0001D167y", "xy"},
        {"a Unicode 15 mark (Kawi)", "x\U00011F00y", "x\U00011F00y", "xy"},
        {"a NUL ends the text", "AB\0CD"sv, "ab", "ab"},
        {"empty", "", "", ""},
        {"an encoded surrogate kept as bytes", "A\xED\xA0\x80\xC3\x89", "a\xED\xA0\x80\xC3\xA9",
         "a\xED\xA0\x80"
         "e"},
        {"a stray continuation byte kept", "\x80\xC3\x89", "\x80\xC3\xA9",
         "\x80"
         "e"},
        {"a sequence cut short kept", "\xC3", "\xC3", "\xC3"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(folded(row.text), row.folded) << row.name;
        EXPECT_EQ(plain(row.text), row.plain) << row.name;
    }
}

// What is appended goes after what the string held.
TEST(TextFolding, Appends) {
    std::string out = "x";
    appendFolded(out, "É");
    appendFoldedWithoutMarks(out, "É");
    EXPECT_EQ(out, "xée");
}

}  // namespace
