#pragma once

#include "source/JetLexer.h"
#include "source/JetSql.h"

#include <cstdint>
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

// Writes a query read by lexJetSql as SQLite SQL, as translateJetSql describes. With `parameters`, every constant
// is written as `?`, so that queries differing only in their constants share one translation; without, the
// constants are written in. Raises RuntimeError (DatabaseError) for what cannot be translated.
SqliteTranslation translateJet(const JetLexed& lexed, const NameResolver& resolve, const TableLookup& tables,
                               bool parameters);
