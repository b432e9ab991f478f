#include "platform/XlsApplication.h"

#include "runtime/RuntimeError.h"

#include <cmath>
#include <string>
#include <string_view>

namespace {

constexpr char32_t Replacement = 0xFFFD;

// The UTF-16 form of UTF-8 text; each malformed sequence (bad lead or continuation byte, overlong form,
// surrogate, beyond U+10FFFF, cut short) becomes one U+FFFD.
std::u16string utf16FromUtf8(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        std::size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead < 0xE0 ? 2 : lead >= 0xE0 && lead < 0xF0 ? 3
                                                                         : lead >= 0xF0 && lead < 0xF5 ? 4 : 0;
        char32_t code = length == 1 ? lead : length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
        std::size_t taken = 1;
        for (; length > 1 && taken < length && i + taken < utf8.size(); ++taken) {
            const auto next = static_cast<unsigned char>(utf8[i + taken]);
            if ((next & 0xC0) != 0x80) break;
            code = (code << 6) | (next & 0x3F);
        }
        const bool valid = length != 0 && taken == length &&
                           !(length == 3 && code < 0x800) && !(length == 4 && (code < 0x10000 || code > 0x10FFFF)) &&
                           !(code >= 0xD800 && code <= 0xDFFF);
        if (!valid) code = Replacement;
        i += taken;
        if (code >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(code);
        }
    }
    return out;
}

RuntimeError cellError(std::int32_t row, std::int16_t column, const std::string& reason) {
    return RuntimeError(RuntimeError::SpreadsheetError,
                        "cannot set cell (" + std::to_string(row) + ", " + std::to_string(column) + "): " + reason);
}

}  // namespace

void XlsApplication::setCell(std::int32_t row, std::int16_t column, const Value& value) {
    if (m_quit) throw cellError(row, column, "the spreadsheet application has quit");
    if (row < 1 || static_cast<std::uint32_t>(row) > XlsCellGrid::RowLimit)
        throw cellError(row, column, "the workbook format holds 65,536 rows, numbered from 1");
    if (column < 1 || static_cast<std::uint32_t>(column) > XlsCellGrid::ColumnLimit)
        throw cellError(row, column, "the workbook format holds 256 columns, numbered from 1");
    const auto r = static_cast<std::uint32_t>(row - 1);
    const auto c = static_cast<std::uint16_t>(column - 1);

    switch (value.kind()) {
    case Value::Kind::Null:
        m_cells.clear(r, c);
        return;
    case Value::Kind::Text: {
        std::u16string text = utf16FromUtf8(value.asText());
        if (text.size() > MaxCellText) throw cellError(row, column, "the cell text exceeds 32,767 characters");
        if (text.empty()) m_cells.clear(r, c);
        else m_cells.setText(r, c, std::move(text));
        return;
    }
    case Value::Kind::Integer:
    case Value::Kind::Double:
    case Value::Kind::Date: {
        const double number = value.asDouble();
        if (!std::isfinite(number)) throw cellError(row, column, "the value is not a finite number");
        m_cells.setNumber(r, c, number);
        return;
    }
    }
}
