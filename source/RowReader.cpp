#include "source/RowReader.h"

#include "source/JetBytes.h"
#include "source/JetDamage.h"
#include "source/JetText.h"
#include "source/PageCache.h"

#include <algorithm>

using jetbytes::load;
using jetbytes::u16;
using jetbytes::u32;

namespace {

constexpr int kRowOffsetMask = 0x1FFF;
// Row slot flags. 0x4000 alone marks the stub left where a row that grew moved from (its first four bytes point at
// the row's new place, flagged 0x8000); both flags mark a deleted row.
constexpr int kRowMovedFlag = 0x4000;
constexpr int kRowDeletedFlags = 0xC000;
constexpr unsigned char kPageData = 0x01;
constexpr std::size_t kMemoHeader = 12;
// A memo longer than this is taken for damage: Jet memos hold at most 1 GB, real ones far less.
constexpr std::uint32_t kMaxMemoBytes = 64u << 20;

}  // namespace

RowReader::RowReader(LibmdbHandle& mdb, PageCache& pages, bool jet3) : m_mdb(mdb), m_pages(pages), m_jet3(jet3) {}

// Brings data page `pg` into libmdb's page buffer, where its row functions look.
void RowReader::loadDataPage(const std::string& table, std::uint32_t pg) {
    if (m_mdb.holds(pg)) return;
    m_mdb.forgetPage();
    m_mdb.load(pg, m_pages.page(table, pg), m_pages.pageSize());
}

// Checked before every row read from the loaded page: the page must be a data page of the table.
inline void RowReader::checkDataPage(const JetTableInfo& info, MdbTableDef* table, std::uint32_t pg) const {
    const unsigned char* p = m_mdb.page();
    if (p[0] != kPageData || u32(p + 4) != table->entry->table_pg ||
        u16(p + m_mdb.format().row_count_offset) > m_pages.pageSize() / 2) [[unlikely]]
        notADataPage(info, table, pg);
}

void RowReader::notADataPage(const JetTableInfo& info, MdbTableDef* table, std::uint32_t pg) const {
    const unsigned char* p = m_mdb.page();
    if (p[0] != kPageData || u32(p + 4) != table->entry->table_pg)
        throwDamaged(m_pages.path(), info.name, "page " + std::to_string(pg) + " is not one of its data pages");
    throwDamaged(m_pages.path(), info.name, "row count out of range");
}

// The slot `row` of the loaded page: its offset with flags, and its size; false when the slot is unusable.
bool RowReader::slot(unsigned row, int& start, std::size_t& size) const {
    return mdb_find_row(m_mdb.get(), static_cast<int>(row), &start, &size) == 0 && size != 0;
}

std::string RowReader::readMemo(const std::string& table, const unsigned char* field, std::size_t size) const {
    if (size < kMemoHeader) return {};
    const std::uint32_t header = u32(field);
    const std::uint32_t length = header & 0x3FFFFFFF;
    if (header & 0x80000000) return jetText(field + kMemoHeader, size - kMemoHeader, m_jet3);
    if (length > kMaxMemoBytes) throwDamaged(m_pages.path(), table, "memo length out of range");
    std::int32_t pgRow = static_cast<std::int32_t>(u32(field + 4));
    void* buf = nullptr;
    int offset = 0;
    std::size_t len = 0;
    const std::uint32_t pageCount = m_pages.pageCount();
    const std::uint32_t pageSize = m_pages.pageSize();
    if (header & 0x40000000) {
        if (std::uint32_t(pgRow) >> 8 >= pageCount || mdb_find_pg_row(m_mdb.get(), pgRow, &buf, &offset, &len) != 0 ||
            offset + len > pageSize)
            throwDamaged(m_pages.path(), table, "memo page unreadable");
        return jetText(static_cast<unsigned char*>(buf) + offset, std::min<std::size_t>(len, length), m_jet3);
    }
    if ((header & 0xFF000000) != 0) throwDamaged(m_pages.path(), table, "unknown memo storage");
    std::string bytes;
    bytes.reserve(length);
    // Each page in the chain adds at least one byte, so a chain longer than the memo is a loop.
    for (std::uint32_t hops = 0; pgRow != 0; ++hops) {
        if (hops > length) throwDamaged(m_pages.path(), table, "memo page chain loops");
        if (std::uint32_t(pgRow) >> 8 >= pageCount || mdb_find_pg_row(m_mdb.get(), pgRow, &buf, &offset, &len) != 0 ||
            len < 4 || offset + len > pageSize)
            throwDamaged(m_pages.path(), table, "memo page unreadable");
        const auto* chunk = static_cast<unsigned char*>(buf) + offset;
        if (bytes.size() + (len - 4) > length) throwDamaged(m_pages.path(), table, "memo longer than its length");
        bytes.append(reinterpret_cast<const char*>(chunk + 4), len - 4);
        pgRow = static_cast<std::int32_t>(u32(chunk));
    }
    return jetText(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), m_jet3);
}

// Splits the Jet 4 row in [start, start + size) of the loaded page into m_fields as libmdb's mdb_crack_row does
// (the same fields, refused in the same cases) without its allocation and its checks of debugging options, and
// reading a column's bit of the null mask only inside the page. False for a row libmdb refuses.
bool RowReader::crackJet4(MdbTableDef* table, int start, std::size_t size) {
    const unsigned char* pg = m_mdb.page();
    const std::size_t pageSize = m_pages.pageSize();
    const unsigned rowEnd = unsigned(start) + unsigned(size) - 1;
    const unsigned rowCols = u16(pg + start);
    const unsigned bitmask = (rowCols + 7) / 8;
    if (bitmask + 1 >= rowEnd) return false;
    const unsigned nullmask = rowEnd - bitmask + 1;
    unsigned rowVarCols = 0;
    if (table->num_var_cols > 0) {
        rowVarCols = u16(pg + rowEnd - bitmask - 1);
        if (bitmask + 3 + rowVarCols * 2 + 2 > rowEnd) return false;
    }
    // The offsets of the variable columns run backwards from before the count of them.
    const auto varOffset = [&](unsigned i) -> unsigned { return u16(pg + rowEnd - bitmask - 3 - i * 2); };
    const unsigned rowFixedCols = rowCols - rowVarCols;
    unsigned fixedFound = 0;
    m_fields.resize(table->num_cols);
    for (unsigned i = 0; i < table->num_cols; ++i) {
        const auto* col = static_cast<const MdbColumn*>(g_ptr_array_index(table->columns, i));
        MdbField& f = m_fields[i];
        const std::size_t maskByte = nullmask + unsigned(col->col_num) / 8;
        f.is_null = maskByte < pageSize ? !(pg[maskByte] & (1u << (unsigned(col->col_num) % 8))) : 1;
        if (col->is_fixed && fixedFound < rowFixedCols) {
            f.start = start + col->fixed_offset + 2;
            f.siz = col->col_size;
            ++fixedFound;
        } else if (!col->is_fixed && col->var_col_num < rowVarCols) {
            const unsigned colStart = varOffset(col->var_col_num);
            f.start = start + int(colStart);
            f.siz = int(varOffset(col->var_col_num + 1) - colStart);
        } else {
            f.start = 0;
            f.siz = 0;
            f.is_null = 1;
        }
        if (std::size_t(f.start + f.siz) > std::size_t(start) + size) return false;
    }
    return true;
}

// Decodes the row in [start, start + size) of the loaded page into `values`, whose texts keep their buffers.
void RowReader::decodeRow(const JetTableInfo& info, MdbTableDef* table, int start, std::size_t size,
                          std::vector<Value>& values, std::uint64_t columns) {
    if (start + int(size) > int(m_pages.pageSize())) throwDamaged(m_pages.path(), info.name, "row outside its page");
    if (m_jet3) {
        m_fields.resize(table->num_cols);
        if (mdb_crack_row(table, start, size, m_fields.data()) < 0)
            throwDamaged(m_pages.path(), info.name, "row unreadable");
    } else if (!crackJet4(table, start, size)) {
        throwDamaged(m_pages.path(), info.name, "row unreadable");
    }
    values.resize(info.columns.size());
    for (std::size_t c = 0; c < info.columns.size(); ++c) {
        if (!(columns >> std::min<std::size_t>(c, 63) & 1)) {
            values[c].setNull();
            continue;
        }
        const JetColumn& column = info.columns[c];
        const MdbField& f = m_fields[column.index];
        if (column.type == JetType::Boolean) {
            // A Yes/No value lives in the null mask: a set bit is Yes (-1).
            values[c].setInteger(f.is_null ? 0 : -1);
            continue;
        }
        if (f.is_null) {
            values[c].setNull();
            continue;
        }
        if (f.siz < 0 || f.start < start || f.start + f.siz > start + int(size))
            throwDamaged(m_pages.path(), info.name, "field outside its row");
        const unsigned char* p = m_mdb.page() + f.start;
        const auto need = [&](int bytes) {
            if (f.siz < bytes) throwDamaged(m_pages.path(), info.name, "field shorter than its type");
        };
        switch (column.type) {
            case JetType::Byte:
                need(1);
                values[c].setInteger(p[0]);
                break;
            case JetType::Integer:
                need(2);
                values[c].setInteger(load<std::int16_t>(p));
                break;
            case JetType::Long:
                need(4);
                values[c].setInteger(load<std::int32_t>(p));
                break;
            case JetType::Currency:
                need(8);
                values[c].setReal(double(load<std::int64_t>(p)) / 10000.0);
                break;
            case JetType::Single:
                need(4);
                values[c].setReal(load<float>(p));
                break;
            case JetType::Double:
                need(8);
                values[c].setReal(load<double>(p));
                break;
            case JetType::DateTime:
                need(8);
                values[c].setDate(load<double>(p));
                break;
            case JetType::Text: appendJetText(p, std::size_t(f.siz), m_jet3, values[c].setText()); break;
            case JetType::Memo: values[c].setText() = readMemo(info.name, p, std::size_t(f.siz)); break;
            case JetType::Boolean: break;
        }
    }
}

void RowReader::rowsOnPage(const JetTableInfo& info, MdbTableDef* table, std::uint32_t pg,
                           std::vector<std::vector<Value>>& rows, std::vector<std::uint8_t>* slots,
                           std::uint64_t columns) {
    if (table->num_cols == 0) return;
    loadDataPage(info.name, pg);
    checkDataPage(info, table, pg);
    const unsigned count = u16(m_mdb.page() + m_mdb.format().row_count_offset);
    for (unsigned row = 0; row < count; ++row) {
        int start = 0;
        std::size_t size = 0;
        if (!slot(row, start, size) || (start & kRowMovedFlag)) continue;
        decodeRow(info, table, start & kRowOffsetMask, size, rows.emplace_back(), columns);
        if (slots) slots->push_back(std::uint8_t(row));
    }
}

bool RowReader::rowAt(const JetTableInfo& info, MdbTableDef* table, RowPointer pointer, std::vector<Value>& row,
                      std::uint64_t columns) {
    for (int hop = 0; hop < 2; ++hop) {
        loadDataPage(info.name, pointer.page);
        checkDataPage(info, table, pointer.page);
        int start = 0;
        std::size_t size = 0;
        if (pointer.row >= u16(m_mdb.page() + m_mdb.format().row_count_offset) || !slot(pointer.row, start, size))
            throwDamaged(m_pages.path(), info.name, "index points at a missing row");
        if ((start & kRowDeletedFlags) == kRowDeletedFlags) return false;
        if (!(start & kRowMovedFlag)) {
            decodeRow(info, table, start & kRowOffsetMask, size, row, columns);
            return true;
        }
        // A row that grew: its new place is in the stub's first four bytes (slot, then page).
        const unsigned char* stub = m_mdb.page() + (start & kRowOffsetMask);
        if (size < 4) throwDamaged(m_pages.path(), info.name, "moved row without its new place");
        pointer = {std::uint32_t(stub[1]) | std::uint32_t(stub[2]) << 8 | std::uint32_t(stub[3]) << 16, stub[0]};
    }
    throwDamaged(m_pages.path(), info.name, "moved row points at another moved row");
}
