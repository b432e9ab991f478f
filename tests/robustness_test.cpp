// Damaged copies of the databases through start-up and a TXT export. Each copy must end in the program's own
// messages: never a crash, a hang, a partial file or a change to the database file.
#include "export/ExportCommands.h"
#include "export/Form1.h"
#include "export/StartUp.h"
#include "support/ChildProcess.h"
#include "support/ScriptedMessageBoxes.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <sstream>

namespace fs = std::filesystem;

namespace {

// A case takes well under a second even with the sanitizers; a hang costs this much, and fails its case.
constexpr unsigned kCaseSeconds = 10;

const ShownBox kNoConnection{"No se ha podido realizar la conexión al servidor", MsgIcon::Information, MsgButtons::OK,
                             "Atención"};
const ShownBox kNotFound{"No se pudo encontrar el ID del contribuyente!!!", MsgIcon::Critical, MsgButtons::OK, {}};
const std::string kTxtError =
    "Error al crear el archivo!!, si lo tiene abierto en otro programa \rciérrelo y vuelva a intentarlo.\r\rMotivo: ";

std::string describe(const std::vector<ShownBox>& boxes) {
    std::ostringstream out;
    for (const ShownBox& box : boxes) {
        PrintTo(box, &out);
        out << ' ';
    }
    return out.str();
}

std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(folder, ignored)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Start-up in `folder`, then a TXT export of the first listed taxpayer (or a typed one when the list is empty).
// Returns the outcome as "start-up / export" when every message and file is one the program allows, else a
// text starting with "!" that says what is wrong.
std::string startAndExport(const fs::path& folder) {
    PlainControls controls;
    ScriptedMessageBoxes boxes;
    Form1 form(controls, boxes, folder.string());
    Form_Load(form);
    std::string startUp = "loaded";
    if (boxes.shown().size() == 1 && boxes.shown()[0] == kNoConnection) {
        startUp = "Atención";
    } else if (boxes.shown().size() == 1 && boxes.shown()[0].text.starts_with("Error : FORM_LOAD -") &&
               boxes.shown()[0].icon == MsgIcon::Critical && !boxes.shown()[0].title) {
        startUp = "FORM_LOAD error";
    } else if (!boxes.shown().empty()) {
        return "!start-up showed " + describe(boxes.shown());
    }

    controls.combo = controls.list.empty() ? "20-12345678-3" : controls.list.front();
    controls.desde = "200001";
    controls.hasta = "222201";
    boxes.clear();
    btn_gen_txt_orv_Click(form);
    Command3_Click(form);

    const fs::path output = folder / "RET-PERC";
    const std::vector<std::string> files = namesIn(output);
    const std::string done = " Archivo Generado : ";
    if (boxes.shown().size() != 1) return "!export showed " + describe(boxes.shown());
    const ShownBox& box = boxes.shown()[0];
    if (box.text.starts_with(done) && box.icon == MsgIcon::Information && !box.title) {
        const fs::path written = box.text.substr(done.size());
        if (written.parent_path() != output || files != std::vector{written.filename().string()} ||
            !fs::is_regular_file(written))
            return "!completed, but the folder holds " + std::to_string(files.size()) + " entries";
        return startUp + " / completed";
    }
    std::string export_;
    if (box.text.starts_with(kTxtError) && box.icon == MsgIcon::Critical && box.title == "** ERROR **")
        export_ = "error";
    else if (box == kNotFound)
        export_ = "taxpayer not found";
    else
        return "!export showed " + describe(boxes.shown());
    if (!files.empty()) return "!" + export_ + ", but the folder holds " + files.front();
    return startUp + " / " + export_;
}

struct Source {
    const char* file;
    std::size_t pageSize;
    int copiesPerDamage;
};

// Jet 4 files have 4 KiB pages, Jet 3 files 2 KiB. The Jet 3 file holds none of the program's tables, so start-up
// fails on it at best; it is here for libmdb's Jet 3 reading of the catalog and the pages.
const Source kSources[] = {
    {"fixtures/impuest-cases.mdb", 4096, 175},
    {"fixtures/access/jet3-access97-password.mdb", 2048, 50},
    {"fixtures/impuest-empty.mdb", 4096, 25},
};

struct DamagedCopy {
    std::string name;
    std::string bytes;
};

// The `n`th copy of `kind` (0 truncated, 1 bytes changed, 2 pages swapped, 3 page zero-filled); the same
// arguments always give the same copy.
DamagedCopy damage(const Source& source, const std::string& original, int kind, int n) {
    std::mt19937 random(static_cast<unsigned>(kind * 100003 + n) ^ static_cast<unsigned>(original.size()));
    const std::size_t pages = original.size() / source.pageSize;
    // Swaps and zero-fills spare page 0: a damaged header only ever ends in the plainest outcome, which cut copies
    // and changed bytes reach often enough.
    const auto page = [&] { return 1 + random() % (pages - 1); };
    std::string bytes = original;
    std::ostringstream name;
    name << source.file << ", ";
    switch (kind) {
        case 0: {
            const std::size_t size = random() % original.size();
            bytes.resize(size);
            name << "cut to " << size << " bytes";
            break;
        }
        case 1: {
            name << "bytes changed at";
            for (int count = 1 + static_cast<int>(random() % 16); count > 0; --count) {
                const std::size_t at = random() % bytes.size();
                bytes[at] = static_cast<char>(bytes[at] ^ static_cast<char>(1 + random() % 255));
                name << ' ' << at << "=0x" << std::hex << (bytes[at] & 0xFF) << std::dec;
            }
            break;
        }
        case 2: {
            const std::size_t a = page();
            std::size_t b = page();
            if (b == a) b = a % (pages - 1) + 1;
            std::swap_ranges(bytes.begin() + static_cast<std::ptrdiff_t>(a * source.pageSize),
                             bytes.begin() + static_cast<std::ptrdiff_t>((a + 1) * source.pageSize),
                             bytes.begin() + static_cast<std::ptrdiff_t>(b * source.pageSize));
            name << "pages " << a << " and " << b << " swapped";
            break;
        }
        default: {
            const std::size_t p = page();
            std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(p * source.pageSize), source.pageSize, '\0');
            name << "page " << p << " zero-filled";
            break;
        }
    }
    return {name.str(), std::move(bytes)};
}

std::vector<fs::path> regressionInputs() {
    std::vector<fs::path> inputs;
    const fs::path folder = testData("regressions");
    if (!fs::is_directory(folder)) return inputs;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().extension() == ".mdb") inputs.push_back(entry.path());
    std::sort(inputs.begin(), inputs.end());
    return inputs;
}

// Writes the copy as the program's database in a folder of its own, runs start-up and the export, and checks
// what is left on disk.
std::string runCopy(const fs::path& folder, const DamagedCopy& copy) {
    fs::remove_all(folder);
    fs::create_directory(folder);
    writeBytes(folder / "Impuest.mdb", copy.bytes);
    std::string outcome = startAndExport(folder);
    if (readBytes(folder / "Impuest.mdb") != copy.bytes) outcome += " !the database file changed";
    for (const std::string& name : namesIn(folder / "RET-PERC"))
        if (name.find(".tmp-") != std::string::npos) outcome += " !left " + name;
    return outcome;
}

TEST(DamagedDatabases, EndInTheProgramsOwnMessages) {
    struct Planned {
        const Source* source;
        int kind;
        int n;
    };
    std::vector<Planned> planned;
    std::map<const Source*, std::string> originals;
    for (const Source& source : kSources) {
        originals[&source] = readBytes(shared(source.file));
        for (int kind = 0; kind < 4; ++kind)
            for (int n = 0; n < source.copiesPerDamage; ++n) planned.push_back({&source, kind, n});
    }
    const std::vector<fs::path> regressions = regressionInputs();
    const auto copy = [&](std::size_t i) {
        if (i < planned.size())
            return damage(*planned[i].source, originals[planned[i].source], planned[i].kind, planned[i].n);
        const fs::path& file = regressions[i - planned.size()];
        return DamagedCopy{"regressions/" + file.filename().string(), readBytes(file)};
    };

    TempDir dir;
    const auto start = std::chrono::steady_clock::now();
    const std::size_t count = planned.size() + regressions.size();
    const std::vector<ChildOutcome> outcomes = runEachInChild(
        count, [&](std::size_t i) { return runCopy(dir.path() / "case", copy(i)); }, kCaseSeconds);
    EXPECT_GE(count, 1000u);
    std::map<std::string, int> tally;
    for (std::size_t i = 0; i < count; ++i) {
        const ChildOutcome& outcome = outcomes[i];
        if (outcome.failure.empty() && outcome.output.find('!') == std::string::npos) {
            ++tally[outcome.output];
            continue;
        }
        const std::size_t shown = std::min<std::size_t>(outcome.errors.size(), 3000);
        ADD_FAILURE() << copy(i).name << ": " << (outcome.failure.empty() ? outcome.output : outcome.failure) << "\n"
                      << outcome.errors.substr(outcome.errors.size() - shown);
    }
    // What the copies came to, for the record: the share of each outcome shows whether the damage reached the
    // reading code at all.
    std::printf("%zu copies in %.1f s\n", count,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    for (const auto& [outcome, n] : tally) std::printf("%6d  %s\n", n, outcome.c_str());
}

// Start-up and exports of every kind leave the database file as it was, bytes and modification time, and put
// nothing beside it.
TEST(DatabaseFile, ExportsNeverChangeIt) {
    TempDir dir;
    const fs::path database = dir.path() / "Impuest.mdb";
    fs::copy_file(shared("fixtures/impuest-cases.mdb"), database);
    // A time no reading could leave behind.
    const auto stamp = fs::last_write_time(database) - std::chrono::hours(24 * 400);
    fs::last_write_time(database, stamp);

    PlainControls controls;
    ScriptedMessageBoxes boxes;
    Form1 form(controls, boxes, dir.str());
    Form_Load(form);
    for (void (*command)(Form1&) : {btn_gen_txt_orv_Click, btn_gen_csv_Click, BTN_XLS_Click}) {
        for (const char* taxpayer : {"20-12345678-3", "30-71234567-1", "27-44444444-5"}) {
            controls.combo = taxpayer;
            controls.desde = "200001";
            controls.hasta = "222201";
            command(form);
        }
    }
    Command3_Click(form);
    // Nine completions; the overwrite question is never asked, every range being exported once.
    ASSERT_EQ(boxes.shown().size(), 9u) << describe(boxes.shown());
    for (const ShownBox& box : boxes.shown()) EXPECT_EQ(box.icon, MsgIcon::Information) << box.text;
    EXPECT_EQ(readBytes(database), readBytes(shared("fixtures/impuest-cases.mdb")));
    EXPECT_EQ(fs::last_write_time(database), stamp);
    EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"Impuest.mdb", "RET-PERC"}));
    EXPECT_EQ(namesIn(dir.path() / "RET-PERC").size(), 9u);
}

}  // namespace
