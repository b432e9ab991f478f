#include "workbook/Spreadsheet.h"

#include "runtime/RuntimeError.h"
#include "workbook/XlsSheet.h"

#include <strings.h>

std::unique_ptr<ExcelSheet> CreateObject(const std::string& progId) {
    // Class names are matched without regard to case, as the system's registry does.
    if (::strcasecmp(progId.c_str(), "Excel.Sheet") == 0) return std::make_unique<XlsSheet>();
    throw RuntimeError(RuntimeError::SpreadsheetError,
                       "No se puede crear el objeto " + progId + ": solo se puede crear Excel.Sheet");
}
