// Output faults met by the real export commands: a full disk, a folder that cannot be written, names taken by
// folders, a spreadsheet stand-in that fails, and a database page that turns unreadable between start-up and the
// export. Each must end in the command's message, with no partial file and an existing file left as it was.
#include "export/ExportCommands.h"
#include "export/Form1.h"
#include "export/StartUp.h"
#include "extraction/MovementExtraction.h"
#include "runtime/RuntimeError.h"
#include "source/Database.h"
#include "source/Recordset.h"
#include "support/ChildProcess.h"
#include "support/ScriptedMessageBoxes.h"
#include "support/TestFiles.h"
#include "workbook/XlsSheet.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>

namespace fs = std::filesystem;

namespace {

const std::string kTxtError =
    "Error al crear el archivo!!, si lo tiene abierto en otro programa \rciérrelo y vuelva a intentarlo.\r\rMotivo: ";
const std::string kCsvError =
    "Error al crear el archivo!!, si lo tiene abierto en MS Excel\ru otro programa, "
    "ciérrelo y vuelva a intentarlo.\r\rMotivo: ";
const char* kXlsRetry =
    "Se detectó un error, cierre MS Excel si lo tiene abierto, e intente generar la planilla nuevamente.";
const std::string kKept = "kept\r\n";

struct Command {
    const char* name;
    void (*click)(Form1&);
    const char* extension;
};
const Command kTxt{"TXT", btn_gen_txt_orv_Click, ".txt"};
const Command kCsv{"CSV", btn_gen_csv_Click, ".csv"};
const Command kXls{"XLS", BTN_XLS_Click, ".XLS"};
const Command kCommands[] = {kTxt, kCsv, kXls};

bool isXls(const Command& c) { return c.click == BTN_XLS_Click; }

// What a command shows when its export fails with `reason`: the TXT and CSV commands first ask about an existing
// file; the XLS driver shows the reason alone, then offers the retry.
std::vector<ShownBox> failureBoxes(const Command& c, const std::string& reason, bool targetExists) {
    if (isXls(c))
        return {{reason, MsgIcon::None, MsgButtons::OK, {}}, {kXlsRetry, MsgIcon::Information, MsgButtons::OK, {}}};
    const bool txt = c.click == btn_gen_txt_orv_Click;
    std::vector<ShownBox> boxes;
    if (targetExists)
        boxes.push_back({std::string(txt ? "  El archivo ya existe! ... " : "El archivo ya existe! ... ") +
                             "\n\n Desea sobreescribir el archivo?? ",
                         MsgIcon::Question,
                         MsgButtons::YesNo,
                         {}});
    boxes.push_back({(txt ? kTxtError : kCsvError) + reason, MsgIcon::Critical, MsgButtons::OK, "** ERROR **"});
    return boxes;
}

using Files = std::map<std::string, std::string>;

// The boxes shown and the files left, one line each with line breaks escaped: what the tests compare.
std::vector<std::string> describe(const std::vector<ShownBox>& boxes, const Files& files) {
    std::vector<std::string> lines;
    for (const ShownBox& box : boxes) {
        std::ostringstream out;
        PrintTo(box, &out);
        lines.push_back(out.str());
    }
    for (const auto& [name, content] : files) lines.push_back(name + " = \"" + content + "\"");
    for (std::string& line : lines) {
        for (std::size_t at = 0; (at = line.find_first_of("\r\n", at)) != std::string::npos; at += 2)
            line.replace(at, 1, line[at] == '\r' ? "\\r" : "\\n");
    }
    return lines;
}

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

std::vector<std::string> split(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The description of `error` as std::strerror words it.
std::string words(int error) { return std::strerror(error); }

// What a command reports when no file can be made beside `path`.
std::string cannotCreate(const Command& c, const std::string& path, int error) {
    return isXls(c) ? "cannot save workbook " + path + ": cannot create a temporary file beside it: " + words(error)
                    : "cannot open output file " + path + ": " + words(error);
}

// A worksheet whose save fails, as a device that went away would make it.
class SheetThatCannotSave : public ExcelSheet {
public:
    ExcelApplication& Application() override { return m_sheet.Application(); }
    void SaveAs(const std::string& path) override {
        throw RuntimeError(RuntimeError::FileError, "cannot save workbook " + path + ": the device is not ready");
    }

private:
    XlsSheet m_sheet;
};

// A folder turned into a small file system of its own (tmpfs), where the system lets the tests mount one: a
// real full disk and a real read-only folder, also for root. Unmounted at the end.
class SmallFileSystem {
public:
    explicit SmallFileSystem(fs::path folder) : m_folder(std::move(folder)) {
        fs::create_directories(m_folder);
        m_mounted = ::mount("tmpfs", m_folder.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=64k") == 0;
    }
    ~SmallFileSystem() {
        if (m_mounted) ::umount2(m_folder.c_str(), MNT_DETACH);
    }
    SmallFileSystem(const SmallFileSystem&) = delete;
    SmallFileSystem& operator=(const SmallFileSystem&) = delete;

    bool mounted() const { return m_mounted; }
    fs::path filler() const { return m_folder / "filler"; }
    // Takes up every free byte.
    void fill() const {
        std::ofstream out(filler(), std::ios::binary | std::ios::app);
        const std::string block(512, 'x');
        while (out.write(block.data(), static_cast<std::streamsize>(block.size())) && out.flush()) {}
    }
    bool makeReadOnly() const {
        return m_mounted && ::mount(nullptr, m_folder.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, "size=64k") == 0;
    }

private:
    fs::path m_folder;
    bool m_mounted = false;
};

// The data pages (type 1) of the tables whose definition (type 2) names `column`, in a Jet 4 file.
std::vector<std::size_t> dataPagesOf(const std::string& file, const std::string& column) {
    constexpr std::size_t kPage = 4096;
    std::string marker;  // Jet 4 keeps column names in UTF-16LE
    for (char c : column) marker += {c, '\0'};
    const auto u32 = [&](std::size_t at) {
        std::uint32_t v = 0;
        for (std::size_t i = 4; i-- > 0;) v = v << 8 | static_cast<unsigned char>(file[at + i]);
        return v;
    };
    std::vector<std::size_t> definitions;
    std::vector<std::size_t> pages;
    for (std::size_t p = 0; p < file.size() / kPage; ++p)
        if (file[p * kPage] == 2 && file.substr(p * kPage, kPage).find(marker) != std::string::npos)
            definitions.push_back(p);
    for (std::size_t p = 0; p < file.size() / kPage; ++p)
        if (file[p * kPage] == 1 && std::count(definitions.begin(), definitions.end(), u32(p * kPage + 4)))
            pages.push_back(p);
    return pages;
}

class OutputFaults : public ::testing::Test {
protected:
    void SetUp() override {
        fs::copy_file(shared("fixtures/impuest-cases.mdb"), database());
        // The shared copy is read-only; the tests damage theirs.
        fs::permissions(database(), fs::perms::owner_write, fs::perm_options::add);
    }

    fs::path database() const { return m_dir.path() / "Impuest.mdb"; }
    fs::path folder() const { return m_dir.path() / "RET-PERC"; }
    std::string target(const Command& c) const {
        return (folder() / (std::string("RET-PERC-IB-20123456783-200001-222201") + c.extension)).string();
    }

    void start() {
        Form_Load(m_form);
        ASSERT_EQ(m_boxes.shown(), std::vector<ShownBox>{});
        m_controls.combo = "20-12345678-3";
        m_controls.desde = "200001";
        m_controls.hasta = "222201";
    }

    // An earlier export's file in place of the target.
    Files keep(const Command& c) const {
        writeBytes(target(c), kKept);
        return {{fs::path(target(c)).filename().string(), kKept}};
    }

    // Runs the command; returns the boxes it showed and what the output folder then holds (a filler file aside).
    std::vector<std::string> run(const Command& c) {
        m_boxes.clear();
        c.click(m_form);
        Files files;
        std::error_code ignored;
        for (const auto& entry : fs::directory_iterator(folder(), ignored))
            if (entry.path().filename() != "filler")
                files[entry.path().filename().string()] = entry.is_directory() ? "(folder)" : readBytes(entry.path());
        return describe(m_boxes.shown(), files);
    }

    TempDir m_dir;
    PlainControls m_controls;
    ScriptedMessageBoxes m_boxes;
    Form1 m_form{m_controls, m_boxes, m_dir.str()};
};

TEST_F(OutputFaults, AFullDiskLeavesNoPartialFile) {
    SmallFileSystem disk(folder());
    start();
    // Without a file system of its own, a file size limit makes the writes fail at the same point.
    const int error = disk.mounted() ? ENOSPC : EFBIG;
    for (const Command& c : kCommands) {
        for (bool existing : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (existing ? ", file exists" : ", new file"));
            const Files files = existing ? keep(c) : Files{};
            std::vector<std::string> shown;
            if (disk.mounted()) {
                disk.fill();
                shown = run(c);
                fs::remove(disk.filler());
            } else {
                const ChildOutcome outcome = runInChild(
                    [&] {
                        std::signal(SIGXFSZ, SIG_IGN);
                        const rlimit limit{1000, 1000};
                        ::setrlimit(RLIMIT_FSIZE, &limit);
                        return joined(run(c));
                    },
                    60);
                ASSERT_EQ(outcome.failure, "") << outcome.errors;
                shown = split(outcome.output);
            }
            const std::string reason = (isXls(c) ? "cannot save workbook " + target(c) + ": cannot write the file: "
                                                 : "cannot write output file " + target(c) + ": ") +
                                       words(error);
            EXPECT_EQ(shown, describe(failureBoxes(c, reason, existing), files));
            fs::remove(target(c));
        }
    }
}

TEST_F(OutputFaults, AReadOnlyFolderKeepsTheOldFile) {
    // Root writes through a folder's permissions; a file system mounted read-only stops it too.
    fs::create_directory(folder());
    fs::permissions(folder(), fs::perms::owner_read | fs::perms::owner_exec);
    const bool permissionsHold = ::access(folder().c_str(), W_OK) != 0;
    fs::permissions(folder(), fs::perms::owner_all);
    std::optional<SmallFileSystem> disk;
    if (!permissionsHold) disk.emplace(folder());
    if (disk && !disk->mounted())
        GTEST_SKIP() << "permissions do not stop this user's writes, and no file system can be mounted here";
    start();
    Files files;
    for (const Command& c : kCommands) files.merge(keep(c));
    if (disk)
        ASSERT_TRUE(disk->makeReadOnly());
    else
        fs::permissions(folder(), fs::perms::owner_read | fs::perms::owner_exec);
    const int error = disk ? EROFS : EACCES;
    for (const Command& c : kCommands) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(run(c), describe(failureBoxes(c, cannotCreate(c, target(c), error), true), files));
    }
    if (!disk) fs::permissions(folder(), fs::perms::owner_all);
}

// A file named RET-PERC: start-up takes it for the folder, so every export meets a path that cannot be used. The
// path names nothing (a file stands where a folder should): no overwrite question, only the command's error.
TEST_F(OutputFaults, AFileWhereTheFolderShouldBe) {
    writeBytes(folder(), "not a folder");
    start();
    for (const Command& c : kCommands) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(run(c), describe(failureBoxes(c, cannotCreate(c, target(c), ENOTDIR), false), {}));
        EXPECT_EQ(readBytes(folder()), "not a folder");
    }
}

TEST_F(OutputFaults, TheSpreadsheetStandInFails) {
    struct Case {
        const char* name;
        ObjectFactory factory;
        std::vector<ShownBox> boxes;
    };
    const Case cases[] = {
        {"the save fails", [](const std::string&) { return std::make_unique<SheetThatCannotSave>(); },
         failureBoxes(kXls, "cannot save workbook " + target(kXls) + ": the device is not ready", true)},
        // Nothing was created, so there is nothing to show or release: one box only.
        {"it does not start",
         [](const std::string&) -> std::unique_ptr<ExcelSheet> {
             throw RuntimeError(RuntimeError::SpreadsheetError, "cannot create object Excel.Sheet: not installed");
         },
         {{"cannot create object Excel.Sheet: not installed", MsgIcon::None, MsgButtons::OK, {}}}},
    };
    start();
    for (const Case& c : cases) {
        for (bool existing : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (existing ? ", file exists" : ", new file"));
            const Files files = existing ? keep(kXls) : Files{};
            m_form.createObject = c.factory;
            EXPECT_EQ(run(kXls), describe(c.boxes, files));
            EXPECT_EQ(m_form.vExcelSheet, nullptr);
            fs::remove(target(kXls));
        }
    }
}

// The database layer reads the file again when it changed since start-up, so damage done now is met in the
// middle of the export, after the output was opened. The command must show the layer's own error.
TEST_F(OutputFaults, ADatabasePageThatCannotBeRead) {
    using Pages = std::vector<std::size_t>;
    const std::string original = readBytes(database());
    // Every movement table in this file has one data page; the taxpayer table too.
    const Pages pages = dataPagesOf(original, "Per_Monto1");
    const Pages taxpayers = dataPagesOf(original, "CMD_Contribuyente");
    ASSERT_EQ(pages.size(), 2u);
    ASSERT_EQ(taxpayers.size(), 1u);
    struct Case {
        const char* name;
        std::function<void(std::string&)> damage;
    };
    const Case cases[] = {
        {"row count out of range",
         [&](std::string& bytes) {
             for (std::size_t p : pages) bytes[p * 4096 + 12] = bytes[p * 4096 + 13] = '\xFF';
         }},
        {"pages zero-filled",
         [&](std::string& bytes) {
             for (std::size_t p : pages) std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(p * 4096), 4096, '\0');
         }},
        // Where the usage map points is a page of the taxpayer table: the rows it holds are not movements.
        {"another table's page in their place",
         [&](std::string& bytes) {
             for (std::size_t p : pages)
                 std::copy_n(original.begin() + static_cast<std::ptrdiff_t>(taxpayers.front() * 4096), 4096,
                             bytes.begin() + static_cast<std::ptrdiff_t>(p * 4096));
         }},
    };
    start();
    for (const Case& c : cases) {
        std::string damaged = original;
        c.damage(damaged);
        writeBytes(database(), damaged);
        // What the layer itself says of the damaged file, opened afresh.
        std::string reason;
        try {
            auto db = Workspaces0()->OpenDatabase(database().string(), false, false, ";pwd=Kb7731R28");
            db->OpenRecordset(retenciones_sql(1, 100));
            db->OpenRecordset(percepciones_sql(1, 100));
        } catch (const RuntimeError& e) {
            reason = e.Description();
        }
        EXPECT_NE(reason, "") << c.name << ": the movements are lost without an error";
        for (const Command& command : kCommands) {
            SCOPED_TRACE(std::string(c.name) + ", " + command.name);
            const Files files = keep(command);
            // Written again before each command, so that each meets the damage as a change since its last query.
            writeBytes(database(), damaged);
            EXPECT_EQ(run(command), describe(failureBoxes(command, reason, true), files));
            fs::remove(target(command));
        }
        writeBytes(database(), original);
    }
}

}  // namespace
