// The Jet file reader against real Access-format files and their JSON dumps.
#include "jetfile/JetFile.h"
#include "database/JetSortKey.h"
#include "jetfile/JetHeader.h"
#include "jetfile/PageSource.h"
#include "platform/Clock.h"
#include "runtime/DateSerial.h"
#include "runtime/RuntimeError.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>

namespace {

std::unique_ptr<JetFile> open(const std::string& path, const std::string& connect = ";pwd=Kb7731R28") {
    return std::make_unique<JetFile>(openFileSource(path), passwordFromConnect(connect), systemClock());
}

// Every column of table `t`, and where each is decoded.
struct AllColumns {
    AllColumns(const JetFile& file, std::size_t t) : values(file.table(t).columns.size()) {
        for (std::size_t c = 0; c < values.size(); ++c) {
            positions.push_back(int(c));
            into.push_back(&values[c]);
        }
    }
    std::vector<int> positions;
    std::vector<Value> values;
    std::vector<Value*> into;
};

// The rows of table `name`, in the order a scan of its data pages meets them, each by its columns' names.
std::vector<std::map<std::string, Value>> rowsOf(const JetFile& file, const std::string& name) {
    const auto& names = file.tableNames();
    const auto named = std::find(names.begin(), names.end(), name);
    if (named == names.end()) return {};
    const std::size_t t = std::size_t(named - names.begin());
    const JetTableInfo* table = &file.table(t);
    AllColumns all(file, t);
    std::vector<std::map<std::string, Value>> rows;
    file.scan(t, all.positions, all.into.data(), [&](RowPointer) {
        auto& row = rows.emplace_back();
        for (std::size_t c = 0; c < table->columns.size(); ++c) row[table->columns[c].name] = all.values[c];
        return true;
    });
    return rows;
}

std::string isoDate(double serial) {
    const CivilDate d = civilFromSerial(serial);
    double seconds = std::round((serial - std::trunc(serial)) * 86400.0);
    const int s = static_cast<int>(std::fabs(seconds));
    char buffer[80];
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
// that grew when edited is stored elsewhere), so each dumped row is matched by its first column. What a dump says of
// the whole file (a name starting with "_") is no table.
void expectMatchesDump(const JetFile& file, const nlohmann::json& tables) {
    for (const auto& [table, content] : tables.items()) {
        if (table.starts_with('_')) continue;
        const nlohmann::json& rows = content.is_object() ? content["rows"] : content;
        std::vector<nlohmann::json> unmatched(rows.begin(), rows.end());
        int count = 0;
        for (const auto& row : rowsOf(file, table)) {
            const auto match = std::find_if(unmatched.begin(), unmatched.end(), [&](const nlohmann::json& dumped) {
                for (const auto& [column, value] : dumped.items()) {
                    const auto it = row.find(column);
                    if (it == row.end() || !sameValue(it->second, value)) return false;
                }
                return true;
            });
            ASSERT_NE(match, unmatched.end()) << table << ": row " << count << " matches no dumped row";
            unmatched.erase(match);
            ++count;
        }
        EXPECT_EQ(count, static_cast<int>(rows.size())) << table;
        EXPECT_TRUE(unmatched.empty()) << table << ": " << unmatched.size() << " dumped rows not read";
    }
}

}  // namespace

// Every value of every database, each opened with its own password, matches its dump; what Jet refuses to open is
// refused. The files Access itself wrote are part of the shared material.
TEST(JetFile, EveryValueMatchesTheDumpsAndWhatJetRefusesIsRefused) {
    const std::string cases = testData("data/impuest-cases.mdb");
    const std::string casesDump = testData("data/impuest-cases.json");
    const std::tuple<std::string, std::string, const char*> own[] = {
        {cases, casesDump, ";pwd=Kb7731R28"},
        {testData("data/impuest-nopass.mdb"), casesDump, ";pwd=Kb7731R28"},
        {testData("data/impuest-empty.mdb"), testData("data/impuest-empty.json"), ";pwd=Kb7731R28"},
        {testData("data/impuest-wrongpass.mdb"), "", ";pwd=Kb7731R28"},
        {cases, "", ""},
        {testData("data/impuest-wrongpass.mdb"), "", ";pwd=otra1234"},
        {"nonexistent/Impuest.mdb", "", ";pwd=Kb7731R28"},
        {casesDump, "", ";pwd=Kb7731R28"},  // not a database
        {testData("data"), "", ";pwd=Kb7731R28"}};
    for (const auto& [mdb, json, connect] : own) {
        SCOPED_TRACE(mdb + " " + connect);
        if (json.empty()) {
            EXPECT_THROW(open(mdb, connect), RuntimeError);
            continue;
        }
        expectMatchesDump(*open(mdb, connect), nlohmann::json::parse(readBytes(json)));
    }
    EXPECT_NO_THROW(open(testData("data/impuest-wrongpass.mdb"), ";pwd=Otra1234"));

    const std::tuple<const char*, const char*, const char*> byAccess[] = {
        {"fixtures/access/jet3-access97.mdb", "fixtures/access/jet3-access97.json", ""},
        {"fixtures/access/jet3-access97-password.mdb", "fixtures/access/jet3-access97.json", ";pwd=Kb7731R28"},
        {"fixtures/access/jet4-v2000-password.mdb", "fixtures/access/jet4-v2000-password.json", ";pwd=password"},
        {"fixtures/access/jet4-v2003-password.mdb", "fixtures/access/jet4-v2003-password.json", ";PWD=password"},
        {"fixtures/access/jet4-v2000-nopassword.mdb", "fixtures/access/jet4-v2000-nopassword.json", ";pwd=anything"},
        {"fixtures/access/jet4-v2000-password.mdb", nullptr, ";pwd=PASSWORD"},
        {"fixtures/access/jet3-access97-password.mdb", nullptr, ";pwd=kb7731r28"}};
    for (const auto& [mdb, json, connect] : byAccess) {
        SCOPED_TRACE(std::string(mdb) + " " + connect);
        if (shared(mdb).empty()) GTEST_SKIP() << missingShared(mdb);
        if (!json) {
            EXPECT_THROW(open(shared(mdb), connect), RuntimeError);
            continue;
        }
        expectMatchesDump(*open(shared(mdb), connect), nlohmann::json::parse(readBytes(shared(json))));
    }
}

// A search through the file's index finds exactly the rows a scan of the table finds, in the same order, for every
// key of every indexed Long column, and nothing for keys that are not there.
TEST(JetFile, IndexSearchesAgreeWithScans) {
    for (const std::string& name : {testData("data/impuest-cases.mdb"), testData("../demo/Impuest.mdb")}) {
        const auto file = open(name);
        int searched = 0;
        for (std::size_t t = 0; t < file->tableNames().size(); ++t) {
            const JetTableInfo& table = file->table(t);
            for (const int column : table.seekableColumns) {
                SCOPED_TRACE(name + " " + table.name + "." + table.columns[std::size_t(column)].name);
                std::map<std::int64_t, std::vector<std::vector<Value>>> scanned;
                AllColumns all(*file, t);
                file->scan(t, all.positions, all.into.data(), [&](RowPointer) {
                    if (!all.values[std::size_t(column)].isNull())
                        scanned[all.values[std::size_t(column)].asInteger()].push_back(all.values);
                    return true;
                });
                ASSERT_FALSE(scanned.empty());
                for (const auto& [key, rows] : scanned) {
                    std::vector<std::vector<Value>> sought;
                    std::vector<RowPointer> pointers;
                    ASSERT_TRUE(file->seek(t, column, key, pointers));
                    for (const RowPointer pointer : pointers)
                        if (file->rowAt(t, pointer, all.positions, all.into.data())) sought.push_back(all.values);
                    ASSERT_EQ(sought, rows) << "key " << key;
                }
                for (const std::int64_t missing : {std::int64_t(-5), std::int64_t(0), scanned.rbegin()->first + 1,
                                                   std::int64_t(2147483647), std::int64_t(1) << 40}) {
                    std::vector<RowPointer> none{{1, 1}};
                    if (!scanned.count(missing)) {
                        EXPECT_TRUE(file->seek(t, column, missing, none) && none.empty()) << missing;
                    }
                }
                ++searched;
            }
        }
        EXPECT_GE(searched, 9) << name;
    }
}

// An ascending index on a Text column lists every row once, in the order of the names' keys, each where a scan meets
// it (a row that grew and moved at its new place); a column without one has none to list.
TEST(JetFile, TextIndexListsEveryRowInKeyOrder) {
    // Indexes another implementation of the format wrote: the first has a row that moved; the second's index has a
    // node above its leaves.
    for (const char* name : {"fixtures/impuest-cases.mdb", "bench/impuest-m.mdb"}) {
        SCOPED_TRACE(name);
        if (shared(name).empty()) GTEST_SKIP() << missingShared(name);
        const auto file = open(shared(name));
        const auto& names = file->tableNames();
        const std::size_t cmd = std::size_t(std::find(names.begin(), names.end(), "CMD") - names.begin());
        const JetTableInfo& table = file->table(cmd);
        const auto position = [&](const char* column) {
            return int(std::find_if(table.columns.begin(), table.columns.end(),
                                    [&](const JetColumn& c) { return c.name == column; }) -
                       table.columns.begin());
        };
        const int numRef[] = {position("CMD_NumRef")};
        std::vector<RowPointer> listed{{1, 1}};
        EXPECT_FALSE(file->inIndexOrder(cmd, position("CMD_ID"), listed));
        EXPECT_TRUE(listed.empty());
        ASSERT_TRUE(file->inIndexOrder(cmd, numRef[0], listed));

        Value reference;
        Value* const into[] = {&reference};
        std::set<std::pair<std::uint32_t, int>> scanned, inIndex;
        file->scan(cmd, numRef, into, [&](RowPointer at) { return scanned.insert({at.page, at.row}).second; });
        std::string previous;
        for (const RowPointer at : listed) {
            EXPECT_TRUE(inIndex.insert({at.page, at.row}).second) << at.page << ":" << int(at.row) << " twice";
            ASSERT_TRUE(file->rowAt(cmd, at, numRef, into));
            const std::string key = jetGeneralSortKey(reference.asText());
            EXPECT_LE(previous, key) << reference.asText();
            previous = key;
        }
        EXPECT_EQ(inIndex, scanned);
    }
}

// Damage to a text index's pages is reported naming the table, as any damage is.
TEST(JetFile, DamagedTextIndexIsReported) {
    // A text index another implementation of the format wrote, of one leaf.
    if (shared("fixtures/impuest-cases.mdb").empty()) GTEST_SKIP() << missingShared("fixtures/impuest-cases.mdb");
    const std::string bytes = readBytes(shared("fixtures/impuest-cases.mdb"));
    const auto original = open(shared("fixtures/impuest-cases.mdb"));
    const auto& names = original->tableNames();
    const std::size_t cmd = std::size_t(std::find(names.begin(), names.end(), "CMD") - names.begin());
    const JetTableInfo& table = original->table(cmd);
    ASSERT_EQ(table.textIndexPages.size(), 1u);
    const std::uint32_t leaf = table.textIndexPages[0];
    ASSERT_EQ(bytes[leaf * 4096], '\x04') << "the index is one leaf";
    std::uint32_t dataPage = 0;
    original->scan(cmd, {}, nullptr, [&](RowPointer at) { return dataPage = at.page, false; });

    const std::tuple<const char*, std::uint32_t, const char*> cases[] = {
        {"a leaf that names itself as the next", leaf, "forman un ciclo"},
        {"a leaf that names a data page as the next", dataPage, "no es de índice"},
        {"a leaf that names a page past the end", 0xFFFFFF, "está fuera del archivo"}};
    for (const auto& [name, next, what] : cases) {
        TempDir dir;
        std::string damaged = bytes;
        for (int b = 0; b < 4; ++b) damaged[leaf * 4096 + 0x10 + b] = char(next >> (8 * b));
        writeBytes(dir.path() / "damaged.mdb", damaged);
        std::vector<RowPointer> listed;
        try {
            open((dir.path() / "damaged.mdb").string())->inIndexOrder(cmd, table.textIndexColumns[0], listed);
            ADD_FAILURE() << name << ": read";
        } catch (const RuntimeError& e) {
            EXPECT_TRUE(e.Description().starts_with("La base de datos " + (dir.path() / "damaged.mdb").string() +
                                                    " está dañada (tabla CMD: "))
                << name << ": " << e.Description();
            EXPECT_NE(e.Description().find(what), std::string::npos) << name << ": " << e.Description();
        }
    }
}
