#pragma once

// The Jet SQL dialect as the rest of the program meets it: quoting, translation to SQLite, and, through
// JetFunctions.h, what a connection needs to run the translation.

#include "source/JetFunctions.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Maps a table or column name, as a query writes it, to the spelling the database stores; nullopt for a name it
// does not know. Jet matches names without regard to case, SQLite only for ASCII letters, so the resolver is
// what lets `Sid_año` find `Sid_Año`.
using NameResolver = std::function<std::optional<std::string>(std::string_view)>;

// What the translator may know of a table, in the spellings the database stores: its columns, and those whose
// index allows each value once.
struct TableColumns {
    std::vector<std::string> columns;
    std::vector<std::string> uniqueColumns;
};
// The columns of a table by its stored name; null for a table it does not know.
using TableLookup = std::function<const TableColumns*(const std::string&)>;

// `text` between two `quote` characters, each quote inside it doubled: a text constant with "'", a name with '"'.
std::string sqlQuoted(std::string_view text, char quote);

// A Jet text constant holding `text` exactly.
inline std::string jetTextConstant(const std::string& text) { return sqlQuoted(text, '\''); }

// Translates one Jet SELECT statement into SQLite SQL that yields the same rows on a database holding the same
// tables, given a connection prepared by registerJetFunctions. Names come out double-quoted in their resolved
// spelling, aliases as written, "text" constants as 'text', and every `&` chain as a call of jet_cat. A
// construct whose meaning SQLite would change (an `&` operand that is not a primary, Mod, Like, Top, functions
// other than Max/Min/Sum/Avg/Count, #dates#), anything but a single SELECT, and text that cannot be read raise
// RuntimeError (DatabaseError) describing the problem and where it is.
//
// Given `tables`, an ORDER BY is left out when the WHERE clause pins every table its terms read to one row: a plain
// conjunction holds an equality between a number and a column whose index allows each value once, and the joins
// are inner joins. Every row then has the same sort key, and the rows keep the order the joins produce them in.
std::string translateJetSql(std::string_view jetSql, const NameResolver& resolve, const TableLookup& tables = {});
