#pragma once

#include "runtime/Value.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// A stand-in for the spreadsheet application reached through automation, shaped as the program uses it:
// CreateObject("Excel.Sheet") gives a worksheet of a new workbook; its Application has Visible, Cells(row,
// column).Value and Quit; the sheet has SaveAs(path), which writes an Excel 97-2003 workbook (.xls).
class ExcelApplication {
public:
    virtual ~ExcelApplication() = default;

    virtual void setVisible(bool visible) = 0;
    virtual bool Visible() const = 0;
    // Sets one cell (row and column from 1). A value is text, a number or absent (Null: an empty cell); a date
    // is kept as its number. A row beyond the format's 65,536 rows, or a column beyond 256, raises RuntimeError.
    virtual void setCell(std::int32_t row, std::int16_t column, const Value& value) = 0;
    virtual void Quit() = 0;
};

class ExcelSheet {
public:
    virtual ~ExcelSheet() = default;

    virtual ExcelApplication& Application() = 0;
    // Writes the workbook to a temporary file beside `path`, then puts it in place of `path` (an existing file is
    // replaced without a question). A failure raises RuntimeError and leaves `path` as it was.
    virtual void SaveAs(const std::string& path) = 0;
};

// Creates the automation object named `progId`; only "Excel.Sheet" is known. Raises RuntimeError otherwise.
std::unique_ptr<ExcelSheet> CreateObject(const std::string& progId);

// How the program creates automation objects; tests replace it to make the creation fail.
using ObjectFactory = std::function<std::unique_ptr<ExcelSheet>(const std::string& progId)>;
