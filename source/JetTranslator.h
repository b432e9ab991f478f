#pragma once

#include "source/JetLexer.h"
#include "source/JetSql.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// Writing a Jet SELECT statement, as the lexer read it, in SQLite's dialect: names resolved and quoted, `&` chains
// as calls of jet_cat, constants written in or as parameters, a sort every row has the same key for left out.

// A query in SQLite's dialect.
struct SqliteTranslation {
    std::string sql;
    // For a translation with parameters: the constant (an index into JetLexed::constants) each `?` takes, in
    // order. A constant the translation leaves out, in an ORDER BY it leaves out, takes none.
    std::vector<std::uint32_t> parameters;
};

// Names the hidden column of the table `table` (its stored name) that computes the `&` chain of its columns
// `columns` (stored names) as jet_cat would; nullopt when it has none for it.
using ChainLookup =
    std::function<std::optional<std::string>(const std::string& table, const std::vector<std::string>& columns)>;

// Writes a query read by lexJetSql as SQLite SQL, as translateJetSql describes. With `parameters`, every constant
// is written as `?`, so that queries differing only in their constants share one translation; without, the
// constants are written in. With `chains`, a chain of columns of one table that is compared with a constant, or is
// an item of the select list named by AS, is read from the column `chains` names instead of joined by jet_cat.
// Raises RuntimeError (DatabaseError) for what cannot be translated.
SqliteTranslation translateJet(const JetLexed& lexed, const NameResolver& resolve, const TableLookup& tables,
                               bool parameters, const ChainLookup& chains = {});
