#pragma once

#include "jetfile/JetFile.h"
#include "jetfile/LibmdbHandle.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class PageCache;
class RowReader;

// The user tables of a Jet file: the catalog's rows (MSysObjects) and each table's definition, columns and
// indexes, read through libmdb after checking that what the catalog points at is there. The definitions stay
// open with the catalog; a table's data pages are listed when first asked for.
class JetCatalog {
public:
    // Reads the catalog. Raises RuntimeError when it, or the definition of a table it lists, is damaged.
    JetCatalog(LibmdbHandle& mdb, PageCache& pages, RowReader& rows, bool jet3);
    ~JetCatalog();
    JetCatalog(const JetCatalog&) = delete;
    JetCatalog& operator=(const JetCatalog&) = delete;

    const std::vector<JetTableInfo>& tables() const noexcept { return m_tables; }
    MdbTableDef* definition(std::size_t t) const noexcept { return m_defs[t].get(); }
    // The index searched for column `column` (a position in the table's columns); null when it has none.
    MdbIndex* seekIndex(std::size_t t, int column) const noexcept { return m_seekIndex[t][std::size_t(column)]; }
    // The data pages of table `t`, in the order a scan visits them. Raises RuntimeError when its page map is
    // damaged.
    const std::vector<std::uint32_t>& dataPages(std::size_t t);

private:
    struct TableDefDeleter {
        void operator()(MdbTableDef* table) const noexcept { mdb_free_tabledef(table); }
    };
    using TableDefPtr = std::unique_ptr<MdbTableDef, TableDefDeleter>;

    TableDefPtr readTable(MdbCatalogEntry* entry);
    std::vector<std::uint32_t> pagesOf(const std::string& name, MdbTableDef* table);
    std::unique_ptr<MdbCatalogEntry> entry(const char* name, std::uint32_t page) const;

    LibmdbHandle& m_mdb;
    PageCache& m_pages;
    // The catalog entries the table definitions point at; declared first, they outlive the definitions.
    std::vector<std::unique_ptr<MdbCatalogEntry>> m_entries;
    std::vector<TableDefPtr> m_defs;                  // parallel to m_tables
    std::vector<std::vector<MdbIndex*>> m_seekIndex;  // per table, per kept column: a searchable index or null
    std::vector<std::optional<std::vector<std::uint32_t>>> m_dataPages;  // read on first use
    std::vector<JetTableInfo> m_tables;
};
