// The Jet SQL translation on a small SQLite database of the program's tables: the program's own statements, built
// by the program, give the rows Jet gives; what SQLite would read otherwise is refused; `&` writes its operands as
// Jet does; a sort is left out only when every row has the same key.
#include "runtime/RuntimeError.h"
#include "source/GlibString.h"
#include "source/JetLexer.h"
#include "source/JetSql.h"
#include "source/ProgramStatements.h"
#include "source/SqliteConnection.h"
#include "source/SqliteStatement.h"

#include <glib.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstring>
#include <map>

namespace {

using Rows = std::vector<std::vector<std::string>>;  // Null shown as "<null>"

// Taxpayer 1 has forms 10 and 11. On form 10, August 2007 was filed twice: sequence 9 ("20070819") outranks
// sequence 11 ("200708111") as text; September was filed with the month "9". Form 11's October filing has a Null
// kind and a later filing of operation 2, which takes no part.
const char* kTables = R"(
    CREATE TABLE "CMD" ("CMD_ID" INTEGER, "CMD_NumRef" TEXT, "CMD_Contribuyente" TEXT);
    CREATE TABLE "Form_Cp01" ("CP01_ID" INTEGER, "Cmd_ID" INTEGER, "CP01_IngBrut" TEXT);
    CREATE TABLE "Form_Sid3" ("Sid_ID" INTEGER, "CP01_ID" INTEGER, "Sid_Año" INTEGER, "Sid_Mes" TEXT,
        "Sid_Tramite" TEXT, "Sid_Orden" INTEGER, "Sid_Tramite_Descrip" TEXT, "Sid_operacion" INTEGER);
    CREATE TABLE "Percepciones" ("Sid_ID" INTEGER, "Per_Fecha" REAL, "Per_Año" INTEGER, "Per_Mes" INTEGER,
        "Per_CUIT" TEXT, "Per_NumAgenteRet" TEXT, "Per_Responsable" TEXT, "Per_Concepto" TEXT, "Per_Monto" REAL,
        "Per_Monto1" REAL);
    CREATE TABLE "retenciones" AS SELECT * FROM "Percepciones" WHERE 0;
    INSERT INTO "CMD" VALUES (1, '20-12345678-9', 'Uno');
    INSERT INTO "Form_Cp01" VALUES (10, 1, '901-111111-1'), (11, 1, '901-222222-2');
    INSERT INTO "Form_Sid3" VALUES (100, 10, 2007, '08', '1', 9, 'Original', 0), (101, 10, 2007, '08', '1', 11, 'R', 1),
        (102, 10, 2007, '9', '1', 2, 'Original', 0), (103, 11, 2007, '10', NULL, 3, NULL, 0),
        (104, 11, 2007, '10', '9', 9, 'Anulada', 2);
    INSERT INTO "Percepciones" VALUES (100, 39300.0, 2007, 8, '30-11111111-1', 'A1', 'Uno', '0001', 1234.5, 37.04),
        (103, 39380.0, 2007, 10, '30-22222222-2', 'A2', 'Dos', '0002', 100.0, 3.0);
)";

// The tables above: their columns, and those whose index allows each value once.
const std::map<std::string, TableColumns>& schema() {
    static const std::vector<std::string> movement = {
        "Sid_ID",           "Per_Fecha",       "Per_Año",      "Per_Mes",   "Per_CUIT",
        "Per_NumAgenteRet", "Per_Responsable", "Per_Concepto", "Per_Monto", "Per_Monto1"};
    static const std::map<std::string, TableColumns> tables = {
        {"CMD", {{"CMD_ID", "CMD_NumRef", "CMD_Contribuyente"}, {"CMD_ID"}}},
        {"Form_Cp01", {{"CP01_ID", "Cmd_ID", "CP01_IngBrut"}, {"CP01_ID"}}},
        {"Form_Sid3",
         {{"Sid_ID", "CP01_ID", "Sid_Año", "Sid_Mes", "Sid_Tramite", "Sid_Orden", "Sid_Tramite_Descrip",
           "Sid_operacion"},
          {"Sid_ID"}}},
        {"Percepciones", {movement, {}}},
        {"retenciones", {movement, {}}}};
    return tables;
}

const TableColumns* tables(const std::string& name) {
    const auto it = schema().find(name);
    return it == schema().end() ? nullptr : &it->second;
}

// Names as the tables spell them, found whatever the case of the query.
std::optional<std::string> resolve(std::string_view name) {
    const auto fold = [](std::string_view n) {
        return std::string(GlibString(g_utf8_casefold(n.data(), static_cast<gssize>(n.size()))).get());
    };
    static const std::map<std::string, std::string> canonical = [&] {
        std::map<std::string, std::string> names;
        for (const auto& [table, columns] : schema()) {
            names.emplace(fold(table), table);
            for (const std::string& column : columns.columns) names.emplace(fold(column), column);
        }
        return names;
    }();
    const auto it = canonical.find(fold(name));
    return it == canonical.end() ? std::nullopt : std::optional(it->second);
}

struct Database {
    Database() {
        registerJetFunctions(connection.get());
        if (sqlite3_exec(connection.get(), kTables, nullptr, nullptr, nullptr) != SQLITE_OK)
            throw std::runtime_error("");
    }
    Rows query(const std::string& sql) {
        const SqliteStatement statement(connection.get(), sql);
        sqlite3_stmt* const stmt = statement.get();
        Rows rows;
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            rows.emplace_back();
            for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
                const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
                rows.back().push_back(text ? std::string(text, std::size_t(sqlite3_column_bytes(stmt, i))) : "<null>");
            }
        }
        return rows;
    }
    Rows jet(const std::string& sql) { return query(translateJetSql(sql, resolve)); }

    SqliteConnection connection = SqliteConnection::inMemory();
};

TEST(JetSql, TheProgramsStatementsGiveTheRowsJetGives) {
    Database db;
    // The greatest key as text per form and month, in key order; a Null kind counts as the empty text.
    EXPECT_EQ(
        db.jet(grouped_declarations_sql(1)),
        (Rows{{"10", "2007", "08", "20070819"}, {"11", "2007", "10", "2007103"}, {"10", "2007", "9", "2007912"}}));
    EXPECT_TRUE(db.jet(grouped_declarations_sql(2)).empty());
    const std::pair<std::string, Rows> lookups[] = {{obtener_sid_sql(10, "20070819"), {{"100", "20070819"}}},
                                                    {obtener_sid_sql(10, "200708111"), {{"101", "200708111"}}},
                                                    {obtener_sid_sql(11, "2007103"), {{"103", "2007103"}}},
                                                    {obtener_sid_sql(11, "20070819"), {}}};
    for (const auto& [sql, rows] : lookups) EXPECT_EQ(db.jet(sql), rows) << sql;
    EXPECT_EQ(db.jet(percepciones_sql(1, 103)),
              (Rows{{"1", "103", "20-12345678-9", "901-222222-2", "2007103", "<null>", "P", "39380.0", "2007", "10",
                     "0", "3", "30-22222222-2", "A2", "Dos", "0002", "100.0", "3.0"}}));
    EXPECT_TRUE(db.jet(retenciones_sql(1, 100)).empty());
    EXPECT_THROW(db.jet("SELECT CMD_Nombre FROM CMD"), RuntimeError);  // not read as a text constant
}

TEST(JetSql, WhatSqliteWouldReadOtherwiseIsRefused) {
    const std::pair<std::string, const char*> cases[] = {
        {"SELECT a + b & c FROM t", "unsupported use of & near \"& c FROM t\""},
        {"SELECT \"abc FROM t", "unterminated text constant near \"\"abc FROM t\""},
        {"SELECT [Sid_Año FROM t", "unterminated bracketed name near \"[Sid_Año FROM t\""},
        {"SELECT a FROM t; SELECT b FROM t", "only one statement can be run near \"SELECT b FROM t\""},
        {"DELETE FROM t", "only SELECT statements can be run near \"DELETE FROM t\""},
        {"SELECT t!a FROM t", "unsupported ! qualifier near \"!a FROM t\""},
        {"SELECT a Mod 2 FROM t", "unsupported operator Mod near \"Mod 2 FROM t\""},
        {"SELECT a FROM t WHERE a Like 'x*'", "unsupported operator Like near \"Like 'x*'\""},
        {"SELECT TOP 1 a FROM t", "unsupported keyword TOP near \"TOP 1 a FROM t\""},
        {"SELECT Nz(a, 0) FROM t", "unsupported function Nz near \"Nz(a, 0) FROM t\""},
        {"SELECT Max(a, b) FROM t", "Max takes exactly one argument near \"Max(a, b) FROM t\""},
        {"SELECT " + std::string(250, '(') + "1" + std::string(250, ')'),
         "parentheses nested too deeply near \"((((((((((((((((((((\""},
        {"SELECT 0x10 FROM t", "malformed number near \"0x10 FROM t\""},
        {"SELECT a FROM t WHERE a ¬ 1", "unexpected character ¬ near \"¬ 1\""},
        {"SELECT a\xFF FROM t", "text that is not valid UTF-8 near \"\xFF FROM t\""}};
    for (const auto& [jet, description] : cases) {
        try {
            translateJetSql(jet, resolve);
            ADD_FAILURE() << "translated " << jet;
        } catch (const RuntimeError& error) {
            EXPECT_EQ(error.Number(), RuntimeError::DatabaseError);
            EXPECT_EQ(error.Description(), std::string("cannot translate query: ") + description);
        }
    }
}

TEST(JetSql, AmpersandWritesItsOperandsAsJetDoes) {
    // The arguments, then what `&` makes of them ("" for a long text, "<null>" for Null).
    // clang-format off
    const char* const cases[] = {"5", "5",   "-9223372036854775807 - 1", "-9223372036854775808",   "5.0", "5",
                                 "1234.5", "1234.5",   "-0.0", "0",   "1e15", "1E+15",   "0.00001", "1E-05",
                                 "CAST(123456789012345678 AS REAL)", "1.23456789012346E+17",   "'Año'", "Año",
                                 "'2007', NULL, 8", "20078",   "NULL, NULL", "<null>",
                                 "'a', substr(hex(zeroblob(300)), 1, 600), 'b'", ""};
    // clang-format on
    Database db;
    for (std::size_t i = 0; i < std::size(cases); i += 2) {
        const std::string call = std::string("jet_cat(") + cases[i] + ")";
        const std::string text = *cases[i + 1] ? cases[i + 1] : "a" + std::string(600, '0') + "b";
        EXPECT_EQ(db.query("SELECT " + call + ", typeof(" + call + ")"),
                  (Rows{{text, text == "<null>" ? "null" : "text"}}))
            << cases[i];
    }
}

// An ORDER BY is left out only when every row must have the same key: the tables its terms read are pinned to one
// row by an equality of a unique column in a plain conjunction, over inner joins. Either way the rows, and their
// order, are those of the full translation.
TEST(JetSql, ASortIsLeftOutOnlyWhenEveryRowHasTheSameKey) {
    const std::string head =
        "SELECT Sid_Año, Per_Concepto FROM Form_Sid3 INNER JOIN Percepciones ON "
        "Form_Sid3.Sid_ID = Percepciones.Sid_ID ";
    const std::pair<std::string, bool> cases[] = {
        {percepciones_sql(1, 100), false},
        {head + "WHERE 100 = Form_Sid3.Sid_ID ORDER BY Form_Sid3.Sid_Mes", false},
        {head + "WHERE ((Form_Sid3.Sid_ID = 100) AND (Per_Monto > 0)) ORDER BY Sid_Mes", false},
        {head + "WHERE Form_Sid3.CP01_ID = 10 ORDER BY Sid_Mes DESC", true},  // a key that is not unique
        {head + "WHERE Form_Sid3.Sid_ID = 100 OR Form_Sid3.Sid_ID = 101 ORDER BY Sid_Mes", true},
        {head + "WHERE Form_Sid3.Sid_ID = 100 AND Per_Monto > 0 OR Form_Sid3.Sid_ID = 101 ORDER BY Sid_Mes", true},
        {head + "WHERE Form_Sid3.Sid_ID = 100 ORDER BY Per_Concepto DESC", true},  // a term of another table
        {head + "WHERE Form_Sid3.Sid_ID = 100 ORDER BY 2", true},
        {"SELECT Per_Concepto AS Sid_Mes FROM Form_Sid3 INNER JOIN Percepciones ON Form_Sid3.Sid_ID = "
         "Percepciones.Sid_ID WHERE Form_Sid3.Sid_ID = 100 ORDER BY Sid_Mes",
         true},  // an alias naming another column
        {head + "WHERE Form_Sid3.Sid_ID = Percepciones.Sid_ID ORDER BY Sid_Mes", true},
        {"SELECT Sid_Año FROM Percepciones LEFT JOIN Form_Sid3 ON Form_Sid3.Sid_ID = Percepciones.Sid_ID WHERE "
         "Form_Sid3.Sid_ID = 100 ORDER BY Sid_Mes",
         true},
        {grouped_declarations_sql(1), true}};
    Database db;
    for (const auto& [sql, sorted] : cases) {
        const std::string translated = translateJetSql(sql, resolve, tables);
        EXPECT_EQ(translated.find("ORDER BY") != std::string::npos, sorted) << translated;
        EXPECT_EQ(db.query(translated), db.jet(sql)) << sql;
    }
}

// A text that differs from one read before only in its constants is read by comparing the text between them: it
// then gives the constants and the key reading it whole gives; any other difference needs a reading of its own.
TEST(JetSql, TextsDifferingOnlyInTheirConstantsReadAsTheirPattern) {
    const std::string known = "SELECT a FROM t WHERE k = 12 AND s = 'x' AND d = .5 ORDER BY 1";
    const std::pair<std::string, bool> cases[] = {
        {"SELECT a FROM t WHERE k = 3456 AND s = 'it''s' AND d = .75 ORDER BY 1", true},
        {"SELECT a FROM t WHERE k = 1.5e3 AND s = '' AND d = .5 ORDER BY 1", true},
        {"SELECT a FROM t WHERE k = 12 AND s = \"x\" AND d = .5 ORDER BY 1", false},  // other quotes
        {"SELECT a FROM t WHERE k = '12' AND s = 'x' AND d = .5 ORDER BY 1", false},  // a text for a number
        {"SELECT a FROM t WHERE k = 12abc AND s = 'x' AND d = .5 ORDER BY 1", false},
        {"SELECT a FROM t WHERE k = 12 AND s = 'x' AND d = 5 ORDER BY 1", false},
        {"SELECT a FROM t WHERE k = 12 AND s = 'x' AND d = .5 ORDER BY 2", false},  // a column position
        {"SELECT a FROM t WHERE j = 12 AND s = 'x' AND d = .5 ORDER BY 1", false},
        {"SELECT a FROM t WHERE k = 12 AND s = 'x", false}};
    const JetPattern pattern = patternOf(lexJetSql(known));
    for (const auto& [sql, matches] : cases) {
        std::vector<JetConstant> constants;
        ASSERT_EQ(matchJetPattern(pattern, sql, constants), matches) << sql;
        if (!matches) continue;
        const JetLexed read = lexJetSql(sql);
        EXPECT_EQ(read.key, lexJetSql(known).key) << sql;
        ASSERT_EQ(constants.size(), read.constants.size()) << sql;
        for (std::size_t i = 0; i < constants.size(); ++i) {
            EXPECT_EQ(constants[i].text, read.constants[i].text) << sql;
            EXPECT_EQ(constants[i].value, read.constants[i].value) << sql;
        }
    }
}

}  // namespace
