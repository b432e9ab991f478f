#pragma once

#include "source/JetFile.h"
#include "source/LibmdbHandle.h"
#include "source/LruCache.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class PageCache;

// The rows of a Jet file's tables: data pages read through the page cache, rows found and split into fields by
// libmdb, fields decoded here from the stored bytes (numbers keep their bits, text becomes UTF-8, a memo is read
// along its chain of pages). Every offset and length the file gives is checked against the page it is on.
class RowReader {
public:
    RowReader(LibmdbHandle& mdb, PageCache& pages, bool jet3);
    RowReader(const RowReader&) = delete;
    RowReader& operator=(const RowReader&) = delete;

    // Appends the live rows on data page `pg` of `table` (described by `info`), in slot order.
    void rowsOnPage(const JetTableInfo& info, MdbTableDef* table, std::uint32_t pg,
                    std::vector<std::vector<Value>>& rows);
    // The row at `pointer` of table number `t`, following a row that grew and moved; null for a deleted row. Rows
    // of the smaller tables are kept once decoded. The row stays valid until `buffer` is used again.
    const std::vector<Value>* rowAt(std::size_t t, const JetTableInfo& info, MdbTableDef* table, RowPointer pointer,
                                    RowBuffer& buffer);

private:
    void loadDataPage(const std::string& table, std::uint32_t pg);
    void checkDataPage(const JetTableInfo& info, MdbTableDef* table, std::uint32_t pg) const;
    [[noreturn, gnu::cold]] void notADataPage(const JetTableInfo& info, MdbTableDef* table, std::uint32_t pg) const;
    bool slot(unsigned row, int& start, std::size_t& size) const;
    void decodeRow(const JetTableInfo& info, MdbTableDef* table, int start, std::size_t size,
                   std::vector<Value>& values);
    std::string readMemo(const std::string& table, const unsigned char* field, std::size_t size) const;

    LibmdbHandle& m_mdb;
    PageCache& m_pages;
    bool m_jet3;
    std::vector<MdbField> m_fields;
    // Decoded rows of the smaller tables (taxpayers, forms, declarations), by table, page and slot: an export looks
    // them up again and again. Shared, so that a row handed out outlives its place here.
    static constexpr std::size_t kKeptRows = 2048;
    static constexpr std::uint32_t kKeptRowsTableLimit = 50000;
    LruCache<std::uint64_t, std::shared_ptr<const std::vector<Value>>> m_kept{kKeptRows};
};
