// The runtime's conversions: values to text and numbers, numeric texts, and the text codecs.
#include "runtime/Numeric.h"
#include "runtime/RuntimeError.h"
#include "runtime/TextCodecs.h"
#include "runtime/Value.h"

#include <gtest/gtest.h>

namespace {

int errorNumber(const std::function<void()>& call) {
    try {
        call();
    } catch (const RuntimeError& e) {
        return e.Number();
    }
    return 0;
}

TEST(Runtime, ValueConversions) {
    // Dates as dd/mm/yyyy with their time; before 1899-12-30 the time still counts forward.
    EXPECT_EQ(Conv::CStr(Value::date(39575.75)), "07/05/2008 18:00:00");
    EXPECT_EQ(Conv::CStr(Value::date(-1.25)), "29/12/1899 06:00:00");
    EXPECT_EQ(Conv::CStr(Value::real(123456789012345678.0)), "1.23456789012346E+17");
    EXPECT_EQ(Conv::CLng(Value::text(" 200812.5 ")), 200812);  // ties to even
    EXPECT_EQ(errorNumber([] { Conv::CLng(Value::real(2147483647.5)); }), RuntimeError::Overflow);
    EXPECT_EQ(errorNumber([] { Conv::CDbl(Value::text("12a")); }), RuntimeError::TypeMismatch);
    EXPECT_EQ(errorNumber([] { Conv::CStr(Value::null()); }), RuntimeError::InvalidUseOfNull);
}

TEST(Runtime, NumericTexts) {
    const std::pair<const char*, double> numbers[] = {
        {"200501", 200501}, {" 200501  ", 200501}, {"+2005.5", 2005.5}, {"-.5", -0.5},          {"2.", 2},
        {"1.5E-3", 0.0015}, {"1e-400", 0},         {"-0.001e-398", 0},  {"4.9e-324", 4.9e-324}, {"0.01e310", 1e308}};
    for (const auto& [text, value] : numbers) {
        EXPECT_TRUE(IsNumeric(text)) << text;
        EXPECT_EQ(textToDouble(text), value) << text;
    }
    for (const char* text : {"", "   ", ".", "1e", "20 05", "0x1A", "2005a1", "1,5"}) {
        EXPECT_FALSE(IsNumeric(text)) << text;
        EXPECT_EQ(errorNumber([&] { textToDouble(text); }), RuntimeError::TypeMismatch) << text;
    }
    for (const char* text : {"1e400", "-1000e306", "0.1e99999999999"})
        EXPECT_EQ(errorNumber([&] { textToDouble(text); }), RuntimeError::Overflow) << text;
}

TEST(Runtime, TextCodecs) {
    // To Windows-1252: one "?" per character the code page lacks, and per byte of an invalid sequence.
    const std::pair<std::string, std::string> windows1252[] = {{"DJ_AÑO é", "DJ_A\xD1O \xE9"},
                                                               {"€ ’ “”", "\x80 \x92 \x93\x94"},
                                                               {"a中😀b", "a??b"},
                                                               {"a\xFF"
                                                                "b \xE2\x82 \xC0\xAF \xED\xA0\x80",
                                                                "a?b ?? ?? ???"}};
    for (const auto& [utf8, bytes] : windows1252) EXPECT_EQ(toWindows1252(utf8), bytes) << utf8;
    // From it: undefined bytes become U+FFFD.
    std::string utf8;
    const unsigned char bytes[] = {0x41, 0xD1, 0x80, 0x81, 0x92};
    appendUtf8FromWindows1252(utf8, bytes, sizeof bytes);
    EXPECT_EQ(utf8, "AÑ€\uFFFD’");
    // Every byte of the code page both ways, the ranges' first and last included: decoded and encoded again, each
    // is itself, but for the five the code page leaves undefined; the characters beside its ranges have no byte.
    std::string all, expected;
    for (int b = 0; b < 256; ++b) {
        all += static_cast<char>(b);
        const bool undefined = b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D;
        expected += undefined ? '?' : static_cast<char>(b);
    }
    utf8.clear();
    appendUtf8FromWindows1252(utf8, reinterpret_cast<const unsigned char*>(all.data()), all.size());
    EXPECT_EQ(toWindows1252(utf8), expected);
    for (const char* beside : {"\u0080", "\u009F", "\u0100", "\u0177", "\u0179", "\u20AB", "\u20AD", "\u2123"})
        EXPECT_EQ(toWindows1252(beside), "?") << beside;
    // UTF-16 both ways: surrogate pairs joined, a lone surrogate or an invalid sequence one U+FFFD.
    EXPECT_EQ(utf16FromUtf8("añ😀\xE2\x82x"), u"añ😀\uFFFDx");
    utf8.clear();
    appendUtf8FromUtf16(utf8, u"añ😀");
    appendUtf8FromUtf16(utf8, std::u16string(1, char16_t(0xD800)));
    EXPECT_EQ(utf8, "añ😀\uFFFD");
}

}  // namespace
