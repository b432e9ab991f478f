#pragma once

#include "runtime/Value.h"

#include <string>
#include <string_view>
#include <vector>

struct sqlite3_stmt;

// The columns of a query shape: their names as the engine gives them, folded for lookups, and which hold dates
// (a number in a DATETIME column is a date).
struct QueryColumns {
    std::vector<std::string> names;
    std::vector<std::string> folded;
    std::vector<bool> dates;

    // The columns of the prepared statement `stmt`.
    static QueryColumns of(sqlite3_stmt* stmt);
};

// The rows of a result, read whole.
using QueryRows = std::vector<std::vector<Value>>;

// Names are matched the way Jet matches them: without regard to case, Unicode-aware (per_año finds Per_Año).
std::string foldName(std::string_view name);

// Reads column `i` of the statement's current row into `into`, reusing its text buffer; a number in a column of
// dates (`date`) becomes a date.
void readColumn(sqlite3_stmt* stmt, int i, bool date, Value& into);
// Reads the statement's current row into `row`, column by column.
void readRow(sqlite3_stmt* stmt, const QueryColumns& columns, std::vector<Value>& row);
