#pragma once

#include "runtime/Value.h"

#include <chrono>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

class Clock;
class PageSource;

// How long after its last write a file is taken to be as it will stay, when nothing writes it again: writes closer
// together than this may leave one stamp.
constexpr std::chrono::milliseconds kFileSettles{25};

// The column types the program keeps; other Jet types (OLE objects, replication ids, decimals) are not read.
enum class JetType { Boolean, Byte, Integer, Long, Currency, Single, Double, DateTime, Text, Memo };

struct JetColumn {
    std::string name;
    JetType type;
    // Where its value lies in a row: its bit in the row's null mask; a fixed column after the fixed columns
    // before it (how many), at its offset; a variable one at its entry in the row's table of offsets.
    int number = 0;
    bool fixed = false;
    int fixedOrdinal = 0;
    int fixedOffset = 0;
    int varNumber = 0;
    int size = 0;
};

// A table's definition, as its definition pages give it.
struct JetTableInfo {
    std::string name;
    std::vector<JetColumn> columns;  // the kept columns, in the order of their numbers
    // Columns (positions in `columns`) whose index can be searched here, an ascending index on that one Long
    // column, with the index's first page; those whose index allows each key once.
    std::vector<int> seekableColumns;
    std::vector<std::uint32_t> seekPages;
    std::vector<int> uniqueColumns;
    // Text columns (positions in `columns`) with an ascending index on that one column, with the index's first page.
    std::vector<int> textIndexColumns;
    std::vector<std::uint32_t> textIndexPages;
    std::uint32_t definitionPage = 0;
    unsigned variableColumns = 0;  // how many columns of the definition are of variable length
    std::uint32_t usageMap = 0;    // the row holding the map of its data pages, as page << 8 | row
};

// Where a row is stored: its data page and its slot on that page.
struct RowPointer {
    std::uint32_t page;
    std::uint8_t row;
};

// A Jet 3 or Jet 4 file opened read-only, read by the program's own reader. Values come from the stored bytes:
// numbers keep their bits, text is decoded from UTF-16 (or Jet 4's compressed form, or Jet 3's code page) to UTF-8,
// Null stays Null. Indexes on Long columns are searched by reading their pages, so a lookup reads the rows it
// needs, not the table; an index on a Text column is read in its order. The catalog is read when the file is
// opened; a table's definition when it is first asked for, its data pages when first scanned.
//
// Every read checks what the file says against the file itself (page numbers, offsets, lengths, chains) and raises
// RuntimeError naming the table when the file is damaged.
//
// One thread at a time: a JetFile belongs to the reading that opened it. Its const functions read through caches,
// which they change, and nothing is locked.
class JetFile {
public:
    // Reads the file from `source` and checks `password` against the one stored in it (a file without one opens
    // with any). `clock` tells whether the file was written just before. Raises RuntimeError for an unreadable
    // source, a non-Jet or encrypted file, or a wrong password; DatabaseChanged when what looks damaged is a file
    // being written.
    JetFile(std::unique_ptr<PageSource> source, const std::string& password, const Clock& clock);
    ~JetFile();
    JetFile(const JetFile&) = delete;
    JetFile& operator=(const JetFile&) = delete;

    // What the file is called in messages: its path.
    const std::string& name() const noexcept;
    // The names of the user tables, their numbers the positions in this list.
    const std::vector<std::string>& tableNames() const noexcept;
    // The definition of table `table`, read the first time it is asked for.
    const JetTableInfo& table(std::size_t table) const;
    // Whether the file has changed since it was opened: its size, its modification time or its change time. A
    // file replaced by another under its name has not: the open file is still the one read. A file written within
    // kFileSettles of when it was opened (by the clock) counts as changed: writes so close together may leave one
    // stamp, so whether it changed cannot be told. A modification time further ahead of the clock (a file server's
    // clock) is taken as it is.
    bool changed() const;
    // Whether the file under its name is still the one opened, unchanged since: a reading of it may go on.
    bool current() const;

    // Calls `each` with the place of every live row of the table, in the order a scan meets them (data page by data
    // page, slot by slot; a row that grew and moved at its first slot, as Jet orders rows), after decoding its columns `columns` (positions among the table's columns) into
    // `*into[0]`, `*into[1]`... (texts keep their buffers); `each` returns false to stop the scan there.
    void scan(std::size_t table, std::span<const int> columns, Value* const* into,
              const std::function<bool(RowPointer)>& each) const;
    // Calls `each` with the place and the stored bytes of every live row of the table, in the order scan meets
    // them (a row that grew and moved with the bytes where it lies); the bytes are valid during the call, and may
    // be decoded with decodeRowBytes. `each` returns false to stop there.
    void scanBytes(std::size_t table, const std::function<bool(RowPointer, std::string_view)>& each) const;
    // Puts into `found` the rows whose seekable column `column` (a position in `columns`) equals `key`, in index
    // order; false when the index cannot be searched (the caller then scans).
    bool seek(std::size_t table, int column, std::int64_t key, std::vector<RowPointer>& found) const;
    // Calls `each` with the key and the row of every entry of the index on the seekable column `column`, in index
    // order; false when the column has no index that can be searched. Raises RuntimeError naming the table when
    // the index is damaged.
    bool indexEntries(std::size_t table, int column, const std::function<void(std::int32_t, RowPointer)>& each) const;
    // Puts into `found` the rows the ascending index on the Text column `column` (a position in `columns`) lists,
    // in its order, each where a scan meets it (a row that grew and moved at its first slot); rows it lists that are
    // deleted are left out, and so may be rows with a Null (an index may ignore them). False, leaving `found` empty,
    // when the column has no such index. Raises RuntimeError naming the table when the index is damaged.
    bool inIndexOrder(std::size_t table, int column, std::vector<RowPointer>& found) const;
    // Appends to `into` the stored bytes of the row at `pointer` (where it lies, for a row that grew and moved);
    // false for a deleted row.
    bool rowBytes(std::size_t table, RowPointer pointer, std::string& into) const;
    // Decodes columns `columns` of a row's bytes, as rowBytes gave them, as rowAt decodes the row; memo columns,
    // whose text lies on other pages, cannot be decoded so. Raises RuntimeError naming the table when the bytes are
    // not a row of it.
    void decodeRowBytes(std::size_t table, std::string_view row, std::span<const int> columns,
                        Value* const* into) const;
    // Decodes the row at `pointer` as scan decodes one, following a row that grew and moved; false for a deleted
    // row.
    bool rowAt(std::size_t table, RowPointer pointer, std::span<const int> columns, Value* const* into) const;

private:
    struct Impl;

    std::unique_ptr<PageSource> m_source;
    std::unique_ptr<Impl> m_impl;
};
