#pragma once

#include "runtime/Value.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

// The column types the program keeps; other Jet types (OLE objects, replication ids, decimals) are not read.
enum class JetType { Boolean, Byte, Integer, Long, Currency, Single, Double, DateTime, Text, Memo };

struct JetColumn {
    std::string name;
    JetType type;
    int index;  // position among the table's columns as libmdb lists them
    // Where its value lies in a Jet 4 row: its bit in the row's null mask; a fixed column after the fixed columns
    // before it (how many), at its offset; a variable one at its entry in the row's table of offsets.
    int number = 0;
    bool fixed = false;
    int fixedOrdinal = 0;
    int fixedOffset = 0;
    int varNumber = 0;
    int size = 0;
};

struct JetTableInfo {
    std::string name;
    std::vector<JetColumn> columns;
    // Columns (positions in `columns`) that lead an index of the file, and whether that index can be searched
    // here: an ascending index on one Long column.
    std::vector<int> indexedColumns;
    std::vector<int> seekableColumns;
    // Seekable columns whose index allows each key once.
    std::vector<int> uniqueColumns;
    // The row count the table definition records: an estimate, used to weigh a scan against a seek.
    std::uint32_t rowCountEstimate = 0;
};

// Where a row is stored: its data page and its slot on that page.
struct RowPointer {
    std::uint32_t page;
    std::uint8_t row;
};

// A Jet file opened read-only through libmdb. Values come from the stored bytes: numbers keep their bits, text is
// decoded from UTF-16 (or Jet 4's compressed form, or Jet 3's code page) to UTF-8, Null stays Null. Indexes on
// Long columns are searched by reading their pages, so a lookup reads the rows it needs, not the table.
//
// Every read checks what the file says against the file itself (page numbers, offsets, lengths, chains) and raises
// RuntimeError naming the table when the file is damaged.
//
// One thread at a time: a JetFile belongs to the database that opened it. Its const functions read through caches
// and libmdb's page buffer, which they change, and nothing is locked.
class JetFile {
public:
    // Opens `path` and checks `password` against the one stored in the file (a file without one opens with any).
    // Raises RuntimeError for a missing or unreadable file, a non-Jet or encrypted file, or a wrong password.
    JetFile(const std::string& path, const std::string& password);
    ~JetFile();
    JetFile(const JetFile&) = delete;
    JetFile& operator=(const JetFile&) = delete;

    const std::vector<JetTableInfo>& tables() const noexcept;
    // Whether the file has changed since it was opened: its size, its modification time or its change time. A
    // file replaced by another under its name has not: the open file is still the one read.
    bool changed() const;

    // The data pages of a table, in the order a scan visits them.
    const std::vector<std::uint32_t>& dataPages(std::size_t table) const;
    // Calls `each` for every live row of data page `page` of the table, in slot order, after decoding its columns
    // `columns` (positions among the table's columns) into `*into[0]`, `*into[1]`... (texts keep their buffers).
    void rowsOnPage(std::size_t table, std::uint32_t page, std::span<const int> columns, Value* const* into,
                    const std::function<void()>& each) const;
    // The same for every live row of the table, in the order a scan meets them.
    void scan(std::size_t table, std::span<const int> columns, Value* const* into,
              const std::function<void()>& each) const;
    // The rows whose seekable column `column` (a position in `columns`) equals `key`, in index order; nullopt
    // when the index cannot be searched (the caller then scans).
    std::optional<std::vector<RowPointer>> seek(std::size_t table, int column, std::int64_t key) const;
    // Decodes the row at `pointer` as rowsOnPage decodes one, following a row that grew and moved; false for a
    // deleted row.
    bool rowAt(std::size_t table, RowPointer pointer, std::span<const int> columns, Value* const* into) const;

private:
    struct Impl;

    std::unique_ptr<Impl> m_impl;
};
