#pragma once

#include "runtime/Value.h"
#include "source/JetTextOrder.h"
#include "source/Recordset.h"

#include <string>
#include <string_view>
#include <vector>

struct sqlite3_stmt;

// The columns of a query shape: their names as the engine gives them, folded for lookups, and which hold dates
// (a number in a DATETIME column is a date). Used by one thread at a time, as the database they come from.
struct QueryColumns {
    std::vector<std::string> names;
    std::vector<std::string> folded;
    std::vector<char> dates;  // one byte each: read for every field of every row
    // The field slots of every recordset of the shape (see Recordset::Fields).
    mutable Recordset::FieldSlots fieldSlots{};

    // The columns of the prepared statement `stmt`.
    static QueryColumns of(sqlite3_stmt* stmt);

    // The column `name` stands for, matched as Jet matches names; raises RuntimeError (item not found) for a name no
    // column has.
    std::size_t column(std::string_view name) const;

private:
    std::size_t find(std::string_view name) const;

    // The writers ask for the same dozen names for every row of every query of a shape, in the same order and
    // mostly with literal texts: the names found are remembered with where they were, and the one after the last
    // found is tried first.
    struct Asked {
        const char* at;
        std::string name;
        std::size_t column;
    };
    mutable std::vector<Asked> m_asked;
    mutable std::size_t m_lastAsked = 0;
};

// The rows of a result, read whole.
using QueryRows = std::vector<std::vector<Value>>;

// Reads column `i` of the statement's current row into `into`, reusing its text buffer; a number in a column of
// dates (`date`) becomes a date.
void readColumn(sqlite3_stmt* stmt, int i, bool date, Value& into);
// Reads the statement's current row into `row`, column by column.
void readRow(sqlite3_stmt* stmt, const QueryColumns& columns, std::vector<Value>& row);
