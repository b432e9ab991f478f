#include "jetfile/RowReader.h"

#include "jetfile/JetBytes.h"
#include "jetfile/JetDamage.h"
#include "jetfile/JetText.h"
#include "jetfile/PageCache.h"

#include <algorithm>

using jetbytes::load;
using jetbytes::u16;
using jetbytes::u32;

namespace {

constexpr unsigned kRowOffsetMask = 0x1FFF;
// Row slot flags. 0x4000 alone marks the stub left where a row that grew moved from (its first four bytes point at
// the row's new place); 0x8000 alone marks the row at its new place; both flags mark a deleted row.
constexpr unsigned kRowMovedFlag = 0x4000;
constexpr unsigned kRowNewPlaceFlag = 0x8000;
constexpr unsigned kRowDeletedFlags = 0xC000;
constexpr unsigned char kPageData = 0x01;
constexpr std::size_t kMemoHeader = 12;
// A memo longer than this is taken for damage: Jet memos hold at most 1 GB, real ones far less.
constexpr std::uint32_t kMaxMemoBytes = 64u << 20;

// Where a data page's row count is; its table of row offsets follows.
unsigned rowCountOffset(bool jet3) { return jet3 ? 8 : 12; }

}  // namespace

RowReader::RowReader(PageCache& pages, bool jet3)
    : m_pages(pages), m_jet3(jet3), m_rowCountOffset(rowCountOffset(jet3)) {}

bool RowReader::slot(const unsigned char* page, unsigned row, std::uint32_t pageSize, bool jet3, std::uint32_t& start,
                     std::uint32_t& size) {
    const unsigned table = rowCountOffset(jet3);
    if (row >= u16(page + table) || table + 4 + row * 2 > pageSize) return false;
    start = u16(page + table + 2 + row * 2) & kRowOffsetMask;
    const std::uint32_t next = row == 0 ? pageSize : u16(page + table + row * 2) & kRowOffsetMask;
    if (start >= pageSize || start >= next || next > pageSize) return false;
    size = next - start;
    return true;
}

bool RowReader::slot(const unsigned char* page, unsigned row, Slot& found) const {
    if (!slot(page, row, m_pages.pageSize(), m_jet3, found.start, found.size)) return false;
    found.flags = u16(page + m_rowCountOffset + 2 + row * 2) & ~kRowOffsetMask;
    return true;
}

// Data page `pg` of the table; checked: a data page of this table whose offset table lies inside it.
const unsigned char* RowReader::dataPage(const JetTableInfo& table, std::uint32_t pg) const {
    const unsigned char* page = m_pages.page(table.name, pg);
    if (page[0] != kPageData || u32(page + 4) != table.definitionPage) [[unlikely]]
        throwDamaged(m_pages.path(), table.name, "la página " + std::to_string(pg) + " no es de sus datos");
    if (u16(page + m_rowCountOffset) > m_pages.pageSize() / 2) [[unlikely]]
        throwDamaged(m_pages.path(), table.name, "una página dice tener más filas de las que caben");
    return page;
}

std::string RowReader::readMemo(const std::string& table, const unsigned char* field, std::size_t size) const {
    if (size < kMemoHeader) return {};
    const std::uint32_t header = u32(field);
    const std::uint32_t length = header & 0x3FFFFFFF;
    if (header & 0x80000000) return jetText(field + kMemoHeader, size - kMemoHeader, m_jet3);
    if (length > kMaxMemoBytes) throwDamaged(m_pages.path(), table, "un texto largo dice tener un largo imposible");
    if ((header & 0xBF000000) != 0)
        throwDamaged(m_pages.path(), table, "un texto largo está guardado de un modo desconocido");
    // The memo's row on another page, named by page << 8 | row: the whole text, or the first piece of a chain whose
    // pieces each start with the place of the next.
    const auto piece = [&](std::uint32_t pgRow, std::size_t header) {
        Slot found{};
        const std::uint32_t pg = pgRow >> 8;
        if (pg == 0 || pg >= m_pages.pageCount())
            throwDamaged(m_pages.path(), table, "no se puede leer la página de un texto largo");
        const unsigned char* page = m_pages.page(table, pg);
        if (!slot(page, pgRow & 0xFF, found) || found.size < header)
            throwDamaged(m_pages.path(), table, "no se puede leer la página de un texto largo");
        return std::pair(page + found.start, std::size_t(found.size));
    };
    if (header & 0x40000000) {
        const auto [bytes, stored] = piece(u32(field + 4), 0);
        return jetText(bytes, std::min<std::size_t>(stored, length), m_jet3);
    }
    std::string bytes;
    bytes.reserve(length);
    // Each page in the chain adds at least one byte, so a chain longer than the memo is a loop.
    std::uint32_t pgRow = u32(field + 4);
    for (std::uint32_t hops = 0; pgRow != 0; ++hops) {
        if (hops > length) throwDamaged(m_pages.path(), table, "las páginas de un texto largo forman un ciclo");
        const auto [chunk, stored] = piece(pgRow, 4);
        if (bytes.size() + (stored - 4) > length)
            throwDamaged(m_pages.path(), table, "un texto largo es más largo de lo que dice");
        bytes.append(reinterpret_cast<const char*>(chunk + 4), stored - 4);
        pgRow = u32(chunk);
    }
    return jetText(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), m_jet3);
}

inline void RowReader::decodeField(const JetTableInfo& table, const JetColumn& column, const unsigned char* p,
                                   long size, Value& into) const {
    const auto need = [&](long bytes) {
        if (size < bytes) [[unlikely]]
            throwDamaged(m_pages.path(), table.name, "field shorter than its type");
    };
    switch (column.type) {
        case JetType::Byte:
            need(1);
            into.setInteger(p[0]);
            break;
        case JetType::Integer:
            need(2);
            into.setInteger(load<std::int16_t>(p));
            break;
        case JetType::Long:
            need(4);
            into.setInteger(load<std::int32_t>(p));
            break;
        case JetType::Currency:
            need(8);
            into.setReal(double(load<std::int64_t>(p)) / 10000.0);
            break;
        case JetType::Single:
            need(4);
            into.setReal(load<float>(p));
            break;
        case JetType::Double:
            need(8);
            into.setReal(load<double>(p));
            break;
        case JetType::DateTime:
            need(8);
            into.setDate(load<double>(p));
            break;
        case JetType::Text: appendJetText(p, std::size_t(size), m_jet3, into.setText()); break;
        case JetType::Memo: into.setText() = readMemo(table.name, p, std::size_t(size)); break;
        case JetType::Boolean: break;
    }
}

// The offsets of a Jet 3 row's variable columns, and of their end: one byte each, stored backwards before the
// count of them, each plus 256 for every entry of the jump table (the variable columns that start past each 256
// bytes of the row) it is at or past. False for a row whose tables do not fit it.
bool RowReader::jet3VariableOffsets(const unsigned char* page, const Slot& row, unsigned bitmask, unsigned count) {
    const unsigned rowEnd = row.start + row.size - 1;
    unsigned jumps = (row.size - 1) / 256;
    const unsigned last = rowEnd - bitmask - jumps - 1;
    // A last jump entry that no column needs is a filler.
    if ((last - row.start - count) / 256 < jumps) --jumps;
    if (bitmask + jumps + 1 > rowEnd || last >= m_pages.pageSize() || last < count) return false;
    m_jet3Offsets.resize(count + 1);
    unsigned used = 0;
    for (unsigned i = 0; i <= count; ++i) {
        while (used < jumps && i == page[rowEnd - bitmask - used - 1]) ++used;
        m_jet3Offsets[i] = page[last - i] + used * 256;
    }
    return true;
}

// Decodes the columns asked for of `row` on `page`. A row is laid out as: its column count (2 bytes in Jet 4, 1 in
// Jet 3), the fixed columns, the variable ones, then from its end backwards the null mask (a bit per column), the
// count of variable columns and their offsets (one more than there are). A row written before columns were added
// holds fewer of them: those it lacks are Null.
void RowReader::decodeRow(const JetTableInfo& table, std::uint32_t pg, const unsigned char* page, const Slot& row,
                          std::span<const int> columns, Value* const* into) {
    const unsigned start = row.start;
    const unsigned rowEnd = start + row.size - 1;
    const std::size_t pageSize = m_pages.pageSize();
    const auto unreadable = [&] { throwDamaged(m_pages.path(), table.name, "una fila no se puede leer"); };
    const unsigned rowColumns = m_jet3 ? page[start] : u16(page + start);
    const unsigned bitmask = (rowColumns + 7) / 8;
    if (bitmask + (m_jet3 ? 0 : 1) >= rowEnd) unreadable();
    const unsigned nullMask = rowEnd - bitmask + 1;
    unsigned rowVarColumns = 0;
    if (table.variableColumns > 0) {
        if (m_jet3) {
            rowVarColumns = page[rowEnd - bitmask];
            if (!jet3VariableOffsets(page, row, bitmask, rowVarColumns)) unreadable();
        } else {
            rowVarColumns = u16(page + rowEnd - bitmask - 1);
            if (bitmask + 3 + rowVarColumns * 2 + 2 > rowEnd) unreadable();
        }
    }
    // The offsets of the variable columns run backwards from before the count of them.
    const auto varOffset = [&](unsigned i) -> unsigned {
        return m_jet3 ? m_jet3Offsets[i] : u16(page + rowEnd - bitmask - 3 - i * 2);
    };
    const unsigned rowFixedColumns = rowColumns - rowVarColumns;
    const long rowStart = long(start), rowLimit = long(start + row.size);
    const long countSize = m_jet3 ? 1 : 2;
    const JetColumn* const tableColumns = table.columns.data();
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const JetColumn& column = tableColumns[columns[i]];
        Value& value = *into[i];
        const std::size_t maskByte = nullMask + unsigned(column.number) / 8;
        bool isNull = maskByte >= pageSize || !(page[maskByte] & (1u << (unsigned(column.number) % 8)));
        long fieldStart = 0, fieldSize = 0;
        if (column.fixed && unsigned(column.fixedOrdinal) < rowFixedColumns) {
            fieldStart = rowStart + column.fixedOffset + countSize;
            fieldSize = column.size;
        } else if (!column.fixed && unsigned(column.varNumber) < rowVarColumns) {
            const unsigned columnStart = varOffset(unsigned(column.varNumber));
            fieldStart = rowStart + long(columnStart);
            fieldSize = int(varOffset(unsigned(column.varNumber) + 1) - columnStart);
        } else {
            isNull = true;
        }
        if (fieldStart + fieldSize > rowLimit) unreadable();
        if (column.type == JetType::Boolean) {
            // A Yes/No value lives in the null mask: a set bit is Yes (-1).
            value.setInteger(isNull ? 0 : -1);
            continue;
        }
        if (isNull) {
            value.setNull();
            continue;
        }
        if (fieldSize < 0 || fieldStart < rowStart) [[unlikely]]
            throwDamaged(m_pages.path(), table.name, "un campo sale de su fila");
        decodeField(table, column, page + fieldStart, fieldSize, value);
        // A memo read along its pages may have taken this page's place in the cache.
        if (column.type == JetType::Memo) page = dataPage(table, pg);
    }
}

bool RowReader::rowsOnPage(const JetTableInfo& table, std::uint32_t pg, std::span<const int> columns,
                           Value* const* into, const std::function<bool(RowPointer)>& each) {
    const unsigned char* page = dataPage(table, pg);
    const unsigned count = u16(page + m_rowCountOffset);
    for (unsigned row = 0; row < count; ++row) {
        Slot found{};
        // A row that grew and moved keeps its place in the table's order at its first slot, as Jet reads it: it is
        // read where its stub is and passed over where it lies.
        if (!slot(page, row, found) || (found.flags & kRowNewPlaceFlag)) continue;
        if (found.flags & kRowMovedFlag) {
            if (!rowAt(table, {pg, std::uint8_t(row)}, columns, into)) continue;
        } else {
            decodeRow(table, pg, page, found, columns, into);
        }
        if (!each({pg, std::uint8_t(row)})) return false;
        // What `each` read may have taken the page's place in the cache.
        page = dataPage(table, pg);
    }
    return true;
}

bool RowReader::rowBytesOnPage(const JetTableInfo& table, std::uint32_t pg,
                               const std::function<bool(RowPointer, std::string_view)>& each) {
    const unsigned char* page = dataPage(table, pg);
    const unsigned count = u16(page + m_rowCountOffset);
    for (unsigned row = 0; row < count; ++row) {
        Slot found{};
        if (!slot(page, row, found) || (found.flags & kRowNewPlaceFlag)) continue;
        const RowPointer first{pg, std::uint8_t(row)};
        if (found.flags & kRowMovedFlag) {
            const std::string_view moved = rowBytes(table, first);
            if (!moved.empty() && !each(first, moved)) return false;
            // Reading where the row lies may have taken the page's place in the cache.
            page = dataPage(table, pg);
        } else if (!each(first, {reinterpret_cast<const char*>(page) + found.start, found.size})) {
            return false;
        }
    }
    return true;
}

bool RowReader::rowAt(const JetTableInfo& table, RowPointer pointer, std::span<const int> columns, Value* const* into) {
    Slot found{};
    const unsigned char* page = locate(table, pointer, found);
    if (!page) return false;
    decodeRow(table, pointer.page, page, found, columns, into);
    return true;
}

std::string_view RowReader::rowBytes(const JetTableInfo& table, RowPointer pointer) {
    Slot found{};
    const unsigned char* page = locate(table, pointer, found);
    if (!page) return {};
    return {reinterpret_cast<const char*>(page) + found.start, found.size};
}

void RowReader::decodeBytes(const JetTableInfo& table, std::string_view row, std::span<const int> columns,
                            Value* const* into) {
    decodeRow(table, 0, reinterpret_cast<const unsigned char*>(row.data()), Slot{0, std::uint32_t(row.size()), 0},
              columns, into);
}

bool RowReader::place(const JetTableInfo& table, RowPointer& pointer) {
    Slot found{};
    return locate(table, pointer, found) != nullptr;
}

const unsigned char* RowReader::locate(const JetTableInfo& table, RowPointer& pointer, Slot& found) {
    for (int hop = 0; hop < 2; ++hop) {
        const unsigned char* page = dataPage(table, pointer.page);
        if (!slot(page, pointer.row, found))
            throwDamaged(m_pages.path(), table.name, "un índice señala una fila que no existe");
        if ((found.flags & kRowDeletedFlags) == kRowDeletedFlags) return nullptr;
        if (!(found.flags & kRowMovedFlag)) return page;
        // A row that grew: its new place is in the stub's first four bytes (slot, then page).
        const unsigned char* stub = page + found.start;
        if (found.size < 4) throwDamaged(m_pages.path(), table.name, "una fila movida no dice adónde");
        pointer = {std::uint32_t(stub[1]) | std::uint32_t(stub[2]) << 8 | std::uint32_t(stub[3]) << 16, stub[0]};
    }
    throwDamaged(m_pages.path(), table.name, "una fila movida señala otra fila movida");
}
