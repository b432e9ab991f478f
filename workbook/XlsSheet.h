#pragma once

#include "workbook/Spreadsheet.h"
#include "workbook/XlsApplication.h"

#include <string>

// The worksheet object of a new workbook, as CreateObject("Excel.Sheet") hands it out. Its application holds the
// cells; SaveAs writes them as an Excel 97-2003 workbook (BIFF8 in an OLE2 compound file) with one sheet, "Hoja1".
class XlsSheet final : public ExcelSheet {
public:
    ExcelApplication& Application() override { return m_application; }
    // Raises RuntimeError: FileError when the file cannot be written or put in place (a folder of that name, a
    // missing folder, a full disk), SpreadsheetError after Quit or when the workbook cannot be built.
    void SaveAs(const std::string& path) override;

private:
    XlsApplication m_application;
};
