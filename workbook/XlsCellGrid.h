#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The cells of one worksheet, kept sparse: per row only the cells that hold a value, in column order, and each
// distinct text stored once. Rows and columns count from 0 here.
//
// A sheet may hold a million cells, all kept until the workbook is written, so they are kept small: five bytes a
// cell, the cells of a row side by side in blocks that never move (no copy of the whole sheet as it grows), and
// the texts one after another in blocks of their own, found again through a table of their ids.
class XlsCellGrid {
public:
    static constexpr std::uint32_t RowLimit = 65536;
    static constexpr std::uint32_t ColumnLimit = 256;

    // A cell that holds a value, in five bytes: its column, and the id of its text or its number. A whole number
    // or one of whole hundredths (an amount) fits in the cell; any other number is kept beside the cells.
    class Cell {
    public:
        std::uint16_t column() const noexcept { return m_column; }
        bool isText() const noexcept { return kind() == Kind::Text; }
        // The text id of a text cell.
        std::uint32_t text() const noexcept { return payload(); }

    private:
        friend class XlsCellGrid;
        enum class Kind : std::uint8_t { Text, Whole, Hundredths, Kept };
        static constexpr int PayloadBits = 30;

        std::uint32_t bits() const noexcept { return std::bit_cast<std::uint32_t>(m_value); }
        Kind kind() const noexcept { return static_cast<Kind>(bits() >> PayloadBits); }
        std::uint32_t payload() const noexcept { return bits() & ((1u << PayloadBits) - 1); }
        // The payload of a Whole or Hundredths cell, as the signed number it holds.
        std::int32_t signedPayload() const noexcept {
            return static_cast<std::int32_t>(bits() << (32 - PayloadBits)) >> (32 - PayloadBits);
        }
        void set(Kind kind, std::uint32_t payload) noexcept {
            m_value = std::bit_cast<std::array<std::uint8_t, 4>>(static_cast<std::uint32_t>(kind) << PayloadBits |
                                                                 (payload & ((1u << PayloadBits) - 1)));
        }

        std::uint8_t m_column = 0;
        std::array<std::uint8_t, 4> m_value{};  // unaligned, so that a cell takes five bytes
    };

    // Each places a value, replacing whatever the cell held. A row or column beyond the limits is a programming
    // error (std::out_of_range); the callers check them against the user's numbering first.
    void setNumber(std::uint32_t row, std::uint16_t column, double value);
    void setText(std::uint32_t row, std::uint16_t column, std::u16string_view text);
    void clear(std::uint32_t row, std::uint16_t column);

    // One past the last row that has held a cell; rows below it may be empty.
    std::uint32_t rowSpan() const noexcept { return static_cast<std::uint32_t>(m_rows.size()); }
    // The cells of `row`, in column order; empty for a row at or beyond rowSpan(). Valid until the next change.
    std::span<const Cell> row(std::uint32_t row) const noexcept;
    // The value of a number cell, with the bits it was set with.
    double number(const Cell& cell) const noexcept;
    // The text with the given id (Cell::text()); ids and their texts stay valid while the grid lives.
    std::u16string_view text(std::uint32_t id) const;
    // How many distinct texts were ever stored, referenced or not.
    std::size_t textCount() const noexcept { return m_texts.size(); }

private:
    // Where a row's cells lie: `size` cells from `start` (a cell's number across the blocks), with room for
    // `capacity` before the next row's.
    struct RowPlace {
        std::uint32_t start = 0;
        std::uint16_t size = 0;
        std::uint16_t capacity = 0;
    };

    Cell& place(std::uint32_t row, std::uint16_t column);
    void makeRoom(RowPlace& place);
    Cell* cellsOf(const RowPlace& place) const noexcept;
    std::uint32_t textId(std::u16string_view text);
    void release(const Cell& cell);

    std::vector<RowPlace> m_rows;
    std::vector<std::unique_ptr<Cell[]>> m_cellBlocks;
    std::uint32_t m_cellsTaken = 0;  // cells handed out across the blocks, the last one's free room after them

    std::deque<double> m_keptNumbers;          // of the Kept cells
    std::vector<std::uint32_t> m_freeNumbers;  // places in m_keptNumbers no cell uses

    std::vector<std::unique_ptr<char16_t[]>> m_textBlocks;
    // Where a text lies: its block (all but one text's own block hold TextBlockSize characters) and its first
    // character there, as block << TextBlockBits | first, and its length.
    struct TextPlace {
        std::uint32_t at;
        std::uint32_t size;
    };

    std::size_t m_textTaken = 0;             // characters taken in the last text block
    std::size_t m_textRoom = 0;              // and those still free
    std::vector<TextPlace> m_texts;          // by id
    std::vector<std::uint32_t> m_textSlots;  // open addressing by hash: id + 1, or 0 where free
};
