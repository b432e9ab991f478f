#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

// The cells of one worksheet, kept sparse: per row only the cells that hold a value, in column order, and each
// distinct text stored once. Rows and columns count from 0 here.
class XlsCellGrid {
public:
    static constexpr std::uint32_t RowLimit = 65536;
    static constexpr std::uint32_t ColumnLimit = 256;

    struct Cell {
        double number = 0;       // the value of a number cell
        std::uint32_t text = 0;  // the text id of a text cell
        std::uint16_t column = 0;
        bool isText = false;
    };

    // Each places a value, replacing whatever the cell held. A row or column beyond the limits is a programming
    // error (std::out_of_range); the callers check them against the user's numbering first.
    void setNumber(std::uint32_t row, std::uint16_t column, double value);
    void setText(std::uint32_t row, std::uint16_t column, std::u16string text);
    void clear(std::uint32_t row, std::uint16_t column);

    // One past the last row that has held a cell; rows below it may be empty.
    std::uint32_t rowSpan() const noexcept { return static_cast<std::uint32_t>(m_rows.size()); }
    // The cells of `row`, in column order; empty for a row at or beyond rowSpan().
    std::span<const Cell> row(std::uint32_t row) const noexcept;
    // The text with the given id (Cell::text); ids stay valid while the grid lives.
    const std::u16string& text(std::uint32_t id) const { return *m_texts.at(id); }
    // How many distinct texts were ever stored, referenced or not.
    std::size_t textCount() const noexcept { return m_texts.size(); }

private:
    Cell& place(std::uint32_t row, std::uint16_t column);

    std::vector<std::vector<Cell>> m_rows;
    std::unordered_map<std::u16string, std::uint32_t> m_textIds;
    std::vector<const std::u16string*> m_texts;  // keys of m_textIds, by id
};
