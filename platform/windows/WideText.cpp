#include "platform/windows/WideText.h"

#include "runtime/TextCodecs.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows's wide characters are UTF-16 code units");

std::wstring wideText(std::string_view utf8) {
    const std::u16string units = utf16FromUtf8(utf8);
    return std::wstring(units.begin(), units.end());
}

std::string utf8Text(std::wstring_view wide) {
    std::string out;
    appendUtf8FromUtf16(out, std::u16string(wide.begin(), wide.end()));
    return out;
}
