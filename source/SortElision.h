#pragma once

#include "source/JetLexer.h"
#include "source/JetSql.h"

#include <cstddef>
#include <vector>

// Leaving out a sort every row has the same key for. An export's movement query sorts the movements of one
// declaration by the declaration's own key: SQLite would sort rows that are all alike.

// Where the ORDER BY clause of `nodes` (a SELECT statement grouped by parentheses) starts when the WHERE clause
// pins every table its terms read to one row: a plain conjunction holds an equality between a number and a column
// whose index allows each value once (as `tables` tells), and the joins are inner joins. Every row then has the
// same sort key, and the rows keep the order the joins produce them in. 0 when that cannot be told, or without
// `tables`.
std::size_t sortWithOneKey(const std::vector<JetNode>& nodes, const NameResolver& resolve, const TableLookup& tables);
