#pragma once

#include "workbook/Spreadsheet.h"

#include <cstdint>
#include <memory>
#include <string>

// Excel 2007 workbooks (.xlsx), where this build writes them. The Linux build writes them with libxlsxwriter
// (workbook/posix/XlsxSheet.h). Debian builds libxlsxwriter for Linux alone, not for MinGW-w64, so the Windows build
// writes none: offered() is false there, front ends do not offer the format, and whatever asks for one anyway gets
// the error that says so.
namespace XlsxWorkbook {

// The rows of a sheet.
inline constexpr std::uint32_t RowLimit = 1048576;

// Whether this build writes .xlsx workbooks.
bool offered() noexcept;

// Why this build writes no .xlsx workbook, in the user's words, naming what to choose instead; empty where it
// writes them.
std::string notOffered();

// The sheet of a new workbook to be saved as `target`: cells come row by row, and SaveAs(target) puts the file in
// place. Raises RuntimeError: FileError when the file cannot be begun; SpreadsheetError, with notOffered(), where the
// build writes no .xlsx.
std::unique_ptr<ExcelSheet> create(const std::string& target);

// A sheet that checks every cell as the file would and keeps none; SaveAs writes nothing (a count). Raises as
// create() does where the build writes no .xlsx.
std::unique_ptr<ExcelSheet> createChecking();

}  // namespace XlsxWorkbook
