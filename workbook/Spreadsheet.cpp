#include "workbook/Spreadsheet.h"

#include "runtime/RuntimeError.h"
#include "workbook/XlsSheet.h"

#include <algorithm>
#include <string_view>

namespace {

char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

}  // namespace

std::unique_ptr<ExcelSheet> CreateObject(const std::string& progId) {
    // Class names are matched without regard to case, as the system's registry does.
    constexpr std::string_view kSheet = "excel.sheet";
    if (std::ranges::equal(progId, kSheet, [](char a, char b) { return lowerAscii(a) == b; }))
        return std::make_unique<XlsSheet>();
    throw RuntimeError(RuntimeError::SpreadsheetError,
                       "No se puede crear el objeto " + progId + ": solo se puede crear Excel.Sheet");
}
