#pragma once

#include "workbook/Spreadsheet.h"
#include "workbook/XlsCellGrid.h"

// The spreadsheet application behind an "Excel.Sheet" object: one worksheet of cells and a visibility flag, no
// window. After Quit every further use of the cells fails as it would once the real application had gone.
class XlsApplication final : public ExcelApplication {
public:
    // Excel's limit on the characters (UTF-16 units) of one cell.
    static constexpr std::size_t MaxCellText = 32767;

    void setVisible(bool visible) override { m_visible = visible; }
    bool Visible() const override { return m_visible; }
    // Text is stored as its UTF-16 characters (malformed UTF-8 becomes U+FFFD); the empty text, like Null,
    // leaves the cell empty. Raises RuntimeError (SpreadsheetError) for a row or column outside the workbook
    // format, a text over 32,767 characters, a number that is not finite, or after Quit; the cell is then
    // unchanged.
    void setCell(std::int32_t row, std::int16_t column, const Value& value) override;
    void Quit() override { m_quit = true; }

    bool hasQuit() const noexcept { return m_quit; }
    const XlsCellGrid& cells() const noexcept { return m_cells; }

private:
    XlsCellGrid m_cells;
    bool m_visible = false;  // an application started for automation shows no window
    bool m_quit = false;
};
