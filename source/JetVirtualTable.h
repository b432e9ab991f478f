#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;
class JetFile;

// Serves the tables of a Jet file to SQLite as virtual tables, read in place: a query reads the rows it needs.
// An equality on a column the file indexes (a Long key) is answered by searching the index, one on a text column
// of a table small enough to keep by looking the text up in what is kept; anything else scans the table (see
// TableRows for what is kept).
//
// A table also computes `&` chains of its own columns as hidden columns, so that a query comparing a chain with a
// text gets only the rows whose chain is that text, and a row's chain is written once however often it is read.
namespace JetVirtualTable {

// The hidden chain columns each table has.
inline constexpr std::size_t kChainColumns = 8;

// What the tables of one connection read, the chains they compute, and the reader's last failure in its own words
// (SQLite passes on only a text).
struct Source {
    const JetFile* file = nullptr;
    // By table, the chains its hidden columns compute: the columns (positions among the table's) each joins.
    std::vector<std::vector<std::vector<int>>> chains;
    std::string lastError;
};

// The name of hidden chain column `slot`; no Jet name holds a dot.
std::string chainColumnName(std::size_t slot);

// The name of the hidden column of table `table` (its number) that computes the chain of `columns` as jet_cat joins
// them, given to the next free column the first time; nullopt when the table has none left.
std::optional<std::string> chainColumn(Source& source, std::size_t table, const std::vector<int>& columns);

// Registers the module on `db` and declares one virtual table per table of the source's file, under the table's
// own name. `source` must outlive `db`. Raises RuntimeError on failure.
void attach(sqlite3* db, Source& source);

}  // namespace JetVirtualTable
