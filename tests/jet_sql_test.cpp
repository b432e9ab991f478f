#include "source/JetSql.h"

#include "runtime/RuntimeError.h"

#include <glib.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

// Names as the source database spells them; queries may write them in any case.
const std::vector<std::string> kSchemaNames = {
    "CMD",           "CMD_ID",       "CMD_NumRef",       "CMD_Contribuyente", "Form_Cp01",
    "CP01_ID",       "Cmd_ID",       "CP01_IngBrut",     "Form_Sid3",         "Sid_ID",
    "Sid_Año",       "Sid_Mes",      "Sid_Tramite",      "Sid_Orden",         "Sid_Tramite_Descrip",
    "Sid_operacion", "Percepciones", "retenciones",      "Per_Fecha",         "Per_Año",
    "Per_Mes",       "Per_CUIT",     "Per_NumAgenteRet", "Per_Responsable",   "Per_Concepto",
    "Per_Monto",     "Per_Monto1"};

std::string fold(std::string_view name) {
    gchar* folded = g_utf8_casefold(name.data(), static_cast<gssize>(name.size()));
    std::string result(folded);
    g_free(folded);
    return result;
}

NameResolver schemaResolver() {
    auto canonical = std::make_shared<std::map<std::string, std::string>>();
    for (const std::string& name : kSchemaNames) canonical->emplace(fold(name), name);
    return [canonical](std::string_view name) -> std::optional<std::string> {
        const auto it = canonical->find(fold(name));
        if (it == canonical->end()) return std::nullopt;
        return it->second;
    };
}

struct Rows {
    std::vector<std::string> columns;
    std::vector<std::vector<std::string>> values;  // Null shown as "<null>"
};

class MemoryDatabase {
public:
    MemoryDatabase() {
        if (sqlite3_open(":memory:", &m_db) != SQLITE_OK) throw std::runtime_error("cannot open SQLite");
        registerJetFunctions(m_db);
    }
    ~MemoryDatabase() { sqlite3_close(m_db); }
    MemoryDatabase(const MemoryDatabase&) = delete;
    MemoryDatabase& operator=(const MemoryDatabase&) = delete;

    void exec(const std::string& sql) {
        char* message = nullptr;
        if (sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
            const std::string text = message;
            sqlite3_free(message);
            throw std::runtime_error(text + " in " + sql);
        }
    }

    Rows query(const std::string& sql) {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(m_db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK)
            throw std::runtime_error(std::string(sqlite3_errmsg(m_db)) + " in " + sql);
        Rows rows;
        for (int i = 0; i < sqlite3_column_count(stmt); ++i) rows.columns.emplace_back(sqlite3_column_name(stmt, i));
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            std::vector<std::string> row;
            for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
                const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
                row.push_back(text ? std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(stmt, i)))
                                   : std::string("<null>"));
            }
            rows.values.push_back(std::move(row));
        }
        sqlite3_finalize(stmt);
        return rows;
    }

private:
    sqlite3* m_db = nullptr;
};

// ----------------------------------------------------------------------------------------------------------------
// The program's statements, built as the program builds them.

std::string groupedQuery(int cmdId, const std::string& firstPiece) {
    return firstPiece +
           " FROM CMD INNER JOIN (Form_Cp01 INNER JOIN Form_Sid3 ON Form_Cp01.CP01_ID = Form_Sid3.CP01_ID) ON CMD.CMD_ID = Form_Cp01.Cmd_ID " +
           " WHERE (((Form_Cp01.Cmd_ID)= " + std::to_string(cmdId) +
           ") AND ((Form_Sid3.Sid_operacion)=0 Or (Form_Sid3.Sid_operacion)=1)) " +
           " GROUP BY Form_Cp01.CP01_id,Form_Sid3.Sid_Año, Form_Sid3.Sid_Mes " +
           " ORDER BY Max(Form_Sid3.Sid_Año & Form_Sid3.Sid_Mes & Form_Sid3.Sid_Tramite & Form_Sid3.Sid_Orden); ";
}

const std::string kGroupedSelect =
    " SELECT Form_Cp01.CP01_id,Form_Sid3.Sid_Año, Form_Sid3.Sid_Mes, Max(Form_Sid3.Sid_Año & Form_Sid3.Sid_Mes & Form_Sid3.Sid_Tramite & Form_Sid3.Sid_Orden) AS maximo ";
const std::string kGroupedSelectTxt =
    " SELECT Form_Cp01.CP01_id, Form_Sid3.Sid_Año, Form_Sid3.Sid_Mes, Max(Form_Sid3.Sid_Año & Form_Sid3.Sid_Mes & Form_Sid3.Sid_Tramite & Form_Sid3.Sid_Orden) AS maximo ";

// The ordering key goes into the lookup as a quoted text, so SQLite compares text with text.
std::string obtenerSidQuery(int cp01Id, const std::string& maximo) {
    return std::string(
               " SELECT Form_Sid3.Sid_ID, Form_Sid3.Sid_Año & Form_Sid3.Sid_Mes & Form_Sid3.Sid_Tramite & Form_Sid3.Sid_Orden AS maximo ") +
           " From Form_Sid3 " + " WHERE Form_Sid3.CP01_ID=" + std::to_string(cp01Id) +
           " and (((Form_Sid3.Sid_Año & Form_Sid3.Sid_Mes & Form_Sid3.Sid_Tramite & Form_Sid3.Sid_Orden)= " + "'" +
           maximo + "'" + "));";
}

std::string movementTail(int cmdId, int sidId) {
    return std::string(" WHERE Form_Cp01.Cmd_ID= ") + std::to_string(cmdId) +
           "   and Form_Sid3.Sid_ID= " + std::to_string(sidId) +
           " ORDER BY [Sid_Año] & [Sid_Mes] & [Sid_Tramite]& [Sid_Orden] DESC;";
}

const std::string kMovementHead =
    std::string(" SELECT Form_Cp01.Cmd_ID, Form_Sid3.Sid_ID, CMD.CMD_NumRef, Form_Cp01.CP01_IngBrut, ") +
    "       [Sid_Año] & [Sid_Mes] & [Sid_Tramite] & [Sid_Orden] AS anticipo, Form_Sid3.Sid_Tramite_Descrip, ";

std::string perceptionQuery(int cmdId, int sidId) {
    return kMovementHead + "       \"P\"" +
           " as tipo, Percepciones.Per_Fecha, Percepciones.Per_Año, Percepciones.Per_Mes, " +
           "       Form_Sid3.Sid_operacion, Form_Sid3.Sid_Orden, Percepciones.Per_CUIT, " +
           "       Percepciones.Per_NumAgenteRet, Percepciones.Per_Responsable, Percepciones.Per_Concepto, " +
           "       Percepciones.Per_Monto, Percepciones.Per_Monto1 " +
           " FROM CMD INNER JOIN ((Form_Cp01 INNER JOIN Form_Sid3 ON Form_Cp01.CP01_ID = Form_Sid3.CP01_ID) INNER JOIN Percepciones ON Form_Sid3.Sid_ID = Percepciones.Sid_ID) ON CMD.CMD_ID = Form_Cp01.Cmd_ID " +
           movementTail(cmdId, sidId);
}

std::string withholdingQuery(int cmdId, int sidId) {
    return kMovementHead + "       \"R\"" +
           " as tipo,retenciones.Per_Fecha, retenciones.Per_Año, retenciones.Per_Mes, " +
           "       Form_Sid3.Sid_operacion, Form_Sid3.Sid_Orden, retenciones.Per_CUIT, " +
           "       retenciones.Per_NumAgenteRet, retenciones.Per_Responsable, retenciones.Per_Concepto, " +
           "       retenciones.Per_Monto, retenciones.Per_Monto1 " +
           " FROM CMD INNER JOIN ((Form_Cp01 INNER JOIN Form_Sid3 ON Form_Cp01.CP01_ID = Form_Sid3.CP01_ID) INNER JOIN retenciones ON Form_Sid3.Sid_ID = retenciones.Sid_ID) ON CMD.CMD_ID = Form_Cp01.Cmd_ID " +
           movementTail(cmdId, sidId);
}

// Taxpayer 1 has forms 10 and 11, taxpayer 2 form 20. On form 10, August 2007 was filed twice: sequence 9
// ("20070819") outranks sequence 11 ("200708111") as text. September was filed with the month "9". Form 11's
// October filing has a Null kind, and a later filing of operation 2 that takes no part.
class ProgramQueries : public ::testing::Test {
protected:
    void SetUp() override {
        m_db.exec(R"(
            CREATE TABLE "CMD" ("CMD_ID" INTEGER, "CMD_NumRef" TEXT, "CMD_Contribuyente" TEXT);
            CREATE TABLE "Form_Cp01" ("CP01_ID" INTEGER, "Cmd_ID" INTEGER, "CP01_IngBrut" TEXT);
            CREATE TABLE "Form_Sid3" ("Sid_ID" INTEGER, "CP01_ID" INTEGER, "Sid_Año" INTEGER, "Sid_Mes" TEXT,
                                      "Sid_Tramite" TEXT, "Sid_Orden" INTEGER, "Sid_Tramite_Descrip" TEXT,
                                      "Sid_operacion" INTEGER);
            CREATE TABLE "Percepciones" ("Sid_ID" INTEGER, "Per_Fecha" REAL, "Per_Año" INTEGER, "Per_Mes" INTEGER,
                                         "Per_CUIT" TEXT, "Per_NumAgenteRet" TEXT, "Per_Responsable" TEXT,
                                         "Per_Concepto" TEXT, "Per_Monto" REAL, "Per_Monto1" REAL);
            CREATE TABLE "retenciones" AS SELECT * FROM "Percepciones" WHERE 0;
            INSERT INTO "CMD" VALUES (1, '20-12345678-9', 'Uno'), (2, '27-87654321-0', 'Dos');
            INSERT INTO "Form_Cp01" VALUES (10, 1, '901-111111-1'), (11, 1, '901-222222-2'), (20, 2, '901-333333-3');
            INSERT INTO "Form_Sid3" VALUES
                (100, 10, 2007, '08', '1', 9, 'Original', 0),
                (101, 10, 2007, '08', '1', 11, 'Rectificativa', 1),
                (102, 10, 2007, '9', '1', 2, 'Original', 0),
                (103, 11, 2007, '10', NULL, 3, NULL, 0),
                (104, 11, 2007, '10', '9', 9, 'Anulada', 2),
                (105, 20, 2007, '08', '1', 5, 'Original', 0);
            INSERT INTO "Percepciones" VALUES
                (100, 39300.0, 2007, 8, '30-11111111-1', 'A1', 'Agente Uno', '0001-00000001', 1234.5, 37.04),
                (103, 39380.0, 2007, 10, '30-22222222-2', 'A2', 'Agente Dos', '0002-00000002', 100.0, 3.0);
            INSERT INTO "retenciones" VALUES
                (100, 39301.0, 2007, 8, '30-33333333-3', 'A3', 'Agente Tres', '0003-00000003', 50.25, 1.5);
        )");
    }

    Rows run(const std::string& jetSql) { return m_db.query(translateJetSql(jetSql, schemaResolver())); }

    MemoryDatabase m_db;
};

TEST_F(ProgramQueries, GroupedQueryKeepsTheGreatestKeyAsTextPerFormAndMonthInKeyOrder) {
    const std::vector<std::vector<std::string>> expected = {
        {"10", "2007", "08", "20070819"},
        {"11", "2007", "10", "2007103"},
        {"10", "2007", "9", "2007912"},
    };
    for (const std::string& firstPiece : {kGroupedSelect, kGroupedSelectTxt}) {
        const Rows rows = run(groupedQuery(1, firstPiece));
        EXPECT_EQ(rows.columns, (std::vector<std::string>{"CP01_ID", "Sid_Año", "Sid_Mes", "maximo"}));
        EXPECT_EQ(rows.values, expected) << firstPiece;
    }
}

TEST_F(ProgramQueries, GroupedQueryOfATaxpayerWithoutDeclarationsIsEmpty) {
    EXPECT_TRUE(run(groupedQuery(3, kGroupedSelect)).values.empty());
}

TEST_F(ProgramQueries, MisspeltNameFailsInsteadOfReadingAsText) {
    EXPECT_THROW(run("SELECT CMD_Nombre FROM CMD"), std::runtime_error);
}

struct LookupCase {
    const char* name;
    int cp01;
    const char* maximo;
    std::vector<std::vector<std::string>> rows;
};

class ObtenerSid : public ProgramQueries, public ::testing::WithParamInterface<LookupCase> {};

TEST_P(ObtenerSid, FindsTheDeclarationByFormAndOrderingKey) {
    const Rows rows = run(obtenerSidQuery(GetParam().cp01, GetParam().maximo));
    EXPECT_EQ(rows.columns, (std::vector<std::string>{"Sid_ID", "maximo"}));
    EXPECT_EQ(rows.values, GetParam().rows);
}

INSTANTIATE_TEST_SUITE_P(Lookups, ObtenerSid,
                         ::testing::Values(LookupCase{"GreatestKeyOfAugust", 10, "20070819", {{"100", "20070819"}}},
                                           LookupCase{"OtherFilingOfAugust", 10, "200708111", {{"101", "200708111"}}},
                                           LookupCase{"MonthWithoutLeadingZero", 10, "2007912", {{"102", "2007912"}}},
                                           LookupCase{"NullKindCountsAsEmpty", 11, "2007103", {{"103", "2007103"}}},
                                           LookupCase{"KeyOfAnotherForm", 11, "20070819", {}}),
                         [](const ::testing::TestParamInfo<LookupCase>& info) { return std::string(info.param.name); });

const std::vector<std::string> kMovementColumns = {
    "Cmd_ID",   "Sid_ID",           "CMD_NumRef",      "CP01_IngBrut", "anticipo",      "Sid_Tramite_Descrip",
    "tipo",     "Per_Fecha",        "Per_Año",         "Per_Mes",      "Sid_operacion", "Sid_Orden",
    "Per_CUIT", "Per_NumAgenteRet", "Per_Responsable", "Per_Concepto", "Per_Monto",     "Per_Monto1"};

struct MovementCase {
    const char* name;
    std::string sql;
    std::vector<std::vector<std::string>> rows;
};

class Movements : public ProgramQueries, public ::testing::WithParamInterface<MovementCase> {};

TEST_P(Movements, DeliverTheMovementRecordsOfOneDeclaration) {
    const Rows rows = run(GetParam().sql);
    EXPECT_EQ(rows.columns, kMovementColumns);
    EXPECT_EQ(rows.values, GetParam().rows);
}

INSTANTIATE_TEST_SUITE_P(
    Queries, Movements,
    ::testing::Values(
        MovementCase{"Perceptions",
                     perceptionQuery(1, 100),
                     {{"1", "100", "20-12345678-9", "901-111111-1", "20070819", "Original", "P", "39300.0", "2007", "8",
                       "0", "9", "30-11111111-1", "A1", "Agente Uno", "0001-00000001", "1234.5", "37.04"}}},
        MovementCase{"PerceptionsOfANullKind",
                     perceptionQuery(1, 103),
                     {{"1", "103", "20-12345678-9", "901-222222-2", "2007103", "<null>", "P", "39380.0", "2007", "10",
                       "0", "3", "30-22222222-2", "A2", "Agente Dos", "0002-00000002", "100.0", "3.0"}}},
        MovementCase{"Withholdings",
                     withholdingQuery(1, 100),
                     {{"1", "100", "20-12345678-9", "901-111111-1", "20070819", "Original", "R", "39301.0", "2007", "8",
                       "0", "9", "30-33333333-3", "A3", "Agente Tres", "0003-00000003", "50.25", "1.5"}}},
        MovementCase{"DeclarationWithoutMovements", withholdingQuery(1, 103), {}},
        MovementCase{"DeclarationOfAnotherTaxpayer", perceptionQuery(2, 100), {}}),
    [](const ::testing::TestParamInfo<MovementCase>& info) { return std::string(info.param.name); });

struct RejectedCase {
    const char* name;
    std::string jet;
    const char* description;
};

class Rejected : public ::testing::TestWithParam<RejectedCase> {};

TEST_P(Rejected, RaisesADatabaseError) {
    try {
        translateJetSql(GetParam().jet, schemaResolver());
        FAIL() << "translated " << GetParam().jet;
    } catch (const RuntimeError& error) {
        EXPECT_EQ(error.Number(), RuntimeError::DatabaseError);
        EXPECT_EQ(error.Description(), GetParam().description);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, Rejected,
    ::testing::Values(RejectedCase{"SumBeforeAmpersand", "SELECT a + b & c FROM t",
                                   R"(cannot translate query: unsupported use of & near "& c FROM t")"},
                      RejectedCase{"UnterminatedDoubleQuotedText", R"(SELECT "abc FROM t)",
                                   R"(cannot translate query: unterminated text constant near ""abc FROM t")"},
                      RejectedCase{"UnterminatedBracket", "SELECT [Sid_Año FROM t",
                                   R"(cannot translate query: unterminated bracketed name near "[Sid_Año FROM t")"},
                      RejectedCase{"TwoStatements", "SELECT a FROM t; SELECT b FROM t",
                                   R"(cannot translate query: only one statement can be run near "SELECT b FROM t")"},
                      RejectedCase{"Delete", "DELETE FROM t",
                                   R"(cannot translate query: only SELECT statements can be run near "DELETE FROM t")"},
                      RejectedCase{"BangQualifier", "SELECT t!a FROM t",
                                   R"(cannot translate query: unsupported ! qualifier near "!a FROM t")"},
                      RejectedCase{"Mod", "SELECT a Mod 2 FROM t",
                                   R"(cannot translate query: unsupported operator Mod near "Mod 2 FROM t")"},
                      RejectedCase{"Like", "SELECT a FROM t WHERE a Like 'x*'",
                                   R"(cannot translate query: unsupported operator Like near "Like 'x*'")"},
                      RejectedCase{"Top", "SELECT TOP 1 a FROM t",
                                   R"(cannot translate query: unsupported keyword TOP near "TOP 1 a FROM t")"},
                      RejectedCase{"JetOnlyFunction", "SELECT Nz(a, 0) FROM t",
                                   R"(cannot translate query: unsupported function Nz near "Nz(a, 0) FROM t")"},
                      RejectedCase{"TwoArgumentMax", "SELECT Max(a, b) FROM t",
                                   R"(cannot translate query: Max takes exactly one argument near "Max(a, b) FROM t")"},
                      RejectedCase{
                          "DeepNesting", "SELECT " + std::string(250, '(') + "1" + std::string(250, ')'),
                          R"(cannot translate query: parentheses nested too deeply near "((((((((((((((((((((")"},
                      RejectedCase{"NumberRunningIntoAName", "SELECT 0x10 FROM t",
                                   R"(cannot translate query: malformed number near "0x10 FROM t")"},
                      RejectedCase{"UnknownCharacter", "SELECT a FROM t WHERE a ¬ 1",
                                   R"(cannot translate query: unexpected character ¬ near "¬ 1")"},
                      RejectedCase{"InvalidUtf8", "SELECT a\xFF FROM t",
                                   "cannot translate query: text that is not valid UTF-8 near \"\xFF FROM t\""}),
    [](const ::testing::TestParamInfo<RejectedCase>& info) { return std::string(info.param.name); });

// ----------------------------------------------------------------------------------------------------------------
// jet_cat

struct CatCase {
    const char* name;
    const char* arguments;  // SQLite expressions
    std::optional<std::string> text;
};

class JetCat : public ::testing::TestWithParam<CatCase> {};

TEST_P(JetCat, WritesOperandsAsJetDoes) {
    MemoryDatabase db;
    const std::string call = std::string("jet_cat(") + GetParam().arguments + ")";
    const Rows rows = db.query("SELECT " + call + ", typeof(" + call + ")");
    ASSERT_EQ(rows.values.size(), 1u);
    if (GetParam().text) {
        EXPECT_EQ(rows.values[0], (std::vector<std::string>{*GetParam().text, "text"}));
    } else {
        EXPECT_EQ(rows.values[0], (std::vector<std::string>{"<null>", "null"}));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Operands, JetCat,
    ::testing::Values(
        CatCase{"Integer", "5", "5"}, CatCase{"NegativeInteger", "-9223372036854775807 - 1", "-9223372036854775808"},
        CatCase{"WholeDouble", "5.0", "5"}, CatCase{"Fraction", "1234.5", "1234.5"}, CatCase{"Tenth", "0.1", "0.1"},
        CatCase{"NegativeZero", "-0.0", "0"}, CatCase{"NegativeDouble", "-2.25", "-2.25"},
        CatCase{"LargeDouble", "1e20", "1E+20"}, CatCase{"FifteenDigitExponent", "1e15", "1E+15"},
        CatCase{"BelowExponentForm", "123456789012345.0", "123456789012345"},
        CatCase{"SmallDouble", "0.00001", "1E-05"}, CatCase{"SmallFraction", "1.5e-5", "1.5E-05"},
        CatCase{"AboveExponentForm", "0.0001", "0.0001"},
        CatCase{"RoundedToFifteenDigits", "CAST(123456789012345678 AS REAL)", "1.23456789012346E+17"},
        CatCase{"Text", "'Año'", "Año"}, CatCase{"Blob", "x'41420043'", std::string("AB\0C", 4)},
        CatCase{"NullOperandIsEmpty", "'2007', NULL, 8", "20078"}, CatCase{"OnlyNulls", "NULL, NULL", std::nullopt},
        CatCase{"LongText", "'a', substr(hex(zeroblob(300)), 1, 600), 'b'", "a" + std::string(600, '0') + "b"}),
    [](const ::testing::TestParamInfo<CatCase>& info) { return std::string(info.param.name); });

}  // namespace

// An ORDER BY is left out only when every row must have the same key: the tables its terms read are pinned to one
// row by an equality of a unique column in a plain conjunction, over inner joins.
struct SortCase {
    const char* name;
    std::string sql;
    bool sorted;
};

class SortOfOneKey : public ProgramQueries, public ::testing::WithParamInterface<SortCase> {
protected:
    static TableLookup lookup() {
        auto tables = std::make_shared<std::map<std::string, TableColumns>>();
        (*tables)["CMD"] = {{"CMD_ID", "CMD_NumRef", "CMD_Contribuyente"}, {"CMD_ID"}};
        (*tables)["Form_Cp01"] = {{"CP01_ID", "Cmd_ID", "CP01_IngBrut"}, {"CP01_ID"}};
        (*tables)["Form_Sid3"] = {{"Sid_ID", "CP01_ID", "Sid_Año", "Sid_Mes", "Sid_Tramite", "Sid_Orden",
                                   "Sid_Tramite_Descrip", "Sid_operacion"},
                                  {"Sid_ID"}};
        const std::vector<std::string> movement = {"Sid_ID",    "Per_Fecha",        "Per_Año",         "Per_Mes",
                                                   "Per_CUIT",  "Per_NumAgenteRet", "Per_Responsable", "Per_Concepto",
                                                   "Per_Monto", "Per_Monto1"};
        (*tables)["Percepciones"] = {movement, {}};
        (*tables)["retenciones"] = {movement, {}};
        return [tables](const std::string& name) -> const TableColumns* {
            const auto it = tables->find(name);
            return it == tables->end() ? nullptr : &it->second;
        };
    }
};

TEST_P(SortOfOneKey, IsLeftOutOnlyWhenEveryRowHasTheSameKey) {
    const std::string translated = translateJetSql(GetParam().sql, schemaResolver(), lookup());
    EXPECT_EQ(translated.find("ORDER BY") != std::string::npos, GetParam().sorted) << translated;
    // Either way the rows and their order are those of the full translation.
    const Rows expected = run(GetParam().sql);
    const Rows actual = m_db.query(translated);
    EXPECT_EQ(actual.values, expected.values);
}

const std::string kPinnedHead =
    "SELECT Sid_Año, Per_Concepto FROM Form_Sid3 INNER JOIN Percepciones ON "
    "Form_Sid3.Sid_ID = Percepciones.Sid_ID ";

INSTANTIATE_TEST_SUITE_P(
    Translation, SortOfOneKey,
    ::testing::Values(
        SortCase{"ProgramMovements", perceptionQuery(1, 100), false},
        SortCase{"QualifiedKeyReversed", kPinnedHead + "WHERE 100 = Form_Sid3.Sid_ID ORDER BY Form_Sid3.Sid_Mes",
                 false},
        SortCase{"KeyInsideParentheses",
                 kPinnedHead + "WHERE ((Form_Sid3.Sid_ID = 100) AND (Per_Monto > 0)) ORDER BY Sid_Mes", false},
        SortCase{"KeyThatIsNotUnique", kPinnedHead + "WHERE Form_Sid3.CP01_ID = 10 ORDER BY Sid_Mes DESC", true},
        SortCase{"KeyUnderOr", kPinnedHead + "WHERE Form_Sid3.Sid_ID = 100 OR Form_Sid3.Sid_ID = 101 ORDER BY Sid_Mes",
                 true},
        SortCase{"TermOfAnotherTable", kPinnedHead + "WHERE Form_Sid3.Sid_ID = 100 ORDER BY Per_Concepto DESC", true},
        SortCase{"ColumnPosition", kPinnedHead + "WHERE Form_Sid3.Sid_ID = 100 ORDER BY 2", true},
        SortCase{"AliasOfAnotherColumn",
                 "SELECT Per_Concepto AS Sid_Mes FROM Form_Sid3 INNER JOIN Percepciones ON "
                 "Form_Sid3.Sid_ID = Percepciones.Sid_ID WHERE Form_Sid3.Sid_ID = 100 ORDER BY Sid_Mes",
                 true},
        SortCase{"KeyComparedWithAColumn",
                 kPinnedHead + "WHERE Form_Sid3.Sid_ID = Percepciones.Sid_ID ORDER BY Sid_Mes", true},
        SortCase{"OuterJoin",
                 "SELECT Sid_Año FROM Percepciones LEFT JOIN Form_Sid3 ON Form_Sid3.Sid_ID = Percepciones.Sid_ID "
                 "WHERE Form_Sid3.Sid_ID = 100 ORDER BY Sid_Mes",
                 true},
        SortCase{"Grouped", groupedQuery(1, kGroupedSelect), true}),
    [](const auto& info) { return std::string(info.param.name); });
