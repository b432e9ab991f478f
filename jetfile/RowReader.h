#pragma once

#include "jetfile/JetFile.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

class PageCache;

// The rows of a Jet file's tables: data pages read through the page cache, a row found by its page's offset table
// and split into the fields a read asks for, each decoded from the stored bytes (numbers keep their bits, text
// becomes UTF-8, a memo is read along its chain of pages). Every offset and length the file gives is checked
// against the page it is on.
class RowReader {
public:
    RowReader(PageCache& pages, bool jet3);
    RowReader(const RowReader&) = delete;
    RowReader& operator=(const RowReader&) = delete;

    // Row `row` of `page` as the page's offset table gives it: where it starts (its offset without the flags) and
    // its size, up to the row before it (rows fill a page from its end); false for a slot that holds no row.
    static bool slot(const unsigned char* page, unsigned row, std::uint32_t pageSize, bool jet3, std::uint32_t& start,
                     std::uint32_t& size);

    // Calls `each` with the place of every live row on data page `pg` of `table`, in slot order, after decoding
    // its columns `columns` (positions among the table's columns) into `*into[0]`, `*into[1]`...; false when `each`
    // returned false, which stops there. A row that grew and moved is met at its first slot (the place given is
    // that slot's), not where it lies now.
    bool rowsOnPage(const JetTableInfo& table, std::uint32_t pg, std::span<const int> columns, Value* const* into,
                    const std::function<bool(RowPointer)>& each);
    // Calls `each` with the place and the stored bytes of every live row on data page `pg` of `table`, as
    // rowsOnPage meets them (a row that grew and moved at its first slot, with the bytes where it lies); the bytes
    // are valid during the call. False when `each` returned false.
    bool rowBytesOnPage(const JetTableInfo& table, std::uint32_t pg,
                        const std::function<bool(RowPointer, std::string_view)>& each);
    // Decodes the row at `pointer` as rowsOnPage decodes one, following a row that grew and moved; false for a
    // deleted row.
    bool rowAt(const JetTableInfo& table, RowPointer pointer, std::span<const int> columns, Value* const* into);
    // The stored bytes of the row at `pointer` (where it lies, for a row that grew and moved), valid until the next
    // read; empty for a deleted row.
    std::string_view rowBytes(const JetTableInfo& table, RowPointer pointer);
    // Decodes columns of a row's bytes, as rowBytes gave them, as rowAt decodes the row. No column may be a memo,
    // whose text lies on other pages.
    void decodeBytes(const JetTableInfo& table, std::string_view row, std::span<const int> columns, Value* const* into);
    // Moves `pointer` to where the row it points at lives, following a row that grew and moved; false for a deleted
    // row.
    bool place(const JetTableInfo& table, RowPointer& pointer);

private:
    struct Slot {
        std::uint32_t start;
        std::uint32_t size;
        unsigned flags;
    };
    bool slot(const unsigned char* page, unsigned row, Slot& found) const;
    // The page of the row at `pointer`, moved to the row's place, and its slot; nullptr for a deleted row.
    const unsigned char* locate(const JetTableInfo& table, RowPointer& pointer, Slot& found);
    const unsigned char* dataPage(const JetTableInfo& table, std::uint32_t pg) const;
    void decodeRow(const JetTableInfo& table, std::uint32_t pg, const unsigned char* page, const Slot& row,
                   std::span<const int> columns, Value* const* into);
    bool jet3VariableOffsets(const unsigned char* page, const Slot& row, unsigned bitmask, unsigned count);
    void decodeField(const JetTableInfo& table, const JetColumn& column, const unsigned char* bytes, long size,
                     Value& into) const;
    std::string readMemo(const std::string& table, const unsigned char* field, std::size_t size) const;

    PageCache& m_pages;
    bool m_jet3;
    unsigned m_rowCountOffset;
    std::vector<unsigned> m_jet3Offsets;  // a Jet 3 row's variable columns, where each starts
};
