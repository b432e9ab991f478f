#include "workbook/XlsCellGrid.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <stdexcept>

namespace {

// Cells per block: room for many rows of the widest kind (256 cells), in a block small enough that its unused
// end costs little.
constexpr std::uint32_t CellBlockSize = 4096;
// Characters per text block; a longer text gets a block of its own size.
constexpr int TextBlockBits = 15;
constexpr std::size_t TextBlockSize = std::size_t{1} << TextBlockBits;

void checkPlace(std::uint32_t row, std::uint16_t column) {
    if (row >= XlsCellGrid::RowLimit || column >= XlsCellGrid::ColumnLimit)
        throw std::out_of_range("la celda está fuera de la hoja");
}

}  // namespace

XlsCellGrid::Cell* XlsCellGrid::cellsOf(const RowPlace& place) const noexcept {
    return m_cellBlocks[place.start / CellBlockSize].get() + place.start % CellBlockSize;
}

// Gives the row room for one more cell. The row last handed cells grows where it is; any other moves to the end,
// with room to double, leaving its old cells unused (rows filled out of order are rare, so that waste stays small).
void XlsCellGrid::makeRoom(RowPlace& place) {
    const auto blocksEnd = static_cast<std::uint32_t>(m_cellBlocks.size()) * CellBlockSize;
    if (place.capacity > 0 && place.start + place.capacity == m_cellsTaken && m_cellsTaken < blocksEnd) {
        ++place.capacity;
        ++m_cellsTaken;
        return;
    }
    const auto capacity = static_cast<std::uint16_t>(std::clamp<std::uint32_t>(2u * place.size, 1, ColumnLimit));
    if (blocksEnd - m_cellsTaken < capacity) {
        m_cellBlocks.push_back(std::make_unique<Cell[]>(CellBlockSize));
        m_cellsTaken = blocksEnd;
    }
    const RowPlace moved{m_cellsTaken, place.size, capacity};
    if (place.size > 0) std::copy_n(cellsOf(place), place.size, cellsOf(moved));
    m_cellsTaken += capacity;
    place = moved;
}

XlsCellGrid::Cell& XlsCellGrid::place(std::uint32_t row, std::uint16_t column) {
    checkPlace(row, column);
    if (row >= m_rows.size()) m_rows.resize(row + 1);
    RowPlace& place = m_rows[row];
    // Rows are filled left to right, so the new cell nearly always goes at the end.
    std::uint16_t at = place.size;
    if (place.size > 0 && cellsOf(place)[place.size - 1].m_column >= column) {
        Cell* cells = cellsOf(place);
        at = static_cast<std::uint16_t>(
            std::lower_bound(cells, cells + place.size, column,
                             [](const Cell& cell, std::uint16_t c) { return cell.m_column < c; }) -
            cells);
        if (cells[at].m_column == column) return cells[at];
    }
    if (place.size == place.capacity) makeRoom(place);
    Cell* cells = cellsOf(place);
    std::copy_backward(cells + at, cells + place.size, cells + place.size + 1);
    ++place.size;
    cells[at] = Cell{};
    cells[at].m_column = static_cast<std::uint8_t>(column);
    return cells[at];
}

void XlsCellGrid::setNumber(std::uint32_t row, std::uint16_t column, double value) {
    Cell& cell = place(row, column);
    release(cell);
    // The numbers the payload holds, and a number that is one of them exactly (its bits, -0 not being 0).
    constexpr double Bound = 1 << (Cell::PayloadBits - 1);
    const auto same = [value](double held) {
        return std::bit_cast<std::uint64_t>(held) == std::bit_cast<std::uint64_t>(value);
    };
    if (value >= -Bound && value < Bound && same(static_cast<std::int32_t>(value))) {
        cell.set(Cell::Kind::Whole, static_cast<std::uint32_t>(static_cast<std::int32_t>(value)));
        return;
    }
    const double hundredths = std::nearbyint(value * 100);
    if (hundredths >= -Bound && hundredths < Bound && same(static_cast<std::int32_t>(hundredths) / 100.0)) {
        cell.set(Cell::Kind::Hundredths, static_cast<std::uint32_t>(static_cast<std::int32_t>(hundredths)));
        return;
    }
    std::uint32_t at;
    if (m_freeNumbers.empty()) {
        at = static_cast<std::uint32_t>(m_keptNumbers.size());
        m_keptNumbers.push_back(value);
    } else {
        at = m_freeNumbers.back();
        m_freeNumbers.pop_back();
        m_keptNumbers[at] = value;
    }
    cell.set(Cell::Kind::Kept, at);
}

double XlsCellGrid::number(const Cell& cell) const noexcept {
    switch (cell.kind()) {
        case Cell::Kind::Whole: return cell.signedPayload();
        case Cell::Kind::Hundredths: return cell.signedPayload() / 100.0;
        case Cell::Kind::Kept: return m_keptNumbers[cell.payload()];
        case Cell::Kind::Text: break;
    }
    return 0;
}

// Frees what a cell about to change keeps beside the cells.
void XlsCellGrid::release(const Cell& cell) {
    if (cell.kind() == Cell::Kind::Kept) m_freeNumbers.push_back(cell.payload());
}

void XlsCellGrid::setText(std::uint32_t row, std::uint16_t column, std::u16string_view text) {
    checkPlace(row, column);
    const std::uint32_t id = textId(text);
    Cell& cell = place(row, column);
    release(cell);
    cell.set(Cell::Kind::Text, id);
}

// The id of `text`, stored first when it is new.
std::uint32_t XlsCellGrid::textId(std::u16string_view text) {
    const std::hash<std::u16string_view> hash;
    // At most half the slots taken: probes stay short.
    if (2 * (m_texts.size() + 1) > m_textSlots.size()) {
        std::vector<std::uint32_t> slots(std::max<std::size_t>(1024, 2 * m_textSlots.size()), 0);
        const std::size_t mask = slots.size() - 1;
        for (std::uint32_t id = 0; id < m_texts.size(); ++id) {
            std::size_t at = hash(this->text(id)) & mask;
            while (slots[at] != 0) at = (at + 1) & mask;
            slots[at] = id + 1;
        }
        m_textSlots = std::move(slots);
    }
    const std::size_t mask = m_textSlots.size() - 1;
    std::size_t at = hash(text) & mask;
    for (; m_textSlots[at] != 0; at = (at + 1) & mask)
        if (this->text(m_textSlots[at] - 1) == text) return m_textSlots[at] - 1;

    if (m_texts.size() >= (1u << Cell::PayloadBits)) throw std::length_error("demasiados textos para una hoja");
    if (m_textRoom < text.size()) {
        if (m_textBlocks.size() >= (std::size_t{1} << (32 - TextBlockBits)) ||
            text.size() > std::numeric_limits<std::uint32_t>::max())
            throw std::length_error("demasiado texto para una hoja");
        m_textRoom = std::max(TextBlockSize, text.size());
        m_textBlocks.push_back(std::make_unique_for_overwrite<char16_t[]>(m_textRoom));
        m_textTaken = 0;
    }
    const auto id = static_cast<std::uint32_t>(m_texts.size());
    m_texts.push_back({static_cast<std::uint32_t>((m_textBlocks.size() - 1) << TextBlockBits | m_textTaken),
                       static_cast<std::uint32_t>(text.size())});
    std::copy(text.begin(), text.end(), m_textBlocks.back().get() + m_textTaken);
    m_textTaken += text.size();
    m_textRoom -= text.size();
    m_textSlots[at] = id + 1;
    return id;
}

std::u16string_view XlsCellGrid::text(std::uint32_t id) const {
    const TextPlace place = m_texts.at(id);
    if (place.size == 0) return {};  // the empty text has no place in a block
    return {m_textBlocks[place.at >> TextBlockBits].get() + (place.at & (TextBlockSize - 1)), place.size};
}

void XlsCellGrid::clear(std::uint32_t row, std::uint16_t column) {
    checkPlace(row, column);
    if (row >= m_rows.size()) return;
    RowPlace& place = m_rows[row];
    if (place.size == 0) return;
    Cell* cells = cellsOf(place);
    Cell* const end = cells + place.size;
    Cell* it =
        std::lower_bound(cells, end, column, [](const Cell& cell, std::uint16_t c) { return cell.m_column < c; });
    if (it == end || it->m_column != column) return;
    release(*it);
    std::copy(it + 1, end, it);
    --place.size;
}

std::span<const XlsCellGrid::Cell> XlsCellGrid::row(std::uint32_t row) const noexcept {
    if (row >= m_rows.size() || m_rows[row].size == 0) return {};
    return {cellsOf(m_rows[row]), m_rows[row].size};
}
