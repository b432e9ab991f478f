#include "workbook/XlsCellGrid.h"

#include <algorithm>
#include <stdexcept>

namespace {

void checkPlace(std::uint32_t row, std::uint16_t column) {
    if (row >= XlsCellGrid::RowLimit || column >= XlsCellGrid::ColumnLimit)
        throw std::out_of_range("cell outside the worksheet");
}

auto findColumn(std::vector<XlsCellGrid::Cell>& cells, std::uint16_t column) {
    return std::lower_bound(cells.begin(), cells.end(), column,
                            [](const XlsCellGrid::Cell& cell, std::uint16_t c) { return cell.column < c; });
}

}  // namespace

XlsCellGrid::Cell& XlsCellGrid::place(std::uint32_t row, std::uint16_t column) {
    checkPlace(row, column);
    if (row >= m_rows.size()) m_rows.resize(row + 1);
    std::vector<Cell>& cells = m_rows[row];
    // Rows are mostly alike: a new row gets room for as many cells as the row above it.
    if (cells.capacity() == 0 && row > 0) cells.reserve(m_rows[row - 1].size());
    // Rows are filled left to right, so the new cell nearly always goes at the end.
    if (cells.empty() || cells.back().column < column) return cells.emplace_back(Cell{.column = column});
    auto it = findColumn(cells, column);
    if (it == cells.end() || it->column != column) it = cells.insert(it, Cell{.column = column});
    return *it;
}

void XlsCellGrid::setNumber(std::uint32_t row, std::uint16_t column, double value) {
    Cell& cell = place(row, column);
    cell.isText = false;
    cell.number = value;
}

void XlsCellGrid::setText(std::uint32_t row, std::uint16_t column, std::u16string text) {
    checkPlace(row, column);
    auto [it, added] = m_textIds.try_emplace(std::move(text), static_cast<std::uint32_t>(m_texts.size()));
    if (added) m_texts.push_back(&it->first);
    Cell& cell = place(row, column);
    cell.isText = true;
    cell.text = it->second;
}

void XlsCellGrid::clear(std::uint32_t row, std::uint16_t column) {
    checkPlace(row, column);
    if (row >= m_rows.size()) return;
    std::vector<Cell>& cells = m_rows[row];
    auto it = findColumn(cells, column);
    if (it != cells.end() && it->column == column) cells.erase(it);
}

std::span<const XlsCellGrid::Cell> XlsCellGrid::row(std::uint32_t row) const noexcept {
    if (row >= m_rows.size()) return {};
    return m_rows[row];
}
