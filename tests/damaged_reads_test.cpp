// Damaged copies of the databases read every way the program reads them, from a real file through the system's
// side of the platform, on both systems: each copy is read or refused with a run-time error, never anything else,
// and the file is never changed nor anything put beside it. (The export of the copies, in a child process that a
// crash or a hang cannot take down, is robustness_test's, where the export is built.)
#include "database/JetDatabase.h"
#include "runtime/RuntimeError.h"
#include "support/DamagedCopies.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>

namespace fs = std::filesystem;

namespace {

std::int32_t key(const Value& value) { return value.kind() == Value::Kind::Integer ? int32_t(value.asInteger()) : 0; }

// Reads the database at `path` the five ways, on a few of its taxpayers and declarations; says how far it got.
std::string readEveryWay(const std::string& path) {
    JetDatabase db(path, "Kb7731R28");
    const std::unique_ptr<Reading> reading = db.read();
    const std::vector<TaxpayerRow> taxpayers = reading->taxpayers();
    std::size_t movements = 0;
    for (std::size_t t = 0; t < std::min<std::size_t>(taxpayers.size(), 4); ++t) {
        if (taxpayers[t].CMD_NumRef.kind() != Value::Kind::Text) continue;
        const std::optional<FoundTaxpayer> found = reading->taxpayerByReference(taxpayers[t].CMD_NumRef.asText());
        if (!found) continue;
        const std::vector<DeclarationGroup> groups = reading->declarationGroups(key(found->CMD_ID));
        for (std::size_t g = 0; g < std::min<std::size_t>(groups.size(), 6); ++g) {
            if (groups[g].maximo.kind() != Value::Kind::Text) continue;
            const std::optional<Value> id = reading->declarationId(key(groups[g].CP01_ID), groups[g].maximo.asText());
            if (!id) continue;
            for (const MovementTable table : {MovementTable::Retenciones, MovementTable::Percepciones})
                reading->movements(table, key(found->CMD_ID), key(*id), [&](const Movement&) { ++movements; });
        }
    }
    return movements > 0 ? "read with movements" : "read";
}

// Writes `bytes` as the database in `folder`, reads it, and says how that went; with "!" before whatever must not
// happen.
std::string outcomeOf(const fs::path& folder, const std::string& bytes) {
    fs::remove_all(folder);
    fs::create_directory(folder);
    const fs::path file = folder / "Impuest.mdb";
    writeBytes(file, bytes);
    // A time no reading could leave behind, and long past: no reading takes the file for one being written.
    const auto written = fs::last_write_time(file) - std::chrono::hours(24 * 400);
    fs::last_write_time(file, written);
    std::string outcome;
    try {
        outcome = readEveryWay(utf8Path(file));
    } catch (const RuntimeError& e) {
        outcome = e.Number() == RuntimeError::DatabaseChanged ? "!taken for a file being written" : "refused";
    } catch (const std::exception& e) {
        outcome = std::string("!") + typeid(e).name() + ": " + e.what();
    }
    if (readBytes(file) != bytes || fs::last_write_time(file) != written) outcome += " !the database file changed";
    if (std::distance(fs::directory_iterator(folder), {}) != 1) outcome += " !something beside the database";
    return outcome;
}

TEST(DamagedDatabases, AreReadOrRefused) {
    std::vector<std::function<std::pair<std::string, std::string>()>> copies;
    std::string skipped;
    for (const DamageSource& source : kDamageSources) {
        const std::string file = damageSourcePath(source);
        if (file.empty()) {
            skipped += "\n" + missingShared(source.file);
            continue;
        }
        const auto original = std::make_shared<std::string>(readBytes(pathOf(file)));
        for (int kind = 0; kind < 4; ++kind)
            for (int n = 0; n < source.copiesPerDamage; ++n)
                copies.push_back([&source, original, kind, n] { return damage(source, *original, kind, n); });
    }
    // Files that once crashed or hung the reader.
    for (const auto& entry : fs::directory_iterator(pathOf(testData("regressions"))))
        copies.push_back([file = entry.path()] { return std::make_pair(utf8Path(file), readBytes(file)); });

    TempDir dir;
    std::map<std::string, int> tally;
    for (const auto& copy : copies) {
        const std::string outcome = outcomeOf(dir.path() / "case", copy().second);
        if (outcome.find('!') == std::string::npos)
            ++tally[outcome];
        else
            ADD_FAILURE() << copy().first << ": " << outcome;
    }
    // What the copies came to, for the record: the share of each outcome shows whether the damage reached the
    // reading code at all.
    std::printf("%zu copies\n", copies.size());
    for (const auto& [outcome, n] : tally) std::printf("%6d  %s\n", n, outcome.c_str());
    EXPECT_GT(tally["read with movements"], 0);
    if (!skipped.empty()) GTEST_SKIP() << "the other copies ran;" << skipped;
}

}  // namespace
