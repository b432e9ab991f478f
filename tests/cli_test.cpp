// velmora-export end to end: the executable run on the shared fixtures, its files compared with those the window's
// commands write for the same taxpayer, range and options.
#include "export/ExportCommands.h"
#include "export/Form1.h"
#include "export/OutputFolder.h"
#include "export/StartUp.h"
#include "selection/CuitCheck.h"
#include "selection/TaxpayerList.h"
#include "support/OldEnglish.h"
#include "support/RunProgram.h"
#include "support/ScriptedMessageBoxes.h"
#include "support/TestFiles.h"
#include "support/WorkbookReader.h"
#include "workbook/XlsxWorkbook.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <optional>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace {

// The separator the program joins a folder and a file's name with.
const std::string kSeparator = kOnWindows ? "\\" : "/";

using Command = ExportCommand;

using Outcome = ProgramRun;

// A text's lines as Linux ends them: on Windows every line ends in CR LF, as Windows programs write them, and a line
// feed without its CR fails the test.
std::string linuxLines(const std::string& text) {
    if (!kOnWindows) return text;
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
            ADD_FAILURE() << "a line feed without its CR at byte " << i << " of: " << text;
        out += text[i];
    }
    return out;
}

// Runs the executable; its standard output and error are kept in `dir`, their lines ended as on Linux. What it says
// to its user, on standard error and after "error: ", is in Spanish (the result words stay for scripts).
Outcome velmoraExport(const TempDir& dir, const std::vector<std::string>& args) {
    Outcome run = runProgram(VELMORA_EXPORT, args, dir.path());
    run.out = linuxLines(run.out);
    run.err = linuxLines(run.err);
    std::string said = run.err;
    for (std::size_t at = run.out.find("\terror: "); at != std::string::npos; at = run.out.find("\terror: ", at + 1))
        said += run.out.substr(at + 8, run.out.find('\n', at) - at - 8) + "\n";
    if (const std::string english = oldEnglishIn(said); !english.empty())
        ADD_FAILURE() << "English (\"" << english << "\") in what velmora-export said: " << said;
    return run;
}

// The lines of a text, or the fields of a line.
std::vector<std::string> split(const std::string& text, char separator = '\n') {
    std::vector<std::string> parts;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, separator);) parts.push_back(part);
    return parts;
}

// The window on a database, writing into RET-PERC in a folder of its own.
struct Window {
    TempDir dir;
    PlainControls controls;
    ScriptedMessageBoxes boxes;
    Form1 form{controls, boxes, dir.str()};

    explicit Window(const std::string& database) {
        Crear_Carpeta(form);
        EXPECT_TRUE(Conectar_Base(form, database));
        Cargar_Contribuyentes(*form.Conn, controls);
    }

    // How `command` ends for 200001 to 222201 with `entry` typed into the box.
    ExportOutcome exportFile(Command command, const std::string& entry, int dialect = 2) {
        controls.combo = entry;
        controls.desde = "200001";
        controls.hasta = "222201";
        controls.separador = dialect;
        return command(form);
    }
};

}  // namespace

TEST(CuitCheck, FormAndCheckDigit) {
    const struct {
        const char* name;
        const char* cuit;
        CuitProblem problem;
    } cases[] = {
        {"valid", "20-12345678-6", CuitProblem::None},
        {"wrong check digit", "20-12345678-3", CuitProblem::CheckDigit},
        {"remainder 0 gives check digit 0", "30-50000007-0", CuitProblem::None},
        {"remainder 1 fits no digit", "30-50000002-0", CuitProblem::CheckDigit},
        {"12 characters", "20-1234567-8", CuitProblem::Form},
        {"dash out of place", "201-2345678-6", CuitProblem::Form},
        {"letter among the digits", "2O-12345678-6", CuitProblem::Form},
        {"trailing blank", "20-12345678-6 ", CuitProblem::Form},
        {"empty", "", CuitProblem::Form},
    };
    for (const auto& c : cases) EXPECT_EQ(cuitProblem(c.cuit), c.problem) << c.name;
}

// Every format and dialect, for a taxpayer with every kind of field and one with characters beyond Latin-1.
TEST(CommandLine, WritesTheFilesTheWindowWrites) {
    const std::string taxpayers[] = {"20-12345678-3", "27-23456789-4"};
    const struct {
        const char* format;
        int dialect;
        Command command;
    } cases[] = {{"txt", 2, btn_gen_txt_orv_Click}, {"csv", 0, btn_gen_csv_Click}, {"csv", 1, btn_gen_csv_Click},
                 {"csv", 2, btn_gen_csv_Click},     {"xls", 2, BTN_XLS_Click},     {"xlsx", 2, BTN_XLS_Click}};
    const std::string database = testData("data/impuest-cases.mdb");
    for (const auto& c : cases) {
        if (c.format == std::string("xlsx") && !formatOffered(ExportFormat::Xlsx)) continue;
        SCOPED_TRACE(std::string(c.format) + " dialect " + std::to_string(c.dialect));
        Window window(database);
        TempDir out;
        const Outcome run = velmoraExport(
            out, {"--db", database, "--out", out.str(), "--from", "200001", "--to", "222201", "--format", c.format,
                  "--dialect", std::to_string(c.dialect), "--taxpayer", taxpayers[0], "--taxpayer", taxpayers[1]});
        EXPECT_EQ(run.status, 0) << run.err;
        const std::vector<std::string> lines = split(run.out);
        ASSERT_EQ(lines.size(), 2u) << run.out;
        for (std::size_t i = 0; i < 2; ++i) {
            const ExportOutcome done = window.exportFile(c.command, taxpayers[i], c.dialect);
            ASSERT_EQ(done.kind, ExportOutcome::Kind::Written);
            const fs::path expected = done.path;
            fs::path written = out.path() / expected.filename();
            if (c.format == std::string("xlsx")) written.replace_extension(".xlsx");
            const std::vector<std::string> result = split(lines[i], '\t');
            EXPECT_EQ(result.front(), taxpayers[i]);
            EXPECT_EQ(result.back(), "written " + utf8Path(written));
            if (c.format == std::string("xlsx"))
                EXPECT_EQ(readXlsx(written).cells, readBook(expected).cells);
            else if (c.format == std::string("xls"))
                EXPECT_EQ(readBook(written).cells, readBook(expected).cells);
            else
                EXPECT_EQ(readBytes(written), readBytes(expected));
        }
    }
}

// Every distinct reference of the list, in its order, as the window exports it when the reference is typed into
// its box (one of 12 characters is found, one of 14 is not); a count of the same gives the lines the files hold,
// and writes nothing.
TEST(CommandLine, ExportsAndCountsEveryTaxpayerOfTheList) {
    for (const char* fixture : {"data/impuest-cases.mdb", "../demo/Impuest.mdb"}) {
        SCOPED_TRACE(fixture);
        const std::string database = testData(fixture);
        Window window(database);
        TempDir out;
        const std::vector<std::string> range = {"--db", database, "--all", "--from", "200001", "--to", "222201"};
        std::vector<std::string> args = range;
        args.insert(args.end(), {"--out", out.str()});
        const Outcome run = velmoraExport(out, args);
        args = range;
        args.insert(args.end(), {"--out", out.str() + "/never", "--count"});
        const Outcome count = velmoraExport(out, args);
        EXPECT_FALSE(fs::exists(out.path() / "never"));

        // The window's outcome for each distinct reference, in the list's order, as the two runs print it: the
        // movements of an export that failed are whatever the run says, the window showing none.
        std::string written, counted;
        std::vector<std::string> files;
        std::set<std::string> seen;
        const auto field = [](const std::string& text, std::size_t line, std::size_t n) {
            const std::vector<std::string> lines = split(text);
            return line < lines.size() ? split(lines[line], '\t').at(n) : std::string();
        };
        for (const std::string& entry : window.controls.list) {
            const std::string reference = entry.substr(0, entry.find("- "));
            if (!seen.insert(reference).second) continue;
            const ExportOutcome done = window.exportFile(btn_gen_txt_orv_Click, reference);
            if (done.kind != ExportOutcome::Kind::Written) {
                const std::string reason =
                    done.kind == ExportOutcome::Kind::NotFound ? "not found" : "error: " + done.description;
                written += reference + "\t" + field(run.out, seen.size() - 1, 1) + "\t" + reason + "\n";
                counted += reference + "\t" + field(count.out, seen.size() - 1, 1) + "\t" + reason + "\n";
                continue;
            }
            const fs::path file = done.path;
            const std::string lines = std::to_string(split(readBytes(file)).size()) + "\t";
            EXPECT_EQ(lines, std::to_string(done.movements) + "\t");
            counted += reference + "\t" + lines + "counted\n";
            if (lines == "0\t") {
                written += reference + "\t0\tnone\n";
                continue;
            }
            written += reference + "\t" + lines + "written " + utf8Path(out.path() / file.filename()) + "\n";
            files.push_back(utf8Path(file.filename()));
            EXPECT_EQ(readBytes(out.path() / file.filename()), readBytes(file)) << reference;
        }
        EXPECT_EQ(run.out, written);
        EXPECT_EQ(count.out, counted);
        if (fixture == std::string("data/impuest-cases.mdb")) {
            EXPECT_NE(run.out.find("\n20-1234567-8\t1\twritten "), std::string::npos);
            EXPECT_NE(run.out.find("\n20-123456789-1\t0\tnot found\n"), std::string::npos);
        }
        EXPECT_EQ(
            run.status,
            written.find("\terror: ") != std::string::npos || written.find("\tnot found") != std::string::npos ? 1 : 0)
            << run.err;
        std::vector<std::string> left;
        for (const auto& entry : fs::directory_iterator(out.path()))
            if (entry.path().extension() == ".txt") left.push_back(utf8Path(entry.path().filename()));
        std::sort(left.begin(), left.end());
        std::sort(files.begin(), files.end());
        EXPECT_EQ(left, files);
    }
}

TEST(CommandLine, ExitStatuses) {
    const std::string cases = testData("data/impuest-cases.mdb");
    TempDir dir;
    writeBytes(dir.path() / "garbage.mdb", std::string(4096, 'x'));
    const std::string connection = "No se ha podido realizar la conexión al servidor\n";
    const struct {
        const char* name;
        std::vector<std::string> args;
        int status;
        std::string out;  // exact, when not empty
        std::string err;  // exact, when not empty
    } rows[] = {
        // clang-format off
        {"every CUIT valid", {"--db", cases, "--taxpayer", "30-71234567-1", "--from", "200710", "--to", "200710",
         "--count", "--check"}, 0, "30-71234567-1\t1\tcounted\n", ""},
        {"a taxpayer not found", {"--db", cases, "--taxpayer", "99-99999999-9", "--count"}, 1,
         "99-99999999-9\t0\tnot found\n", ""},
        {"CUIT problems and nothing else", {"--db", cases, "--taxpayer", "20-1234567-8", "--count", "--check"}, 4,
         "20-1234567-8\t1\tcounted\ncheck\t20-1234567-8\tCUIT\t20-1234567-8\t1\tform\n"
         "check\t20-1234567-8\tAG_CUIT\t30-67676767-6\t1\tcheck digit\n", ""},
        {"CUIT problems and a taxpayer not found: the failure outranks them", {"--db", cases, "--taxpayer",
         "20-1234567-8", "--taxpayer", "99-99999999-9", "--count", "--check"}, 1, "", ""},
        {"a month the window refuses", {"--db", cases, "--all", "--from", "200013", "--to", "222201"}, 2, "",
         "El MES del anticipo DESDE debe estar entre 01 y 12 !! \n"},
        {"no taxpayer", {"--db", cases}, 2, "", "Seleccione un contribuyente de la lista!\n"},
        {"references the box cannot take", {"--db", testData("data/blank-references.mdb"), "--all", "--count"}, 1,
         "   \t0\tnot found\n20-12345678-6\t1\tcounted\n\t0\tnot found\n", ""},
        {"an unknown format", {"--db", cases, "--all", "--format", "pdf"}, 2, "", ""},
        {"another password", {"--db", testData("data/impuest-wrongpass.mdb"), "--all"}, 3, "", connection},
        {"not a database", {"--db", dir.str() + "/garbage.mdb", "--all"}, 3, "", connection},
        {"no file", {"--db", dir.str() + "/missing.mdb", "--all"}, 3, "", connection},
        // clang-format on
    };
    for (const auto& row : rows) {
        std::vector<std::string> args = {"--out", dir.str() + "/out"};
        args.insert(args.end(), row.args.begin(), row.args.end());
        if (std::find(args.begin(), args.end(), "--from") == args.end())
            args.insert(args.end(), {"--from", "200001", "--to", "222201"});
        const Outcome run = velmoraExport(dir, args);
        EXPECT_EQ(run.status, row.status) << row.name << "\n" << run.err;
        EXPECT_EQ(row.out.empty() ? row.out : run.out, row.out) << row.name;
        EXPECT_EQ(row.err.empty() ? row.err : run.err, row.err) << row.name;
    }
    EXPECT_FALSE(fs::exists(dir.path() / "out"));  // nothing refused or counted creates the folder
}

// An output folder that cannot be made stops the run before its first taxpayer, with the window's message, as a
// database that cannot be opened does; a reference two taxpayers share is named on standard error, its output line
// unchanged.
TEST(CommandLine, AnUnusableOutputFolderAndASharedReference) {
    TempDir dir;
    writeBytes(dir.path() / "file", "");
    const std::string folder = dir.str() + "/file/out";
    Outcome run = velmoraExport(dir, {"--db", testData("data/impuest-cases.mdb"), "--all", "--from", "200001", "--to",
                                      "222201", "--out", folder});
    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.rfind("Error : " + folder + "-", 0), 0u) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_FALSE(fs::exists(dir.path() / "fileRET-PERC-IB-20111111112-200001-222201.txt"));

    run = velmoraExport(dir, {"--db", testData("data/edited-twins.mdb"), "--all", "--from", "200001", "--to", "222201",
                              "--count", "--quiet"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("Aviso: la referencia 20-00000001-1 es de 2 contribuyentes ("), std::string::npos)
        << run.err;
    EXPECT_NE(run.out.find("20-00000001-1\t"), std::string::npos);
}

// What the command line says when something stops it, each message once: what happened, where, and what to do.
TEST(CommandLine, MessagesSayWhatHappenedAndWhatToDo) {
    TempDir dir;
    std::string damaged = readBytes(testData("data/impuest-cases.mdb"));
    for (const std::size_t page : dataPagesOf(damaged, "CMD_Contribuyente"))
        damaged[page * 4096 + 12] = damaged[page * 4096 + 13] = '\xFF';
    const std::string damagedPath = dir.str() + "/damaged.mdb";
    writeBytes(damagedPath, damaged);
    writeBytes(dir.path() / "file", "");
    const std::string cases = testData("data/impuest-cases.mdb");
    const struct {
        const char* name;
        std::vector<std::string> args;
        int status;
        std::string err;
    } rows[] = {
        {"a damaged database",
         {"--db", damagedPath, "--count"},
         1,
         "velmora-export: La base de datos " + damagedPath +
             " está dañada (tabla CMD: una página dice tener más "
             "filas de las que caben). El programa de la agencia puede repararla o reemplazarla por una copia sana.\n"},
        {"an output folder in a folder that is missing",
         {"--db", cases, "--out", dir.str() + kSeparator + "missing" + kSeparator + "x"},
         3,
         "Error : " + dir.str() + kSeparator + "missing" + kSeparator + "x-No se puede crear la carpeta " + dir.str() +
             kSeparator + "missing" + kSeparator + "x: no existe la carpeta " + dir.str() + kSeparator +
             "missing, que la contiene\n"},
        {"an output folder that is a file",
         {"--db", cases, "--out", dir.str() + "/file"},
         3,
         "La carpeta de salida " + dir.str() + "/file no es una carpeta: es un archivo. Indique otra carpeta.\n"},
        {"an option the program does not have",
         {"--db", cases, "--bogus"},
         2,
         "velmora-export: no se esperaba: --bogus\nUse --help para ver las opciones.\n"},
    };
    for (const auto& row : rows) {
        std::vector<std::string> args = {"--all", "--from", "200001", "--to", "222201"};
        args.insert(args.end(), row.args.begin(), row.args.end());
        const Outcome run = velmoraExport(dir, args);
        EXPECT_EQ(run.status, row.status) << row.name;
        EXPECT_EQ(run.err, row.err) << row.name;
    }
}

// A file already there is kept without --replace and replaced with it (the workbook command asks nothing: the
// command line keeps the file itself); a folder that refuses new files stops the run before it begins.
TEST(CommandLine, ExistingFilesAndAFolderThatRefusesFiles) {
    TempDir out, logs;
    const auto args = [&](const std::string& format, bool replace) {
        // clang-format off
        std::vector<std::string> args = {"--db", testData("data/impuest-cases.mdb"), "--out", out.str(), "--from",
                                         "200805", "--to", "200805", "--taxpayer", "20-12345678-3", "--format", format};
        // clang-format on
        if (replace) args.push_back("--replace");
        return args;
    };
    for (const std::string format : {"txt", formatOffered(ExportFormat::Xlsx) ? "xlsx" : "xls"}) {
        const std::string target =
            out.str() + kSeparator + "RET-PERC-IB-20123456783-200805-200805." + (format == "xls" ? "XLS" : format);
        writeBytes(target, "old");
        Outcome run = velmoraExport(logs, args(format, false));
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "20-12345678-3\t0\tkept " + target + "\n");
        EXPECT_EQ(readBytes(target), "old");
        run = velmoraExport(logs, args(format, true));
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, "20-12345678-3\t2\twritten " + target + "\n");
        EXPECT_NE(readBytes(target), "old");
        fs::remove(target);
    }
    // An immutable folder refuses new entries even to root.
    if (kOnWindows)
        GTEST_SKIP() << "Windows has no immutable folder, and under Wine the tests run as the machine's owner, whom a "
                        "read-only folder does not stop";
    if (std::system(("chattr +i '" + out.str() + "' 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "this file system cannot make a folder immutable";
    // The run stops before its first taxpayer, saying why.
    const Outcome run = velmoraExport(logs, args("txt", true));
    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "No se pueden guardar archivos en la carpeta de salida " + out.str() +
                           ": la operación no está permitida. Indique otra carpeta, o pida permiso para escribir en "
                           "ella.\n");
    std::system(("chattr -i '" + out.str() + "'").c_str());
    EXPECT_TRUE(fs::is_empty(out.path()));
}

namespace {

// Names beyond ASCII reach the program whole, from its arguments to its files, and what it prints is UTF-8 (with CR
// LF line ends on Windows, which velmoraExport checks) when it goes to a file, as a script reads it.
TEST(CommandLine, NamesBeyondAsciiFromTheArgumentsToTheFiles) {
    TempDir dir;
    const fs::path folder = dir.path() / u8"Peña Núñez";
    fs::create_directory(folder);
    const std::string database = utf8Path(folder / u8"Impuestos año.mdb");
    fs::copy_file(testData("data/impuest-cases.mdb"), pathOf(database));
    const std::string out = utf8Path(dir.path() / u8"Salida ñandú");
    const Outcome run = velmoraExport(dir, {"--db", database, "--out", out, "--from", "200805", "--to", "200805",
                                            "--taxpayer", "20-12345678-3", "--format", "xls"});
    EXPECT_EQ(run.status, 0) << run.err;
    const std::string file = out + kSeparator + "RET-PERC-IB-20123456783-200805-200805.XLS";
    EXPECT_EQ(run.out, "20-12345678-3\t2\twritten " + file + "\n");
    EXPECT_EQ(readBook(pathOf(file)).at(2, 12), Cell{"FERRETERÍA CENTRO S A "});
    EXPECT_TRUE(run.err.starts_with("Archivos generados: 1 · sin movimientos: 0 · ")) << run.err;
}

// A format this build does not write is refused as a bad command line, saying why and what to choose instead;
// nothing is opened or written.
TEST(CommandLine, AFormatTheBuildDoesNotWrite) {
    if (formatOffered(ExportFormat::Xlsx)) GTEST_SKIP() << "this build writes every format (.xlsx too)";
    TempDir dir;
    const std::string out = dir.str() + kSeparator + "out";
    const Outcome run = velmoraExport(dir, {"--db", testData("data/impuest-cases.mdb"), "--out", out, "--all", "--from",
                                            "200001", "--to", "222201", "--format", "xlsx"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "velmora-export: " + XlsxWorkbook::notOffered() + "\n");
    EXPECT_FALSE(fs::exists(pathOf(out)));
}

}  // namespace
