#pragma once

#include "jetfile/JetFile.h"
#include "jetfile/LibmdbHandle.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

class PageCache;

// The rows of a Jet file's tables: data pages read through the page cache, a row found by its page's offset table
// and split into the fields a read asks for, each decoded from the stored bytes (numbers keep their bits, text
// becomes UTF-8, a memo is read along its chain of pages). Jet 3 rows are split by libmdb. Every offset and length
// the file gives is checked against the page it is on.
class RowReader {
public:
    RowReader(LibmdbHandle& mdb, PageCache& pages, bool jet3);
    RowReader(const RowReader&) = delete;
    RowReader& operator=(const RowReader&) = delete;

    // Calls `each` for every live row on data page `pg` of `table`, in slot order, after decoding its columns
    // `columns` (positions among the table's columns) into `*into[0]`, `*into[1]`...
    void rowsOnPage(const JetTableInfo& table, MdbTableDef* definition, std::uint32_t pg, std::span<const int> columns,
                    Value* const* into, const std::function<void()>& each);
    // Decodes the row at `pointer` as rowsOnPage decodes one, following a row that grew and moved; false for a
    // deleted row.
    bool rowAt(const JetTableInfo& table, MdbTableDef* definition, RowPointer pointer, std::span<const int> columns,
               Value* const* into);

private:
    // Where a row lies on its page, and its slot's flags; false for a slot that holds no row.
    struct Slot {
        unsigned start;
        unsigned size;
        unsigned flags;
    };
    bool slot(const unsigned char* page, unsigned row, Slot& found) const;
    const unsigned char* dataPage(const JetTableInfo& table, MdbTableDef* definition, std::uint32_t pg) const;
    [[noreturn, gnu::cold]] void notADataPage(const JetTableInfo& table, MdbTableDef* definition,
                                              const unsigned char* page, std::uint32_t pg) const;
    void decodeRow(const JetTableInfo& table, MdbTableDef* definition, std::uint32_t pg, const unsigned char* page,
                   const Slot& row, std::span<const int> columns, Value* const* into);
    void decodeField(const JetTableInfo& table, const JetColumn& column, const unsigned char* bytes, int size,
                     Value& into) const;
    std::string readMemo(const std::string& table, const unsigned char* field, std::size_t size) const;

    LibmdbHandle& m_mdb;
    PageCache& m_pages;
    bool m_jet3;
    std::vector<MdbField> m_fields;  // a Jet 3 row split by libmdb
};
