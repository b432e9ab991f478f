#pragma once

#include "source/JetFile.h"
#include "source/LibmdbHandle.h"

#include <cstdint>
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

    // Appends the live rows on data page `pg` of `table` (described by `info`), in slot order, and their slots to
    // `slots` when given. Only the columns in `columns` are decoded; the others are Null.
    void rowsOnPage(const JetTableInfo& info, MdbTableDef* table, std::uint32_t pg,
                    std::vector<std::vector<Value>>& rows, std::vector<std::uint8_t>* slots, std::uint64_t columns);
    // Decodes the row at `pointer` into `row`, following a row that grew and moved; false for a deleted row. Only
    // the columns in `columns` are decoded; the others are Null.
    bool rowAt(const JetTableInfo& info, MdbTableDef* table, RowPointer pointer, std::vector<Value>& row,
               std::uint64_t columns);

private:
    void loadDataPage(const std::string& table, std::uint32_t pg);
    void checkDataPage(const JetTableInfo& info, MdbTableDef* table, std::uint32_t pg) const;
    [[noreturn, gnu::cold]] void notADataPage(const JetTableInfo& info, MdbTableDef* table, std::uint32_t pg) const;
    bool slot(unsigned row, int& start, std::size_t& size) const;
    bool crackJet4(MdbTableDef* table, int start, std::size_t size);
    void decodeRow(const JetTableInfo& info, MdbTableDef* table, int start, std::size_t size,
                   std::vector<Value>& values, std::uint64_t columns);
    std::string readMemo(const std::string& table, const unsigned char* field, std::size_t size) const;

    LibmdbHandle& m_mdb;
    PageCache& m_pages;
    bool m_jet3;
    std::vector<MdbField> m_fields;
};
