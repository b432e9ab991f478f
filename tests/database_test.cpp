// The database layer against real Access-format files and their JSON dumps.
#include "runtime/DateSerial.h"
#include "runtime/RuntimeError.h"
#include "source/JetDatabase.h"
#include "source/JetHeader.h"
#include "source/JetSql.h"
#include "source/ProgramStatements.h"
#include "source/Recordset.h"
#include "source/SqliteConnection.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>

namespace {

std::unique_ptr<JetDatabase> open(const std::string& path, const std::string& connect = ";pwd=Kb7731R28") {
    return std::make_unique<JetDatabase>(path, passwordFromConnect(connect));
}

std::string isoDate(double serial) {
    const CivilDate d = civilFromSerial(serial);
    double seconds = std::round((serial - std::trunc(serial)) * 86400.0);
    const int s = static_cast<int>(std::fabs(seconds));
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d", d.year, d.month, d.day, s / 3600, s / 60 % 60,
                  s % 60);
    return buffer;
}

// One cell compared with its dump: the dump writes dates as ISO texts, booleans as true/false, and Singles with
// the digits of the float.
bool sameValue(const Value& ours, const nlohmann::json& dumped) {
    if (dumped.is_null()) return ours.isNull();
    switch (ours.kind()) {
        case Value::Kind::Null: return false;
        case Value::Kind::Text: return dumped.is_string() && dumped.get<std::string>() == ours.asText();
        case Value::Kind::Date:
            return dumped.is_string() && dumped.get<std::string>().substr(0, 19) == isoDate(ours.asDouble());
        case Value::Kind::Integer:
            if (dumped.is_boolean()) return ours.asInteger() == (dumped.get<bool>() ? -1 : 0);
            return dumped.is_number_integer() && dumped.get<std::int64_t>() == ours.asInteger();
        case Value::Kind::Double: {
            // Currency is dumped as its exact decimal text.
            if (!dumped.is_number() && !dumped.is_string()) return false;
            const double expected = dumped.is_string() ? std::stod(dumped.get<std::string>()) : dumped.get<double>();
            const double actual = ours.asDouble();
            const bool single = static_cast<double>(static_cast<float>(actual)) == actual;
            return expected == actual || (single && static_cast<float>(expected) == static_cast<float>(actual));
        }
    }
    return false;
}

// Every row of every table in `dump` is read back with the same values; rows may come in another order (a row
// that grew when edited is stored elsewhere), so each dumped row is matched by its first column.
void expectMatchesDump(JetDatabase& db, const nlohmann::json& tables) {
    for (const auto& [table, content] : tables.items()) {
        const nlohmann::json& rows = content.is_object() ? content["rows"] : content;
        auto rs = db.OpenRecordset("SELECT * FROM [" + table + "]");
        std::vector<nlohmann::json> unmatched(rows.begin(), rows.end());
        int count = 0;
        for (; !rs->isEOF(); rs->MoveNext(), ++count) {
            const auto match = std::find_if(unmatched.begin(), unmatched.end(), [&](const nlohmann::json& row) {
                for (const auto& [column, value] : row.items())
                    if (!sameValue(rs->Fields(column), value)) return false;
                return true;
            });
            ASSERT_NE(match, unmatched.end()) << table << ": row " << count << " matches no dumped row";
            unmatched.erase(match);
        }
        EXPECT_EQ(count, static_cast<int>(rows.size())) << table;
        EXPECT_TRUE(unmatched.empty()) << table << ": " << unmatched.size() << " dumped rows not read";
    }
}

}  // namespace

// Every value of every fixture, each opened with its own password; what Jet refuses to open is refused.
TEST(Database, EveryValueMatchesTheDumpsAndWhatJetRefusesIsRefused) {
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"fixtures/impuest-cases.mdb", "fixtures/impuest-cases.json", ";pwd=Kb7731R28"},
        {"fixtures/impuest-nopass.mdb", "fixtures/impuest-nopass.json", ";pwd=Kb7731R28"},
        {"fixtures/impuest-empty.mdb", "fixtures/impuest-empty.json", ";pwd=Kb7731R28"},
        {"fixtures/access/jet3-access97.mdb", "fixtures/access/jet3-access97.json", ""},
        {"fixtures/access/jet3-access97-password.mdb", "fixtures/access/jet3-access97.json", ";pwd=Kb7731R28"},
        {"fixtures/access/jet4-v2000-password.mdb", "fixtures/access/jet4-v2000-password.json", ";pwd=password"},
        {"fixtures/access/jet4-v2003-password.mdb", "fixtures/access/jet4-v2003-password.json", ";PWD=password"},
        {"fixtures/access/jet4-v2000-nopassword.mdb", "fixtures/access/jet4-v2000-nopassword.json", ";pwd=anything"},
        {"fixtures/impuest-wrongpass.mdb", nullptr, ";pwd=Kb7731R28"},
        {"fixtures/impuest-cases.mdb", nullptr, ""},
        {"fixtures/access/jet4-v2000-password.mdb", nullptr, ";pwd=PASSWORD"},
        {"fixtures/access/jet3-access97-password.mdb", nullptr, ";pwd=kb7731r28"},
        {"nonexistent/Impuest.mdb", nullptr, ";pwd=Kb7731R28"},
        {"fixtures/impuest-cases.json", nullptr, ";pwd=Kb7731R28"},  // not a database
        {"fixtures", nullptr, ";pwd=Kb7731R28"}};
    for (const auto& [mdb, json, connect] : cases) {
        SCOPED_TRACE(std::string(mdb) + " " + connect);
        if (!json) {
            EXPECT_THROW(open(shared(mdb), connect), RuntimeError);
            continue;
        }
        auto db = open(shared(mdb), connect);
        expectMatchesDump(*db, nlohmann::json::parse(readBytes(shared(json))));
    }
}

// What a query means in Jet: names without regard to case, Null apart from the empty text, a number in ORDER BY a
// column position, ".5" one number; what cannot be given the same meaning is an error, never a wrong result.
TEST(Database, QueriesMeanWhatTheyMeanInJet) {
    auto db = open(shared("fixtures/impuest-cases.mdb"));
    auto rs = db->OpenRecordset("SELECT PER_AÑO, per_mes FROM percepciones WHERE per_id = 1");
    EXPECT_EQ(rs->Fields("PER_AÑO"), Value::integer(2008));
    EXPECT_EQ(rs->Fields("per_mes"), Value::integer(5));
    EXPECT_THROW(rs->Fields("Per_Nada"), RuntimeError);
    rs = db->OpenRecordset("SELECT CMD_Contribuyente, CMD_Contribuyente & \"\" AS joined FROM CMD WHERE CMD_ID = 4");
    EXPECT_TRUE(rs->Fields("CMD_Contribuyente").isNull());
    EXPECT_EQ(rs->Fields("joined"), Value::text(""));
    rs = db->OpenRecordset("SELECT \"it's\" & 'x' AS t, .5 AS n FROM CMD WHERE CMD_ID = 3");
    EXPECT_EQ(rs->Fields("t"), Value::text("it'sx"));
    EXPECT_EQ(rs->Fields("n"), Value::real(0.5));
    EXPECT_EQ(
        db->OpenRecordset("SELECT CMD_NumRef, CMD_ID FROM CMD WHERE CMD_ID < 4 ORDER BY 2 DESC")->Fields("CMD_ID"),
        Value::integer(3));
    // Queries that differ only in their constants share a translation; what one cannot translate stays refused.
    for (const char* sql : {"SELECT CMD_ID + 1 & \"x\" FROM CMD", "DELETE FROM CMD", "SELECT Nada FROM CMD",
                            "SELECT 0x10 FROM CMD", "SELECT 'abc FROM CMD"})
        EXPECT_THROW(db->OpenRecordset(sql), RuntimeError) << sql;
    EXPECT_FALSE(db->OpenRecordset("SELECT CMD_ID FROM CMD")->isEOF());
    EXPECT_THROW(SqliteConnection("/nonexistent/Impuest.db", SQLITE_OPEN_READONLY), RuntimeError);
}

TEST(Database, SortsTextAsJetDoes) {
    auto db = open(shared("fixtures/impuest-cases.mdb"));
    std::vector<std::string> names;
    for (auto rs = db->OpenRecordset("SELECT CMD_Contribuyente FROM CMD WHERE CMD_ID IN (3, 8, 9, 10, 11, 13) "
                                     "ORDER BY CMD_Contribuyente");
         !rs->isEOF(); rs->MoveNext())
        names.push_back(rs->Fields("CMD_Contribuyente").asText());
    // Letters with accents sort beside the plain ones, and case does not count.
    EXPECT_EQ(names, (std::vector<std::string>{"Cooperativa Agrícola La Unión Ltda.", "Ñandubay Agropecuaria S.A.",
                                               "Olmos, Begoña", "Ruiz Díaz, Ramón", "Sánchez Ibáñez, Lucía",
                                               "Suárez, Ángel"}));
}

// A lookup through the file's index finds exactly the rows a scan of the table finds, in the same order, for
// every key of every indexed Long column.
TEST(Database, IndexSearchesAgreeWithScans) {
    struct Column {
        const char* table;
        const char* column;
    };
    const Column columns[] = {{"CMD", "CMD_ID"},          {"Form_Cp01", "CP01_ID"},  {"Form_Cp01", "Cmd_ID"},
                              {"Form_Sid3", "Sid_ID"},    {"Form_Sid3", "CP01_ID"},  {"Percepciones", "Per_ID"},
                              {"Percepciones", "Sid_ID"}, {"retenciones", "Per_ID"}, {"retenciones", "Sid_ID"}};
    auto render = [](Recordset& rs) {
        std::string row;
        for (const char* name : {"Per_Concepto", "Sid_Mes", "CP01_IngBrut", "CMD_NumRef"}) {
            try {
                row += Conv::textOrEmpty(rs.Fields(name)) + "|";
            } catch (const RuntimeError&) {}
        }
        return row;
    };
    for (const char* file : {"fixtures/impuest-cases.mdb", "fixtures/impuest-demo.mdb", "bench/impuest-s.mdb"}) {
        auto db = open(shared(file));
        for (const Column& c : columns) {
            SCOPED_TRACE(std::string(file) + " " + c.table + "." + c.column);
            // The scan: `+ 0` keeps the engine from searching the index.
            std::map<std::int64_t, std::vector<std::string>> scanned;
            for (auto rs =
                     db->OpenRecordset(std::string("SELECT * FROM ") + c.table + " WHERE " + c.column + " + 0 > -1e10");
                 !rs->isEOF(); rs->MoveNext())
                scanned[rs->Fields(c.column).asInteger()].push_back(render(*rs));
            ASSERT_FALSE(scanned.empty());
            for (const auto& [key, rows] : scanned) {
                std::vector<std::string> sought;
                for (auto rs = db->OpenRecordset(std::string("SELECT * FROM ") + c.table + " WHERE " + c.column +
                                                 " = " + std::to_string(key));
                     !rs->isEOF(); rs->MoveNext())
                    sought.push_back(render(*rs));
                ASSERT_EQ(sought, rows) << "key " << key;
            }
            // Keys that are not there, below, between and above the stored ones.
            for (std::int64_t missing :
                 {std::int64_t(-5), std::int64_t(0), scanned.rbegin()->first + 1, std::int64_t(2147483647)}) {
                if (scanned.count(missing)) continue;
                EXPECT_TRUE(db->OpenRecordset(std::string("SELECT * FROM ") + c.table + " WHERE " + c.column + " = " +
                                              std::to_string(missing))
                                ->isEOF());
            }
        }
    }
}

// What a smaller table keeps, a search asked for again and a chain compared with a text give the rows the file
// gives: a text looked up finds what a scan of the table compares equal (`+` keeps the engine from looking up), a
// chain compared with a text what the same chain joined by jet_cat finds.
TEST(Database, KeptRowsAndChainsGiveWhatTheFileGives) {
    auto db = open(shared("fixtures/impuest-cases.mdb"));
    const auto rows = [&](const std::string& sql, JetDatabase* from = nullptr) {
        std::vector<std::string> found;
        for (auto rs = (from ? from : db.get())->OpenRecordset(sql); !rs->isEOF(); rs->MoveNext())
            found.push_back(Conv::textOrEmpty(rs->Fields("k")) + "|" + Conv::textOrEmpty(rs->Fields("m")));
        return found;
    };
    for (const char* column : {"CMD_NumRef", "CMD_Contribuyente"}) {
        std::vector<std::string> probes = {"", "20", "ñandubay agropecuaria s.a.", "NANDUBAY AGROPECUARIA S.A."};
        for (auto rs = db->OpenRecordset(std::string("SELECT ") + column + " FROM CMD"); !rs->isEOF(); rs->MoveNext())
            probes.push_back(Conv::textOrEmpty(rs->Fields(column)));
        for (const std::string& probe : probes) {
            const std::string where = std::string(column) + " = " + jetTextConstant(probe);
            const auto scanned = rows("SELECT CMD_ID AS k, CMD_NumRef AS m FROM CMD WHERE +" + where);
            EXPECT_EQ(rows("SELECT CMD_ID AS k, CMD_NumRef AS m FROM CMD WHERE " + where), scanned) << where;
            // A column's first lookup in a reading of the file compares the rows without the index later ones use.
            auto fresh = open(shared("fixtures/impuest-cases.mdb"));
            EXPECT_EQ(rows("SELECT CMD_ID AS k, CMD_NumRef AS m FROM CMD WHERE " + where, fresh.get()), scanned)
                << where;
        }
    }
    const std::string chain = "Sid_Año & Sid_Mes & Sid_Tramite & Sid_Orden";
    for (auto rs = db->OpenRecordset("SELECT CP01_ID, " + chain + " AS m FROM Form_Sid3"); !rs->isEOF();
         rs->MoveNext()) {
        const std::string where = " FROM Form_Sid3 WHERE CP01_ID = " + Conv::CStr(rs->Fields("CP01_ID")) + " AND (" +
                                  chain + ") = " + jetTextConstant(Conv::textOrEmpty(rs->Fields("m")));
        EXPECT_EQ(rows("SELECT Sid_ID AS k, " + chain + " AS m" + where),
                  rows("SELECT Sid_ID AS k, " + chain + " & '' AS m" + where + " & ''"))
            << where;
    }
    // A movement statement reads the chain of its one declaration once.
    int movements = 0;
    for (auto rs = db->OpenRecordset("SELECT Cmd_ID, Sid_ID, " + chain +
                                     " AS m FROM Form_Cp01 INNER JOIN Form_Sid3 ON Form_Cp01.CP01_ID = "
                                     "Form_Sid3.CP01_ID");
         !rs->isEOF(); rs->MoveNext()) {
        const auto key = Conv::CLng(rs->Fields("Cmd_ID")), sid = Conv::CLng(rs->Fields("Sid_ID"));
        for (const std::string& sql : {retenciones_sql(key, sid), percepciones_sql(key, sid)})
            for (auto movement = db->OpenRecordset(sql); !movement->isEOF(); movement->MoveNext(), ++movements)
                EXPECT_EQ(movement->Fields("anticipo"), rs->Fields("m")) << sql;
        // Joins in parentheses around a declaration pinned by its number give what they give unpinned: each ON
        // clause still applies to its own join.
        const std::string joined = "SELECT Form_Sid3.Sid_ID AS k, " + chain +
                                   " AS m FROM CMD INNER JOIN (Form_Cp01 INNER JOIN Form_Sid3 ON Form_Cp01.CP01_ID = "
                                   "Form_Sid3.CP01_ID OR Form_Sid3.CP01_ID = -1) ON CMD.CMD_ID = Form_Cp01.Cmd_ID "
                                   "WHERE ";
        const std::string pinned = "Form_Sid3.Sid_ID = " + std::to_string(sid);
        EXPECT_EQ(rows(joined + pinned), rows(joined + "+" + pinned)) << pinned;
        EXPECT_EQ(rows(joined + pinned).size(), 1u) << pinned;
    }
    EXPECT_GT(movements, 0);
}

// A long result is read as it is walked: other queries, the same one among them, may run meanwhile, and the file
// may be replaced; the walk still yields the rows of the file as it was when the query ran, and new queries see the
// file as it is, whether it was rewritten in place or replaced as a whole.
TEST(Database, LongResultsWalkedAmongOtherQueries) {
    TempDir dir;
    const auto path = dir.path() / "Impuest.mdb";
    std::filesystem::copy_file(shared("fixtures/impuest-demo.mdb"), path);
    auto db = open(path.string());
    const std::string sql = "SELECT Per_ID, Per_Concepto, Per_Monto FROM Percepciones";
    // The rows of `rs` from the current one, `count` of them at most.
    const auto read = [&](Recordset& rs, std::size_t count = SIZE_MAX) {
        std::vector<std::string> rows;
        for (; !rs.isEOF() && rows.size() < count; rs.MoveNext())
            rows.push_back(Conv::CStr(rs.Fields("Per_ID")) + "|" + Conv::textOrEmpty(rs.Fields("Per_Concepto")) + "|" +
                           Conv::CStr(rs.Fields("Per_Monto")));
        return rows;
    };
    const std::vector<std::string> expected = read(*db->OpenRecordset(sql));
    ASSERT_EQ(expected.size(), 5825u);

    auto outer = db->OpenRecordset(sql);
    std::vector<std::string> walked = read(*outer, 1000);
    EXPECT_EQ(read(*db->OpenRecordset(sql)), expected);
    auto abandoned = db->OpenRecordset(sql);
    abandoned->MoveNext();
    abandoned->Close();
    EXPECT_THROW(abandoned->MoveNext(), RuntimeError);

    // Replaced as a whole while the walk is half-way: new queries see the new file.
    const auto replacement = dir.path() / "replacement.mdb";
    std::filesystem::copy_file(shared("fixtures/impuest-empty.mdb"), replacement);
    std::filesystem::rename(replacement, path);
    EXPECT_TRUE(db->OpenRecordset(sql)->isEOF());
    const std::vector<std::string> rest = read(*outer);
    walked.insert(walked.end(), rest.begin(), rest.end());
    EXPECT_EQ(walked, expected);
    EXPECT_THROW(outer->Fields("Per_ID"), RuntimeError);
    // Rewritten in place, as the application that maintains the file saves it.
    writeBytes(path, readBytes(shared("fixtures/impuest-demo.mdb")));
    EXPECT_EQ(read(*db->OpenRecordset(sql)), expected);
}

// A field read by its slot is the field of its name, on the rows read when the query opened as on those read later.
TEST(Database, FieldsReadBySlotAreTheFieldsOfTheirNames) {
    auto db = open(std::filesystem::path(shared("fixtures/impuest-demo.mdb")).string());
    auto rs = db->OpenRecordset("SELECT Per_ID, Per_Concepto, Per_Monto FROM Percepciones");
    std::size_t rows = 0;
    for (; !rs->isEOF(); rs->MoveNext(), ++rows) {
        ASSERT_EQ(&rs->Fields(0, "per_monto"), &rs->Fields("Per_Monto"));
        ASSERT_EQ(&rs->Fields(1, "PER_ID"), &rs->Fields("Per_ID"));
    }
    EXPECT_EQ(rows, 5825u);
    EXPECT_THROW(rs->Fields(0, "per_monto"), RuntimeError);
    // The recordsets of one shape share their slots: a slot read with another name reads that name's field.
    const std::string shape = "SELECT Per_ID, Per_Concepto, Per_Monto FROM Percepciones WHERE Per_ID < ";
    auto first = db->OpenRecordset(shape + "3");
    auto second = db->OpenRecordset(shape + "4");
    ASSERT_FALSE(first->isEOF() || second->isEOF());
    EXPECT_EQ(&first->Fields(0, "Per_Monto"), &first->Fields("Per_Monto"));
    EXPECT_EQ(&second->Fields(0, "Per_Concepto"), &second->Fields("Per_Concepto"));
    EXPECT_EQ(&first->Fields(0, "Per_Monto"), &first->Fields("Per_Monto"));
}

// A database that keeps no results reads each as it is walked: the rows a kept result gives, whichever fields are
// read in whichever order, and while other queries of the same shape are walked inside it.
TEST(Database, ResultsReadAsWalkedGiveTheRowsOfKeptOnes) {
    const std::string demo = std::filesystem::path(shared("fixtures/impuest-demo.mdb")).string();
    auto kept = open(demo);
    auto walked = open(demo);
    walked->KeepResults = false;
    const std::string shape = "SELECT Per_ID, Per_Concepto, Per_Fecha, Per_Monto FROM Percepciones WHERE Per_ID < ";
    const auto rows = [&](JetDatabase& db, const std::string& bound) {
        std::vector<std::string> found;
        for (auto rs = db.OpenRecordset(shape + bound); !rs->isEOF(); rs->MoveNext()) {
            // A query of the same shape opened and walked inside: the outer one's statement stays where it is.
            const auto inner = db.OpenRecordset(shape + "9");
            std::string row = Conv::textOrEmpty(rs->Fields("Per_Monto")) + "|" + Conv::CStr(inner->Fields("Per_ID"));
            for (const char* name : {"per_fecha", "Per_Concepto", "Per_ID", "PER_MONTO"})
                row += "|" + Conv::textOrEmpty(rs->Fields(name));
            found.push_back(row);
        }
        return found;
    };
    for (const char* bound : {"0", "2", "60", "100000"}) EXPECT_EQ(rows(*walked, bound), rows(*kept, bound)) << bound;
}
