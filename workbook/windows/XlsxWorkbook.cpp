#include "workbook/XlsxWorkbook.h"

#include "runtime/RuntimeError.h"

namespace XlsxWorkbook {

bool offered() noexcept { return false; }

std::string notOffered() {
    return "En Windows el programa no escribe planillas .xlsx (Excel 2007): elija el formato XLS (Excel 97-2003), que "
           "Excel abre igual, o CSV o TXT.";
}

std::unique_ptr<ExcelSheet> create(const std::string&) {
    throw RuntimeError(RuntimeError::SpreadsheetError, notOffered());
}

std::unique_ptr<ExcelSheet> createChecking() { return create({}); }

}  // namespace XlsxWorkbook
