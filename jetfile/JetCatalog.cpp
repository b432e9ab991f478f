#include "jetfile/JetCatalog.h"

#include "jetfile/JetBytes.h"
#include "jetfile/JetDamage.h"
#include "jetfile/PageCache.h"
#include "jetfile/RowReader.h"

#include <algorithm>
#include <cstdio>
#include <string_view>
#include <cstring>

namespace {

bool keptType(int type, JetType& kept) {
    switch (type) {
        case MDB_BOOL: kept = JetType::Boolean; return true;
        case MDB_BYTE: kept = JetType::Byte; return true;
        case MDB_INT: kept = JetType::Integer; return true;
        case MDB_LONGINT: kept = JetType::Long; return true;
        case MDB_MONEY: kept = JetType::Currency; return true;
        case MDB_FLOAT: kept = JetType::Single; return true;
        case MDB_DOUBLE: kept = JetType::Double; return true;
        case MDB_DATETIME: kept = JetType::DateTime; return true;
        case MDB_TEXT: kept = JetType::Text; return true;
        case MDB_MEMO: kept = JetType::Memo; return true;
        default: return false;
    }
}

// The columns of `table` that `keep` keeps (and gives a type), each with where it lies in a row.
template <typename Keep>
std::vector<JetColumn> columnsOf(MdbTableDef* table, Keep keep) {
    std::vector<JetColumn> columns;
    int fixedBefore = 0;
    for (unsigned c = 0; c < table->num_cols; ++c) {
        const auto* col = static_cast<const MdbColumn*>(g_ptr_array_index(table->columns, c));
        JetType type;
        if (keep(*col, type))
            columns.push_back({col->name, type, int(c), col->col_num, col->is_fixed != 0, fixedBefore,
                               col->fixed_offset, int(col->var_col_num), col->col_size});
        if (col->is_fixed) ++fixedBefore;
    }
    return columns;
}

}  // namespace

// A catalog entry of our own for the table defined on page `page`: libmdb reads a table through one.
std::unique_ptr<MdbCatalogEntry> JetCatalog::entry(const char* name, std::uint32_t page) const {
    auto entry = std::make_unique<MdbCatalogEntry>();
    std::memset(entry.get(), 0, sizeof(MdbCatalogEntry));
    entry->mdb = m_mdb.get();
    entry->object_type = MDB_TABLE;
    entry->table_pg = page;
    std::snprintf(entry->object_name, sizeof entry->object_name, "%s", name);
    return entry;
}

JetCatalog::JetCatalog(LibmdbHandle& mdb, PageCache& pages, RowReader& rows, bool jet3) : m_mdb(mdb), m_pages(pages) {
    // The catalog: the rows of MSysObjects, read here rather than by libmdb, which also decodes every object's
    // properties and can spend minutes on a damaged file doing it. Only names, types, pages and flags are needed.
    struct CatalogRow {
        std::string name;
        std::uint32_t page;
    };
    std::vector<CatalogRow> catalog;
    {
        const auto msys = entry("MSysObjects", 2);
        TableDefPtr table = readTable(msys.get());
        JetTableInfo info;
        info.name = "MSysObjects";
        // Id, Name, Type and Flags, in that order.
        const std::pair<const char*, JetType> wanted[] = {
            {"Id", JetType::Long}, {"Name", JetType::Text}, {"Type", JetType::Integer}, {"Flags", JetType::Long}};
        info.columns = columnsOf(table.get(), [&](const MdbColumn& col, JetType& type) {
            if (!keptType(col.col_type, type)) return false;
            return std::any_of(std::begin(wanted), std::end(wanted),
                               [&](const auto& w) { return col.name == std::string_view(w.first) && w.second == type; });
        });
        std::vector<int> columns;
        for (const auto& [name, type] : wanted)
            for (std::size_t c = 0; c < info.columns.size(); ++c)
                if (info.columns[c].name == name) columns.push_back(int(c));
        if (columns.size() != 4) throwDamaged(m_pages.path(), "MSysObjects", "catalog columns missing");
        Value id, name, type, flags;
        Value* const into[] = {&id, &name, &type, &flags};
        for (std::uint32_t pg : pagesOf(info.name, table.get())) {
            rows.rowsOnPage(info, table.get(), pg, columns, into, [&] {
                if (type.isNull() || id.isNull() || name.isNull() || (type.asInteger() & 0x7F) != MDB_TABLE) return;
                // System tables carry these flags.
                if (!flags.isNull() && (flags.asInteger() & 0x80000002)) return;
                catalog.push_back({name.asText(), std::uint32_t(id.asInteger()) & 0x00FFFFFF});
            });
        }
        table.reset();
        m_mdb.forgetPage();
    }

    for (const CatalogRow& row : catalog) {
        auto tableEntry = entry(row.name.c_str(), row.page);
        TableDefPtr table = readTable(tableEntry.get());
        m_entries.push_back(std::move(tableEntry));
        JetTableInfo info;
        info.name = m_entries.back()->object_name;
        info.rowCountEstimate = table->num_rows;
        info.columns =
            columnsOf(table.get(), [](const MdbColumn& col, JetType& type) { return keptType(col.col_type, type); });
        std::vector<MdbIndex*> seekable(info.columns.size(), nullptr);
        // libmdb fills the table's index list; its return value says nothing useful.
        mdb_read_indices(table.get());
        for (unsigned x = 0; table->indices && x < table->num_idxs; ++x) {
            auto* idx = static_cast<MdbIndex*>(g_ptr_array_index(table->indices, x));
            if (idx->num_keys < 1) continue;
            for (std::size_t c = 0; c < info.columns.size(); ++c) {
                if (info.columns[c].index + 1 != idx->key_col_num[0]) continue;
                info.indexedColumns.push_back(int(c));
                // Jet 3 index pages are laid out differently; its small files are scanned.
                if (!jet3 && idx->num_keys == 1 && idx->key_col_order[0] == MDB_ASC &&
                    info.columns[c].type == JetType::Long && idx->first_pg > 0 && idx->first_pg < m_pages.pageCount() &&
                    !seekable[c]) {
                    seekable[c] = idx;
                    info.seekableColumns.push_back(int(c));
                    if (idx->flags & MDB_IDX_UNIQUE) info.uniqueColumns.push_back(int(c));
                }
            }
        }
        m_tables.push_back(std::move(info));
        m_defs.push_back(std::move(table));
        m_seekIndex.push_back(std::move(seekable));
    }
    m_dataPages.resize(m_tables.size());
}

JetCatalog::~JetCatalog() = default;

// A table definition read through libmdb, after checking that the page is one and that its counts are within
// Jet's limits (libmdb allocates and loops by them).
JetCatalog::TableDefPtr JetCatalog::readTable(MdbCatalogEntry* entry) {
    const std::string name = entry->object_name;
    if (entry->table_pg == 0 || entry->table_pg >= m_pages.pageCount())
        throwDamaged(m_pages.path(), name, "definition outside the file");
    std::vector<unsigned char> bytes(m_pages.pageSize());
    if (!m_pages.readUncached(std::uint32_t(entry->table_pg), bytes.data()))
        throwDamaged(m_pages.path(), name, "definition unreadable");
    const unsigned char* p = bytes.data();
    const unsigned columns = jetbytes::u16(p + m_mdb.format().tab_num_cols_offset);
    const std::uint32_t indexes = jetbytes::u32(p + m_mdb.format().tab_num_idxs_offset);
    const std::uint32_t realIndexes = jetbytes::u32(p + m_mdb.format().tab_num_ridxs_offset);
    if (p[0] != 0x02 || columns > 255 || indexes > 64 || realIndexes > 64)
        throwDamaged(m_pages.path(), name, "definition malformed");
    m_mdb.forgetPage();
    TableDefPtr table(mdb_read_table(entry));
    if (!table || !mdb_read_columns(table.get()) || table->num_cols != columns)
        throwDamaged(m_pages.path(), name, "definition unreadable");
    return table;
}

// The data pages of a table, in the order the usage map lists them.
std::vector<std::uint32_t> JetCatalog::pagesOf(const std::string& name, MdbTableDef* table) {
    std::vector<std::uint32_t> list;
    // libmdb leaves the map out when it cannot read it, and would then read through a null pointer.
    if (!table->usage_map || table->map_sz < 1) throwDamaged(m_pages.path(), name, "page map unreadable");
    mdb_rewind_table(table);
    table->cur_pg_num = 1;
    m_mdb.forgetPage();
    // A damaged map could cycle, but never past the file's page count.
    while (mdb_read_next_dpg(table)) {
        if (list.size() > m_pages.pageCount()) throwDamaged(m_pages.path(), name, "page map loops");
        list.push_back(table->cur_phys_pg);
    }
    m_mdb.forgetPage();
    return list;
}

const std::vector<std::uint32_t>& JetCatalog::dataPages(std::size_t t) {
    if (!m_dataPages[t]) m_dataPages[t] = pagesOf(m_tables[t].name, m_defs[t].get());
    return *m_dataPages[t];
}
