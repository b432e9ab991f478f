#pragma once

#include <string>

struct sqlite3;
class JetFile;

// Serves the tables of a Jet file to SQLite as virtual tables, read in place: a query reads the rows it needs.
// An equality on a column the file indexes (a Long key) is answered by searching the index; anything else scans
// the table's data pages. Rows are decoded from the file as the query reaches them; nothing is copied.
namespace JetVirtualTable {

// What the tables of one connection read, and the reader's last failure in its own words (SQLite passes on only
// a text).
struct Source {
    const JetFile* file = nullptr;
    std::string lastError;
};

// Registers the module on `db` and declares one virtual table per table of the source's file, under the table's
// own name. `source` must outlive `db`. Raises RuntimeError on failure.
void attach(sqlite3* db, Source& source);

}  // namespace JetVirtualTable
