#pragma once

#include "workbook/Spreadsheet.h"

#include <cstdint>
#include <memory>
#include <string>

// The worksheet of a new Office Open XML workbook (.xlsx), written by libxlsxwriter in its constant-memory mode: a
// row goes to a temporary file as soon as a later row starts, so memory stays flat however many rows there are.
// It holds what an XlsSheet holds (texts, numbers, a date as its number, no cell for Null or the empty text, one
// sheet "Hoja1") up to the format's 1,048,576 rows, and raises the same errors for a cell the format cannot hold.
// Cells come row by row, as the export writes them: a cell on a row above the last one written raises
// RuntimeError (SpreadsheetError).
class XlsxSheet final : public ExcelSheet {
public:
    static constexpr std::uint32_t RowLimit = 1048576;
    static constexpr std::uint32_t ColumnLimit = 16384;

    // A sheet to be saved as `target`. libxlsxwriter needs its file's name from the start: the workbook is begun
    // in a temporary file beside `target`, created here. Raises RuntimeError (FileError) when it cannot be.
    explicit XlsxSheet(const std::string& target);
    // A sheet that checks every cell as the file would and keeps none; SaveAs writes nothing.
    XlsxSheet();
    // An unsaved workbook is discarded with its temporary file.
    ~XlsxSheet() override;

    ExcelApplication& Application() override;
    // Finishes the workbook and puts it in place of `path`, the target it was begun for. Raises RuntimeError:
    // FileError when it cannot be written or put in place (another path, a folder of that name, a full disk), the
    // temporary file then removed and `path` as it was; SpreadsheetError after Quit or once saved.
    void SaveAs(const std::string& path) override;

private:
    class Book;
    std::unique_ptr<Book> m_book;
};
