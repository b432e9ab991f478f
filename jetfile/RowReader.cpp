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
// the row's new place, flagged 0x8000); both flags mark a deleted row.
constexpr unsigned kRowMovedFlag = 0x4000;
constexpr unsigned kRowDeletedFlags = 0xC000;
constexpr unsigned char kPageData = 0x01;
constexpr std::size_t kMemoHeader = 12;
// A memo longer than this is taken for damage: Jet memos hold at most 1 GB, real ones far less.
constexpr std::uint32_t kMaxMemoBytes = 64u << 20;

}  // namespace

RowReader::RowReader(LibmdbHandle& mdb, PageCache& pages, bool jet3) : m_mdb(mdb), m_pages(pages), m_jet3(jet3) {}

// Row `row` of `page` as the page's offset table gives it: its start (the offset without flags) and its size, up
// to the start of the row before it (rows fill the page from its end).
bool RowReader::slot(const unsigned char* page, unsigned row, Slot& found) const {
    const unsigned table = m_mdb.format().row_count_offset;
    const unsigned pageSize = m_pages.pageSize();
    const unsigned raw = u16(page + table + 2 + row * 2);
    const unsigned start = raw & kRowOffsetMask;
    const unsigned next = row == 0 ? pageSize : u16(page + table + row * 2) & kRowOffsetMask;
    if (start >= pageSize || start >= next || next > pageSize) return false;
    found = {start, next - start, raw & ~kRowOffsetMask};
    return true;
}

// Data page `pg` of the table; checked: a data page of this table whose offset table lies inside it.
const unsigned char* RowReader::dataPage(const JetTableInfo& table, MdbTableDef* definition, std::uint32_t pg) const {
    const unsigned char* page = m_pages.page(table.name, pg);
    if (page[0] != kPageData || u32(page + 4) != definition->entry->table_pg ||
        u16(page + m_mdb.format().row_count_offset) > m_pages.pageSize() / 2) [[unlikely]]
        notADataPage(table, definition, page, pg);
    return page;
}

void RowReader::notADataPage(const JetTableInfo& table, MdbTableDef* definition, const unsigned char* page,
                             std::uint32_t pg) const {
    if (page[0] != kPageData || u32(page + 4) != definition->entry->table_pg)
        throwDamaged(m_pages.path(), table.name, "page " + std::to_string(pg) + " is not one of its data pages");
    throwDamaged(m_pages.path(), table.name, "row count out of range");
}

std::string RowReader::readMemo(const std::string& table, const unsigned char* field, std::size_t size) const {
    if (size < kMemoHeader) return {};
    const std::uint32_t header = u32(field);
    const std::uint32_t length = header & 0x3FFFFFFF;
    if (header & 0x80000000) return jetText(field + kMemoHeader, size - kMemoHeader, m_jet3);
    if (length > kMaxMemoBytes) throwDamaged(m_pages.path(), table, "memo length out of range");
    if ((header & 0xBF000000) != 0) throwDamaged(m_pages.path(), table, "unknown memo storage");
    // The memo's row on another page, named by page << 8 | row: the whole text, or the first piece of a chain whose
    // pieces each start with the place of the next.
    const auto piece = [&](std::uint32_t pgRow, std::size_t header) {
        Slot found{};
        const std::uint32_t pg = pgRow >> 8;
        if (pg == 0 || pg >= m_pages.pageCount()) throwDamaged(m_pages.path(), table, "memo page unreadable");
        const unsigned char* page = m_pages.page(table, pg);
        if ((pgRow & 0xFF) >= u16(page + m_mdb.format().row_count_offset) || !slot(page, pgRow & 0xFF, found) ||
            found.size < header)
            throwDamaged(m_pages.path(), table, "memo page unreadable");
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
        if (hops > length) throwDamaged(m_pages.path(), table, "memo page chain loops");
        const auto [chunk, stored] = piece(pgRow, 4);
        if (bytes.size() + (stored - 4) > length) throwDamaged(m_pages.path(), table, "memo longer than its length");
        bytes.append(reinterpret_cast<const char*>(chunk + 4), stored - 4);
        pgRow = u32(chunk);
    }
    return jetText(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), m_jet3);
}

void RowReader::decodeField(const JetTableInfo& table, const JetColumn& column, const unsigned char* p, int size,
                            Value& into) const {
    const auto need = [&](int bytes) {
        if (size < bytes) throwDamaged(m_pages.path(), table.name, "field shorter than its type");
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

// Decodes the columns asked for of `row` on `page`. A Jet 4 row is laid out as: its column count (2 bytes), the
// fixed columns, the variable ones, then from its end backwards the null mask (a bit per column), the count of
// variable columns (2 bytes) and their offsets (2 bytes each, one more than there are). A row written before
// columns were added holds fewer of them: those it lacks are Null.
void RowReader::decodeRow(const JetTableInfo& table, MdbTableDef* definition, std::uint32_t pg,
                          const unsigned char* page, const Slot& row, std::span<const int> columns,
                          Value* const* into) {
    const unsigned start = row.start;
    const unsigned rowEnd = start + row.size - 1;
    const std::size_t pageSize = m_pages.pageSize();
    const auto unreadable = [&] { throwDamaged(m_pages.path(), table.name, "row unreadable"); };
    const unsigned char* p = page;
    if (m_jet3) {
        // libmdb splits the row in its own page buffer.
        if (!m_mdb.holds(pg)) m_mdb.load(pg, page, pageSize);
        p = m_mdb.page();
        m_fields.resize(definition->num_cols);
        if (mdb_crack_row(definition, int(start), row.size, m_fields.data()) < 0) unreadable();
    }
    const unsigned rowColumns = u16(p + start);
    const unsigned bitmask = (rowColumns + 7) / 8;
    if (!m_jet3 && bitmask + 1 >= rowEnd) unreadable();
    const unsigned nullMask = rowEnd - bitmask + 1;
    unsigned rowVarColumns = 0;
    if (!m_jet3 && definition->num_var_cols > 0) {
        rowVarColumns = u16(p + rowEnd - bitmask - 1);
        if (bitmask + 3 + rowVarColumns * 2 + 2 > rowEnd) unreadable();
    }
    // The offsets of the variable columns run backwards from before the count of them.
    const auto varOffset = [&](unsigned i) -> unsigned { return u16(p + rowEnd - bitmask - 3 - i * 2); };
    const unsigned rowFixedColumns = rowColumns - rowVarColumns;
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const JetColumn& column = table.columns[std::size_t(columns[i])];
        Value& value = *into[i];
        bool isNull = true;
        long fieldStart = 0, fieldSize = 0;
        if (m_jet3) {
            const MdbField& f = m_fields[std::size_t(column.index)];
            isNull = f.is_null;
            fieldStart = f.start;
            fieldSize = f.siz;
        } else {
            const std::size_t maskByte = nullMask + unsigned(column.number) / 8;
            isNull = maskByte >= pageSize || !(p[maskByte] & (1u << (unsigned(column.number) % 8)));
            if (column.fixed && unsigned(column.fixedOrdinal) < rowFixedColumns) {
                fieldStart = long(start) + column.fixedOffset + 2;
                fieldSize = column.size;
            } else if (!column.fixed && unsigned(column.varNumber) < rowVarColumns) {
                const unsigned columnStart = varOffset(unsigned(column.varNumber));
                fieldStart = long(start) + long(columnStart);
                fieldSize = int(varOffset(unsigned(column.varNumber) + 1) - columnStart);
            } else {
                isNull = true;
            }
            if (fieldStart + fieldSize > long(start + row.size)) unreadable();
        }
        if (column.type == JetType::Boolean) {
            // A Yes/No value lives in the null mask: a set bit is Yes (-1).
            value.setInteger(isNull ? 0 : -1);
            continue;
        }
        if (isNull) {
            value.setNull();
            continue;
        }
        if (fieldSize < 0 || fieldStart < long(start) || fieldStart + fieldSize > long(start + row.size))
            throwDamaged(m_pages.path(), table.name, "field outside its row");
        decodeField(table, column, p + fieldStart, int(fieldSize), value);
    }
}

void RowReader::rowsOnPage(const JetTableInfo& table, MdbTableDef* definition, std::uint32_t pg,
                           std::span<const int> columns, Value* const* into, const std::function<void()>& each) {
    if (definition->num_cols == 0) return;
    const unsigned char* page = dataPage(table, definition, pg);
    const unsigned count = u16(page + m_mdb.format().row_count_offset);
    for (unsigned row = 0; row < count; ++row) {
        Slot found{};
        if (!slot(page, row, found) || (found.flags & kRowMovedFlag)) continue;
        decodeRow(table, definition, pg, page, found, columns, into);
        each();
        // What `each` read may have taken the page's place in the cache.
        page = dataPage(table, definition, pg);
    }
}

bool RowReader::rowAt(const JetTableInfo& table, MdbTableDef* definition, RowPointer pointer,
                      std::span<const int> columns, Value* const* into) {
    for (int hop = 0; hop < 2; ++hop) {
        const unsigned char* page = dataPage(table, definition, pointer.page);
        Slot found{};
        if (pointer.row >= u16(page + m_mdb.format().row_count_offset) || !slot(page, pointer.row, found))
            throwDamaged(m_pages.path(), table.name, "index points at a missing row");
        if ((found.flags & kRowDeletedFlags) == kRowDeletedFlags) return false;
        if (!(found.flags & kRowMovedFlag)) {
            decodeRow(table, definition, pointer.page, page, found, columns, into);
            return true;
        }
        // A row that grew: its new place is in the stub's first four bytes (slot, then page).
        const unsigned char* stub = page + found.start;
        if (found.size < 4) throwDamaged(m_pages.path(), table.name, "moved row without its new place");
        pointer = {std::uint32_t(stub[1]) | std::uint32_t(stub[2]) << 8 | std::uint32_t(stub[3]) << 16, stub[0]};
    }
    throwDamaged(m_pages.path(), table.name, "moved row points at another moved row");
}
