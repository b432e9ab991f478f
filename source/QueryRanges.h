#pragma once

#include "source/JetLexer.h"
#include "source/JetSql.h"

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// What the translator may tell of a SELECT statement before writing it: where its clauses start, and which table
// each column reference reads.

// Where the clauses of a SELECT statement (grouped by parentheses) start, 0 for a clause it lacks, and whether it
// has DISTINCT or a subquery.
struct StatementClauses {
    std::size_t from = 0, where = 0, group = 0, having = 0, order = 0;
    bool distinct = false;
    bool subquery = false;

    static StatementClauses of(const std::vector<JetNode>& nodes);
};

// A table as the query names it: its stored name, the name its columns are qualified with, and whether it is
// inside a parenthesised join, which SQLite reads as a subquery of the visible columns. Once the WHERE clause is
// read (QueryRanges::pin), a table pinned to one row names the column whose index allows each value once and the
// number the clause sets it equal to.
struct QueryRange {
    std::string table;
    std::string name;
    const TableColumns* columns;
    bool nested = false;
    std::string pinColumn;
    const JetToken* pinValue = nullptr;
};

// The tables of a FROM clause and the columns they hold, in the spellings the database stores.
class QueryRanges {
public:
    QueryRanges(const NameResolver& resolve, const TableLookup& tables) : m_resolve(resolve), m_tables(tables) {}

    // Reads the FROM clause `from` (its tokens, as flatten gives them); false when it is anything but tables and
    // inner joins, or names a table `tables` does not know.
    bool read(const std::vector<const JetToken*>& from);
    std::vector<QueryRange>& ranges() noexcept { return m_ranges; }

    // The range a column reference reads (`qualifier.column`, or a column only one of the tables has), with the
    // column's stored name in `name`; null when that cannot be told.
    QueryRange* rangeOf(const JetToken* qualifier, const JetToken& column, std::string& name);

    // Reads the WHERE clause `where` (its nodes) for the tables it pins to one row: a plain conjunction holds an
    // equality between a number and a column whose index allows each value once.
    void pin(std::span<const JetNode> where);

    // The tokens of a sequence with its groups opened: a group's "(" token, its contents, then nullptr.
    static void flatten(std::span<const JetNode> nodes, std::vector<const JetToken*>& out);

private:
    std::string stored(std::string_view written) const;

    const NameResolver& m_resolve;
    const TableLookup& m_tables;
    std::vector<QueryRange> m_ranges;
};

// Names as SQLite matches them: ASCII letters without regard to case.
bool sameName(std::string_view a, std::string_view b);

// Whether `token` is the keyword `word` (upper case).
inline bool isKeyword(const JetToken* token, std::string_view word) {
    return token && token->kind == JetTokenKind::Keyword && token->text == word;
}
