// The program's start-up and its three export commands on impuest-cases.mdb, run as the window runs them, with the
// message boxes answered by the test: the files the agency receives, compared byte for byte with files written by
// hand (workbooks cell by cell), and every way an export can fail, with what it leaves on disk.
#include "database/JetDatabase.h"
#include "export/BackgroundJob.h"
#include "export/BatchExport.h"
#include "export/BatchReport.h"
#include "export/ExportCommands.h"
#include "export/Form1.h"
#include "export/OutputFolder.h"
#include "export/StartUp.h"
#include "jetfile/PageSource.h"
#include "runtime/RuntimeError.h"
#include "runtime/TextCodecs.h"
#include "support/FakeClock.h"
#include "support/GatedDatabase.h"
#include "support/ScriptedMessageBoxes.h"
#include "support/TestFiles.h"
#include "support/WorkbookReader.h"
#include "workbook/XlsSheet.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/mount.h>
#include <unistd.h>
#endif

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <thread>

namespace fs = std::filesystem;

namespace {

using Command = ExportCommand;
const Command kTxt = btn_gen_txt_orv_Click, kCsv = btn_gen_csv_Click, kXls = BTN_XLS_Click;
using Boxes = std::vector<ShownBox>;

// The separator the program joins its folder and its files' names with.
const std::string kSeparator = kOnWindows ? "\\" : "/";

ShownBox box(const std::string& text, MsgIcon icon, std::optional<std::string> title = std::nullopt) {
    return {text, icon, icon == MsgIcon::Question ? MsgButtons::YesNo : MsgButtons::OK, std::move(title)};
}

// The file as the agency receives it: each line in Windows-1252, ended by CR LF.
std::string lines(std::initializer_list<std::string> utf8Lines) {
    std::string out;
    for (const std::string& line : utf8Lines) out += toWindows1252(line) + "\r\n";
    return out;
}

const std::string kHeader =
    "\"CUIT\";\"IIB\";\"TIPO\";\"DJ_AÑO\";\"DJ_MES\";\"RP_FECHA\";\"FAC_NRO\";\"FAC_MONTO\";"
    "\"RET_PER\";\"AG_CUIT\";\"AG_NRO\";\"AG_RAZON_SOCIAL\"";

const char* extension(Command c) { return c == kTxt ? ".txt" : c == kCsv ? ".csv" : ".XLS"; }

ShownBox question(Command c) {
    return box(std::string(c == kTxt ? "  " : "") + "El archivo ya existe! ... \n\n Desea sobreescribir el archivo?? ",
               MsgIcon::Question);
}

// What a command shows when its export fails for `reason`: the text commands after the overwrite question when the
// file exists, the workbook's driver the reason alone, then the retry.
Boxes failure(Command c, const std::string& reason, bool asked) {
    if (c == kXls)
        return {box(reason, MsgIcon::None), box("Se detectó un error, cierre MS Excel si lo tiene abierto, e intente "
                                                "generar la planilla nuevamente.",
                                                MsgIcon::Information)};
    Boxes boxes;
    if (asked) boxes.push_back(question(c));
    boxes.push_back(box(std::string(c == kTxt ? "Error al crear el archivo!!, si lo tiene abierto en otro programa "
                                                "\rciérrelo y vuelva a intentarlo.\r\rMotivo: "
                                              : "Error al crear el archivo!!, si lo tiene abierto en MS Excel\ru otro "
                                                "programa, ciérrelo y vuelva a intentarlo.\r\rMotivo: ") +
                            reason,
                        MsgIcon::Critical, "** ERROR **"));
    return boxes;
}

// The program in a folder of its own, with a writable copy of a database beside it.
struct Program {
    explicit Program(const char* database = "data/impuest-cases.mdb") {
        if (!database) return;
        fs::copy_file(testData(database), dir.path() / "Impuest.mdb");
        fs::permissions(dir.path() / "Impuest.mdb", fs::perms::owner_write, fs::perm_options::add);
    }
    Boxes load() {
        Form_Load(form);
        return boxes.shown();
    }
    // Types the taxpayer and the range, picks the separator option, runs the command; returns the boxes shown.
    Boxes run(Command command, const std::string& taxpayer, const std::string& desde = "200001",
              const std::string& hasta = "222201", int separador = 2) {
        boxes.clear();
        controls.combo = taxpayer;
        controls.desde = desde;
        controls.hasta = hasta;
        controls.separador = separador;
        command(form);
        return boxes.shown();
    }
    fs::path output(const std::string& name) const { return dir.path() / "RET-PERC" / name; }
    // The file a command names for the taxpayer typed (its first 13 characters, without dashes) and the range.
    fs::path target(Command c, const std::string& taxpayer, const std::string& desde = "200001",
                    const std::string& hasta = "222201") const {
        std::string digits = taxpayer.substr(0, 13);
        digits.erase(std::remove(digits.begin(), digits.end(), '-'), digits.end());
        return output("RET-PERC-IB-" + digits + "-" + desde + "-" + hasta + extension(c));
    }
    // The output folder's entries with their contents ("(folder)" for a folder).
    std::map<std::string, std::string> files() const {
        std::map<std::string, std::string> found;
        std::error_code ignored;
        for (const auto& entry : fs::directory_iterator(dir.path() / "RET-PERC", ignored))
            if (entry.path().filename() != "filler")
                found[entry.path().filename().string()] = entry.is_directory() ? "(folder)" : readBytes(entry.path());
        return found;
    }

    TempDir dir;
    PlainControls controls;
    ScriptedMessageBoxes boxes;
    Form1 form{controls, boxes, dir.str()};
};

TEST(StartUp, FolderConnectionAndListWithTheirMessages) {
    Program p;
    EXPECT_EQ(p.load(), Boxes{});
    EXPECT_EQ(p.form.G_CARPETA_GENERACION, p.dir.str() + kSeparator + "RET-PERC" + kSeparator);
    ASSERT_EQ(p.controls.list.size(), 14u);
    EXPECT_EQ(p.controls.list[0], "20-11111111-2- ");  // a Null name sorts first and adds nothing
    EXPECT_EQ(p.controls.list[1], "30-66666666-7- Cooperativa Agrícola La Unión Ltda.");
    Command3_Click(p.form);
    EXPECT_FALSE(p.form.Conn || p.form.WS);

    Program missing(nullptr);
    EXPECT_EQ(missing.load(),
              Boxes{box("No se ha podido realizar la conexión al servidor", MsgIcon::Information, "Atención")});
    EXPECT_TRUE(missing.controls.list.empty() && fs::is_directory(missing.output("")));
}

TEST(StartUp, AProgramFolderThatRefusesNewFolders) {
    if (kOnWindows)
        GTEST_SKIP() << "Windows has no immutable folder, and under Wine the tests run as the machine's owner, whom a "
                        "read-only folder does not stop";
    // An immutable folder refuses new entries even to root.
    Program stuck;
    if (std::system(("chattr +i '" + stuck.dir.str() + "' 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "this file system cannot make a folder immutable";
    const Boxes shown = stuck.load();
    std::system(("chattr -i '" + stuck.dir.str() + "'").c_str());
    const std::string folder = stuck.dir.str() + "/RET-PERC";
    EXPECT_EQ(shown, Boxes{box("Error : " + folder + "-No se puede crear la carpeta " + folder +
                                   ": la operación no está permitida",
                               MsgIcon::Critical)});
    // With its separator all the same: an export fails in the missing folder rather than write beside it.
    EXPECT_EQ(stuck.form.G_CARPETA_GENERACION, folder + "/");
    EXPECT_EQ(stuck.controls.list.size(), 14u);
}

TEST(StartUp, ExistenceTest) {
    Program p(nullptr);
    writeBytes(p.dir.path() / "file", "x");
    for (const auto& [path, exists] :
         {std::pair{"file", true}, {".", true}, {"nothing", false}, {"file/below", false}, {"nothing/below", false}})
        EXPECT_EQ(EXISTE_ARCHIVO(p.form, p.dir.str() + "/" + path), exists) << path;
    EXPECT_TRUE(p.boxes.shown().empty());
    // A test that cannot be made counts as an existing entry, after its message: on Linux a name too long and a
    // loop of links, on Windows a name it refuses (a pattern; links are not made by everyone there).
    std::vector<std::string> untestable = {p.dir.str() + "/x?y"};
    if (!kOnWindows) {
        fs::create_symlink("loop", p.dir.path() / "loop");
        untestable = {p.dir.str() + "/loop/below", p.dir.str() + "/" + std::string(300, 'x')};
    }
    for (const std::string& path : untestable) {
        p.boxes.clear();
        EXPECT_TRUE(EXISTE_ARCHIVO(p.form, path));
        EXPECT_EQ(p.boxes.shown(), Boxes{box("ERROR : EXISTE_ARCHIVO - " + path, MsgIcon::Critical)});
    }
}

struct ExportCase {
    const char* name;
    Command command;
    const char* taxpayer;
    const char* desde;
    const char* hasta;
    int separador;
    std::string expected;
};

TEST(Export, WritesTheFilesTheAgencyExpects) {
    const ExportCase cases[] = {
        {"TXT of the main taxpayer", kTxt, "20-12345678-3- Peña Núñez, José María", "200805", "200805", 2,
         lines(
             {"20123456783;9012345;R;2008;5;20080507;0001-00001234;123450;3704;30987654321;456;FERRETERÍA CENTRO S A ;",
              "20123456783;9012345;P;2008;5;20080520;0003-00045678;1999;007;30501234567;901-000123-4;SUPERMERCADOS "
              "DEL OESTE S A ;"})},
        {"CSV with option 2", kCsv, "20-12345678-3", "200805", "200805", 2,
         lines({kHeader,
                "20123456783;9012345;R;2008;5;[2008-05-07];0001-00001234;1234,50;37,04;30987654321;456;FERRETERÍA "
                "CENTRO S A ;",
                "20123456783;9012345;P;2008;5;[2008-05-20];0003-00045678;19,99;0,07;30501234567;901-000123-4;"
                "SUPERMERCADOS DEL OESTE S A ;"})},
        {"CSV with option 0: half-cent ties to even", kCsv, "20-12345678-3", "200711", "200711", 0,
         lines(
             {"\"CUIT\",\"IIB\",\"TIPO\",\"DJ_AÑO\",\"DJ_MES\",\"RP_FECHA\",\"FAC_NRO\",\"FAC_MONTO\",\"RET_PER\","
              "\"AG_CUIT\",\"AG_NRO\",\"AG_RAZON_SOCIAL\"",
              "20123456783,9012345,R,2007,11,[2007-11-05],0004-00000125,0.12,0.38,30606060606,6060,COMPAÑÍA ÑANDÚ S A ,",
              "20123456783,9012345,P,2007,11,[2007-11-28],0005-00012345,12.34,21474836.47,30616161616,6161,"
              "AGROPECUARIA EL OMBÚ S R L ,"})},
        {"separators inside texts", kCsv, "20-12345678-3", "200706", "200706", 2,
         lines({kHeader,
                "20123456783;9012345;P;2007;6;[2007-06-15];A-0001 0002 3 4;250,00;7,50;30626262626;901;123,"
                "456.7;TRANSPORTES GÜEMES  HNOS   Y CÍA ;"})},
        {"two forms declaring one month, option 1", kCsv, "27-23456789-4", "200603", "200603", 1,
         lines({kHeader,
                "27234567894;901-234567-8;R;2006;3;[2006-03-10];Extracto 03/2006;15000.00;150.00;30545454545;5454;"
                "BANCO PROVINCIAL DEL LITORAL S A ;",
                "27234567894;IB;2005/0042;P;2006;3;[2006-03-22];0007-00000322;3220.00;96.60;30555555555;5555;"
                "DISTRIBUIDORA PAMPEANA S A ;"})},
        // Operation 2 months are left out, sequence 9 outranks 11 in a re-filed month, the month without its
        // leading zero is never chosen, and 2007-04 is found through its op-0 declaration but exported from the
        // op-2 one that shares its key.
        {"declarations over the whole range", kTxt, "30-71234567-1", "200001", "222201", 2,
         lines(
             {"30712345671;30-71234567-1;R;2007;4;20070404;0004-00000002;4200;420;30535353535;5353;CLAVE REPETIDA "
              "OP DOS S A ;",
              "30712345671;30-71234567-1;R;2007;7;20070703;0001-00000001;1100;011;30515151515;5151;OPERACION UNO S A ;",
              "30712345671;30-71234567-1;P;2007;8;20070809;0009-00000009;9999;909;30575757575;5757;ORDEN NUEVE S A ;",
              "30712345671;30-71234567-1;R;2007;10;20071003;0000-00000000;1000;010;30505050505;5050;OPERACION CERO S "
              "A ;"})},
        {"one-digit month never chosen", kTxt, "30-71234567-1", "200605", "200605", 2, ""},
        {"range boundaries are inclusive", kTxt, "20-12345678-3", "200501", "200502", 2,
         lines(
             {"20123456783;9012345;R;2005;1;20050120;0001-00000501;20000;200;30987654321;456;FERRETERÍA CENTRO S A ;",
              "20123456783;9012345;R;2005;2;20050220;0001-00000502;30000;300;30987654321;456;FERRETERÍA CENTRO S A ;"})},
        {"Null registration number", kTxt, "20-55555555-6", "200509", "200509", 2,
         lines({"20555555556;;R;2005;9;20050909;0001-00000909;90900;909;30696969696;6969;INGRESOS BRUTOS NULO S A ;"})},
        {"negative and rounded-up amounts", kTxt, "20-88888888-9", "200611", "200612", 2,
         lines({"20888888889;0130-3;R;2006;11;20061130;NC-0001-00000001;-123450;-007;30757575757;7575;NOTA DE "
                "CREDITO S A ;",
                "20888888889;0130-3;P;2006;12;20061201;0001-00001201;100;200;30767676767;7676;REDONDEO HACIA ARRIBA S "
                "A ;"})},
        {"Windows-1252 beyond Latin-1", kTxt, "27-23456789-4", "200604", "200604", 2,
         lines({"27234567894;901-234567-8;P;2006;4;20060418;0008-00000418;41800;1254;30565656565;5656;DISTRIBUIDORA "
                "D’ALESSANDRO & CÍA  € S R L ;"})},
        {"shared reference: the row stored first", kTxt, "23-22222222-9- Gómez Ibarra, Raúl Andrés", "200507", "200507",
         2,
         lines({"23222222229;0050-5;P;2005;7;20050707;0001-00000705;70500;705;30656565656;6565;REFERENCIA REPETIDA "
                "PRIMERO S A ;"})},
        {"no declarations: empty TXT", kTxt, "27-44444444-5", "200001", "222201", 2, ""},
        {"no declarations: CSV header only", kCsv, "27-44444444-5", "200001", "222201", 2, lines({kHeader})},
    };
    Program p;
    p.load();
    for (const ExportCase& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path file = p.target(c.command, c.taxpayer, c.desde, c.hasta);
        EXPECT_EQ(p.run(c.command, c.taxpayer, c.desde, c.hasta, c.separador),
                  Boxes{box(" Archivo Generado : " + file.string(), MsgIcon::Information)});
        EXPECT_EQ(readBytes(file), c.expected);
        fs::remove(file);
    }
    EXPECT_TRUE(p.files().empty());  // only finished files were ever there
    // Running TXT after CSV resets the separators.
    p.run(kCsv, "20-12345678-3", "200805", "200805", 0);
    p.run(kTxt, "20-12345678-3", "200805", "200805", 0);
    EXPECT_EQ(readBytes(p.target(kTxt, "20-12345678-3", "200805", "200805")).substr(0, 12), "20123456783;");
}

// A row of a workbook as read back, columns A to L.
std::vector<Cell> rowOf(const ReadBook& book, unsigned row) {
    std::vector<Cell> cells;
    for (unsigned column = 1; column <= 12; ++column) cells.push_back(book.at(row, column));
    return cells;
}

// Each export reads the file as it is when it starts: a text the program that keeps the file up to date changed in
// place (same length, the modification time put back) is in the next export.
TEST(Export, EachExportReadsTheFileAsItIsWhenItStarts) {
    Program p;
    p.load();
    const fs::path file = p.target(kTxt, "20-12345678-3", "200805", "200805");
    p.run(kTxt, "20-12345678-3", "200805", "200805");
    EXPECT_NE(readBytes(file).find(toWindows1252("FERRETERÍA CENTRO")), std::string::npos);

    const fs::path database = p.dir.path() / "Impuest.mdb";
    const auto modified = fs::last_write_time(database);
    std::string bytes = readBytes(database);
    for (std::size_t at = bytes.find("Ferreter"); at != std::string::npos; at = bytes.find("Ferreter", at))
        bytes[at] = 'H';
    writeBytes(database, bytes);
    fs::last_write_time(database, modified);
    p.run(kTxt, "20-12345678-3", "200805", "200805");
    EXPECT_NE(readBytes(file).find(toWindows1252("HERRETERÍA CENTRO")), std::string::npos);
}

TEST(Export, WorkbooksHoldTheHeaderAndOneRowPerMovement) {
    Program p;
    p.load();
    const fs::path main = p.target(kXls, "20-12345678-3", "200805", "200805");
    EXPECT_EQ(p.run(kXls, "20-12345678-3- Peña Núñez, José María", "200805", "200805"),
              Boxes{box("Archivo Generado : " + main.string(), MsgIcon::Information)});
    const ReadBook book = readBook(main);
    EXPECT_EQ(book.rows, 3u);
    EXPECT_EQ(rowOf(book, 1), (std::vector<Cell>{"CUIT", "IIB", "TIPO", "DJ_AÑO", "DJ_MES", "RP_FECHA", "FAC_NRO",
                                                 "FAC_MONTO", "RET_PER", "AG_CUIT", "AG_NRO", "AG_RAZON_SOCIAL"}));
    // Texts as texts, numbers exactly as stored.
    EXPECT_EQ(rowOf(book, 2),
              (std::vector<Cell>{"20123456783", "9012345", "R", 2008.0, 5.0, "[2008-05-07]", "0001-00001234", 1234.5,
                                 37.04, "30987654321", "456", "FERRETERÍA CENTRO S A "}));
    EXPECT_EQ(rowOf(book, 3)[8], Cell{0.07});

    // Rows follow the walk without gaps; absent values leave their cells empty; no movement leaves the header only.
    p.run(kXls, "30-71234567-1");
    const ReadBook walk = readBook(p.target(kXls, "30-71234567-1"));
    EXPECT_EQ((std::vector<Cell>{walk.at(2, 6), walk.at(3, 6), walk.at(4, 6), walk.at(5, 6), walk.at(6, 6)}),
              (std::vector<Cell>{"[2007-04-04]", "[2007-07-03]", "[2007-08-09]", "[2007-10-03]", Cell{}}));
    p.run(kXls, "20-55555555-6", "200509", "200509");
    EXPECT_EQ(readBook(p.target(kXls, "20-55555555-6", "200509", "200509")).at(2, 2), Cell{});
    p.run(kXls, "27-44444444-5");
    EXPECT_EQ(readBook(p.target(kXls, "27-44444444-5")).rows, 1u);
}

TEST(Export, TheTaxpayerIsTheFirstWithTheThirteenCharactersTyped) {
    Program p;
    p.load();
    for (const char* typed : {"20-1234567-8- Fernández, Inés", "20-123456789-1- Suárez, Ángel", "20-12345678'3",
                              "' OR ''='' OR '", "20-12345678-"})
        for (Command c : {kTxt, kCsv, kXls})
            EXPECT_EQ(p.run(c, typed),
                      Boxes{box(std::string(c == kCsv ? " " : "") + "No se pudo encontrar el ID del contribuyente!!!",
                                MsgIcon::Critical)})
                << typed;
    EXPECT_TRUE(p.files().empty());
}

TEST(Export, AsksBeforeReplacingAnExistingFile) {
    Program p;
    p.load();
    for (Command c : {kTxt, kCsv}) {
        const fs::path file = p.target(c, "20-12345678-3", "200805", "200805");
        writeBytes(file, "old\r\n");
        const auto before = fs::last_write_time(file);
        p.boxes.queueAnswer(MsgAnswer::No);
        EXPECT_EQ(p.run(c, "20-12345678-3", "200805", "200805"), Boxes{question(c)});
        EXPECT_EQ(readBytes(file), "old\r\n");
        EXPECT_EQ(fs::last_write_time(file), before);
        EXPECT_EQ(p.run(c, "20-12345678-3", "200805", "200805"),
                  (Boxes{question(c), box(" Archivo Generado : " + file.string(), MsgIcon::Information)}));
        EXPECT_EQ(readBytes(file).substr(0, 11), c == kTxt ? "20123456783" : "\"CUIT\";\"IIB");
    }
}

// A workbook whose save fails, as a device that went away makes it.
struct SheetThatCannotSave : ExcelSheet {
    XlsSheet sheet;
    ExcelApplication& Application() override { return sheet.Application(); }
    void SaveAs(const std::string& path) override {
        throw RuntimeError(RuntimeError::FileError, "No se puede guardar la planilla " + path + ": no está lista");
    }
};

enum class Fault { NullAgentName, FolderOfTheTargetsName, SaveFails, NoStandIn, DamagedPage, FullDisk, ReadOnlyDisk };

// Sets `fault` up for an export of `command` to `target` (an earlier export's file being there); returns the reason
// the command will give, or "" when the fault cannot be made here.
std::string provoke(Fault fault, Program& p, Command command, const std::string& target) {
#ifndef _WIN32
    const std::string folder = p.output("").string();
    // A file system of its own makes a disk really full or read-only, also for root.
    const auto mount = [&] { return ::mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=64k") == 0; };
#endif
    switch (fault) {
        case Fault::NullAgentName: return "Uso no válido de Null";
        case Fault::FolderOfTheTargetsName:
            fs::remove(target);
            fs::create_directory(target);
            return (command == kXls ? "No se puede guardar la planilla " : "No se puede crear el archivo ") + target +
                   ": hay una carpeta con ese nombre";
        case Fault::SaveFails:
            p.form.createObject = [](const std::string&) { return std::make_unique<SheetThatCannotSave>(); };
            return "No se puede guardar la planilla " + target + ": no está lista";
        case Fault::NoStandIn:
            p.form.createObject = [](const std::string&) -> std::unique_ptr<ExcelSheet> {
                throw RuntimeError(RuntimeError::SpreadsheetError, "No se puede crear el objeto Excel.Sheet");
            };
            return "No se puede crear el objeto Excel.Sheet";
        case Fault::DamagedPage: {
            // The database is read afresh when it changed since the last query: the damage is met mid-export.
            std::string bytes = readBytes(p.dir.path() / "Impuest.mdb");
            for (std::size_t page : dataPagesOf(bytes, "Per_Monto1"))
                bytes[page * 4096 + 12] = bytes[page * 4096 + 13] = '\xFF';
            writeBytes(p.dir.path() / "Impuest.mdb", bytes);
            return "La base de datos " + p.dir.str() + kSeparator +
                   "Impuest.mdb está dañada (tabla retenciones: una página dice tener más filas de las que caben). "
                   "El programa de la agencia puede repararla o reemplazarla por una copia sana.";
        }
#ifdef _WIN32
        case Fault::FullDisk:
        case Fault::ReadOnlyDisk: return "";
#else
        case Fault::FullDisk: {
            if (!mount()) return "";
            writeBytes(target, "kept\r\n");
            std::ofstream filler(folder + "/filler", std::ios::binary);
            for (const std::string block(512, 'x'); filler.write(block.data(), 512) && filler.flush();) {}
            return "no queda espacio en el disco";
        }
        case Fault::ReadOnlyDisk:
            if (mount()) {
                writeBytes(target, "kept\r\n");
                ::mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, "size=64k");
                return "el disco es de solo lectura";
            }
            if (::geteuid() == 0) return "";  // root writes into any folder it can reach
            fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
            return "no tiene permiso";
#endif
    }
    return "";
}

// Each of `faults` ends an export in the command's messages, leaves no partial or temporary file, and leaves an
// existing file of the target's name as it was.
void exportsFailWithoutLeavingAFile(std::initializer_list<Fault> faults) {
    for (Fault fault : faults) {
        for (Command command : {kTxt, kCsv, kXls}) {
            if ((fault == Fault::SaveFails || fault == Fault::NoStandIn) && command != kXls) continue;
            SCOPED_TRACE(std::to_string(static_cast<int>(fault)) + extension(command));
            Program p;
            p.load();
            const std::string taxpayer = fault == Fault::NullAgentName ? "30-66666666-7" : "20-12345678-3";
            const std::string target = p.target(command, taxpayer).string();
            writeBytes(target, "kept\r\n");
            const std::string reason = provoke(fault, p, command, target);
            if (reason.empty()) continue;
            const auto before = p.files();
            const Boxes shown = p.run(command, taxpayer);
            EXPECT_EQ(p.files(), before);
            if (fault == Fault::FullDisk || fault == Fault::ReadOnlyDisk) {
#ifndef _WIN32
                ::umount2(p.output("").c_str(), MNT_DETACH);
#endif
                const std::string& text = (command == kXls ? shown.front() : shown.back()).text;
                EXPECT_NE(text.find(reason), std::string::npos) << text;
            } else {
                Boxes expected = failure(command, reason, true);
                if (fault == Fault::NoStandIn) expected.resize(1);  // nothing was created to show or release
                EXPECT_EQ(shown, expected);
            }
            EXPECT_FALSE(p.form.vExcelSheet);
        }
    }
}

TEST(Export, AFailedExportLeavesNoFileAndKeepsTheOldOne) {
    exportsFailWithoutLeavingAFile(
        {Fault::NullAgentName, Fault::FolderOfTheTargetsName, Fault::SaveFails, Fault::NoStandIn, Fault::DamagedPage});
}

// A disk of its own, full or read-only, is mounted over the output folder where this user may mount one.
TEST(Export, AFailedWriteLeavesNoFileAndKeepsTheOldOne) {
    if (kOnWindows)
        GTEST_SKIP() << "a disk over the output folder is mounted by Linux alone; on Windows a full disk is met by "
                        "output_file_test and workbook_test";
    exportsFailWithoutLeavingAFile({Fault::FullDisk, Fault::ReadOnlyDisk});
}

// A workbook that would pass its format's rows is refused before anything is written, saying why and what to do,
// and without the box about the spreadsheet application, whose cause it is not; a file of its name stays as it was.
TEST(Export, AWorkbookTooBigForItsFormatIsRefusedBeforeAnythingIsWritten) {
    Program p;
    p.load();
    // Each of the taxpayer's four movements read 20,000 times over: 80,000 rows.
    p.form.Conn = std::make_unique<HookedDatabase>(std::move(p.form.Conn),
                                                   [](const Movement& movement, const MovementVisitor& visit) {
                                                       for (int i = 0; i < 20'000; ++i) visit(movement);
                                                   });
    const std::string target = p.target(kXls, "30-71234567-1").string();
    writeBytes(target, "kept\r\n");
    const auto before = p.files();
    EXPECT_EQ(p.run(kXls, "30-71234567-1"),
              Boxes{box("El rango pedido tiene más de 65.535 movimientos, y una planilla .XLS tiene 65.536 filas: una "
                        "para los títulos y una por movimiento.\r\rElija un rango más corto, o genere el archivo TXT o "
                        "CSV, que no tienen ese límite.",
                        MsgIcon::Critical)});
    EXPECT_EQ(p.files(), before);
    EXPECT_FALSE(p.form.vExcelSheet);
}

// A file named RET-PERC: start-up takes it for the folder, and every export then names a path below a file, which
// names nothing: no question, only the command's own error.
TEST(Export, AFileWhereTheOutputFolderShouldBe) {
    Program p;
    writeBytes(p.dir.path() / "RET-PERC", "not a folder");
    EXPECT_TRUE(p.load().empty());
    const std::string notAFolder = systemWords("una parte de la ruta no es una carpeta", 3 /* ERROR_PATH_NOT_FOUND */);
    for (Command c : {kTxt, kCsv, kXls}) {
        const std::string path = p.target(c, "20-12345678-3").string();
        EXPECT_EQ(p.run(c, "20-12345678-3"),
                  failure(c,
                          c == kXls ? "No se puede guardar la planilla " + path +
                                          ": no se puede crear un archivo temporal a su lado: " + notAFolder
                                    : "No se puede crear el archivo " + path + ": " + notAFolder,
                          false));
    }
    EXPECT_EQ(readBytes(p.dir.path() / "RET-PERC"), "not a folder");
}

// A taxpayer whose stored reference would make a name the system reads as something else than one file of the
// output folder: a path climbing out of it into a folder named like its first part, on Windows also a stream of a
// file (":"), a pattern, a control character. Every command refuses such a name with its own error (52) and writes
// nothing anywhere; any other name, ñ included, is the file's.
TEST(Export, AReferenceTheSystemCannotNameAFileAfterNamesNone) {
    struct OneTaxpayer : Reading {
        std::string reference;
        std::vector<TaxpayerRow> taxpayers() override { return {}; }
        std::optional<FoundTaxpayer> taxpayerByReference(std::string_view) override {
            return FoundTaxpayer{Value::integer(1), Value::text(reference)};
        }
        std::vector<DeclarationGroup> declarationGroups(std::int32_t) override { return {}; }
        std::optional<Value> declarationId(std::int32_t, std::string_view) override { return std::nullopt; }
        void movements(MovementTable, std::int32_t, std::int32_t, const MovementVisitor&) override {}
        bool unchanged() const override { return true; }
        bool current() const override { return true; }
    };
    struct OneTaxpayerDatabase : Database {
        std::string reference;
        std::unique_ptr<Reading> read() override {
            auto reading = std::make_unique<OneTaxpayer>();
            reading->reference = reference;
            return reading;
        }
        void waitForWriter() override {}
        bool waitUntilSettled(std::chrono::milliseconds, const std::function<void()>&) override { return true; }
        void Close() override {}
    };
    const struct {
        const char* name;
        std::string reference;
        bool refused;  // on this system
    } rows[] = {
        {"a path out of the folder", "20-1/../../x", true},
        {"backslashes", "20-1\\..\\..\\x", kOnWindows},
        {"a stream of a file", "20-1:x", kOnWindows},
        {"a pattern", "20-1*?x", kOnWindows},
        {"quotes", "20-1\"x", kOnWindows},
        {"redirections", "20-1<x>|y", kOnWindows},
        {"a tab", "20-1\tx", kOnWindows},
        {"another control character", std::string("20-1\x01x"), kOnWindows},
        {"an ñ", "20-Muñoz-1", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Program p;
        p.load();
        auto database = std::make_unique<OneTaxpayerDatabase>();
        database->reference = row.reference;
        p.form.Conn = std::move(database);
        fs::create_directories(p.output("RET-PERC-IB-201"));
        std::string digits = row.reference;
        digits.erase(std::remove(digits.begin(), digits.end(), '-'), digits.end());
        std::map<std::string, std::string> written = {{"RET-PERC-IB-201", "(folder)"}};
        for (Command c : {kTxt, kCsv, kXls}) {
            const std::string name = "RET-PERC-IB-" + digits + "-200001-222201" + extension(c);
            const Boxes shown = p.run(c, "20-1");
            if (!row.refused) {
                const std::string path = p.form.G_CARPETA_GENERACION + name;
                EXPECT_EQ(shown, Boxes{box((c == kXls ? "" : " ") + std::string("Archivo Generado : ") + path,
                                           MsgIcon::Information)});
                written[name] = readBytes(pathOf(path));
                continue;
            }
            Boxes expected = failure(c, "Nombre o número de archivo incorrecto: " + name, false);
            if (c == kXls)
                expected = {
                    box("Error al crear el archivo!! \r\rMotivo: Nombre o número de archivo incorrecto: " + name,
                        MsgIcon::Critical, "** ERROR **")};
            EXPECT_EQ(shown, expected);
            const ExportOutcome outcome = c(p.form);
            EXPECT_EQ(outcome.kind, ExportOutcome::Kind::Failed);
            EXPECT_EQ(outcome.error, RuntimeError::BadFileName);
            EXPECT_EQ(outcome.reference, row.reference);
        }
        std::map<std::string, std::string> found;
        for (const auto& entry : fs::directory_iterator(p.output("")))
            found[utf8Path(entry.path().filename())] = entry.is_directory() ? "(folder)" : readBytes(entry.path());
        EXPECT_EQ(found, written);
        EXPECT_EQ(std::distance(fs::directory_iterator(p.dir.path()), {}), 2);  // Impuest.mdb and RET-PERC
        EXPECT_TRUE(fs::is_empty(p.output("RET-PERC-IB-201")));
    }
}

}  // namespace

namespace {

// The database file of a batch, in memory, and a clock under which another program writes it: every wait of the
// batch, and every look at the clock after `writing` was set, finds it freshly written.
struct WrittenDatabase : Clock {
    explicit WrittenDatabase(const std::string& from) : file(readBytes(from), "Impuest.mdb") {
        file.touch(clock.now() - 3'600'000'000'000);
    }
    std::int64_t now() const override {
        if (writing) const_cast<MemoryFile&>(file).touch(clock.now());
        return clock.now();
    }
    void sleep(std::chrono::milliseconds duration) override {
        clock.sleep(duration);
        if (writing) file.touch(clock.now());
    }
    std::function<std::unique_ptr<Workspace>()> workspace() {
        return [this] {
            struct Engine : Workspace {
                explicit Engine(WrittenDatabase& d) : db(d) {}
                std::unique_ptr<Database> OpenDatabase(const std::string&, bool, bool, const std::string&) override {
                    return std::make_unique<JetDatabase>([this] { return db.file.open(); }, "Kb7731R28", db);
                }
                void Close() override {}
                WrittenDatabase& db;
            };
            return std::make_unique<Engine>(*this);
        };
    }

    FakeClock clock;
    MemoryFile file;
    bool writing = false;
};

// A batch waits for a database file being written to settle, once, and goes on; a file that never settles stops it
// within the bound, with one message, never one error for each taxpayer.
TEST(Batch, WaitsForAFileBeingWrittenAndStopsWhenItNeverSettles) {
    for (const bool writer : {false, true}) {
        TempDir dir;
        WrittenDatabase db(testData("data/impuest-cases.mdb"));
        BatchOptions options;
        options.desde = "200001";
        options.hasta = "222201";
        options.all = true;
        options.count = true;
        BatchExport batch(options, dir.str());
        batch.useWorkspace(db.workspace());
        int waits = 0;
        batch.onWaiting([&] { ++waits; });
        std::vector<std::string> messages;
        ASSERT_TRUE(batch.start(messages));
        const std::vector<BatchTaxpayer> taxpayers = batch.taxpayers();
        ASSERT_EQ(taxpayers.size(), 13u);
        // Written a moment ago; then, with `writer`, written all the time.
        db.file.touch(db.clock.now());
        db.writing = writer;
        std::size_t counted = 0;
        for (const BatchTaxpayer& taxpayer : taxpayers) {
            const TaxpayerResult result = batch.run(taxpayer);
            if (batch.stoppedByWrites()) break;
            counted += result.outcome == BatchOutcome::Counted;
        }
        EXPECT_EQ(waits, 1) << (writer ? "writer" : "one write");
        EXPECT_EQ(batch.stoppedByWrites(), writer);
        EXPECT_EQ(counted, writer ? 0u : 11u);
        EXPECT_LE(db.clock.slept(), writer ? 5'100 : 100);
        if (writer) {
            EXPECT_NE(batch.stoppedMessage().find("no deja de cambiar"), std::string::npos);
        }
    }
}

// What each export of a batch did, as the batch reports it: a count over files already there counts them (it keeps
// nothing, for it writes nothing); a taxpayer named without movements in the range gets its file, as the window
// writes it, and only a run over the whole list leaves none; a taxpayer not found reports no movements of the one
// before it.
TEST(Batch, SaysWhatEachExportDid) {
    TempDir dir;
    fs::copy_file(testData("data/impuest-cases.mdb"), dir.path() / "Impuest.mdb");
    const auto run = [&](BatchOptions options) {
        options.desde = "200001";
        options.hasta = "222201";
        BatchExport batch(options, dir.str());
        std::vector<std::string> messages;
        EXPECT_TRUE(batch.start(messages));
        std::map<std::string, TaxpayerResult> results;
        for (const BatchTaxpayer& taxpayer : batch.taxpayers()) results[taxpayer.reference] = batch.run(taxpayer);
        return results;
    };
    BatchOptions all;
    all.all = true;
    for (const auto& [reference, result] : run(all)) {
        EXPECT_NE(result.outcome, BatchOutcome::Kept) << reference;
        if (reference == "27-44444444-5") {
            EXPECT_EQ(result.outcome, BatchOutcome::None);
        }
    }
    EXPECT_FALSE(fs::exists(dir.path() / "RET-PERC" / "RET-PERC-IB-27444444445-200001-222201.txt"));
    all.count = true;
    std::size_t counted = 0;
    for (const auto& [reference, result] : run(all)) {
        EXPECT_NE(result.outcome, BatchOutcome::Kept) << reference;
        counted += result.outcome == BatchOutcome::Counted;
    }
    EXPECT_EQ(counted, 11u);  // and one error, and one reference the box cannot find

    BatchOptions named;
    named.taxpayers = {"27-44444444-5", "20-12345678-3", "99-99999999-9"};  // not found after 12 movements
    named.replace = true;
    const auto results = run(named);
    EXPECT_EQ(results.at("20-12345678-3").movements, 12);
    EXPECT_EQ(results.at("27-44444444-5").outcome, BatchOutcome::Written);
    EXPECT_EQ(readBytes(dir.path() / "RET-PERC" / "RET-PERC-IB-27444444445-200001-222201.txt"), "");
    EXPECT_EQ(results.at("99-99999999-9").outcome, BatchOutcome::NotFound);
    EXPECT_EQ(results.at("99-99999999-9").movements, 0);
}

// The saved report is a CSV a spreadsheet reads back field for field, whatever a name holds.
TEST(Batch, ReportFieldsKeepTheirQuotes) {
    TempDir dir;
    BatchReport report;
    report.desde = "200001";
    report.hasta = "222201";
    report.rows.push_back({"20-1", "La \"Unión\"; S.A.", 3, "Generado", ""});
    saveBatchReport(report, (dir.path() / "informe.csv").string());
    const std::string saved = readBytes(dir.path() / "informe.csv");
    EXPECT_NE(saved.find(toWindows1252("\"20-1\";\"La \"\"Unión\"\"; S.A.\";3;\"Generado\"")), std::string::npos)
        << saved;
}

}  // namespace

namespace {

// The window's thread as a test plays it: the worker's wake is counted, and the test serves the job until its end.
struct WindowThread {
    std::mutex mutex;
    std::condition_variable woken;
    int wakes = 0;
    std::optional<BackgroundJob::End> end;
    std::vector<std::string> seen;  // notices and boxes in the order the window met them

    std::function<void()> wake() {
        return [this] {
            const std::lock_guard lock(mutex);
            ++wakes;
            woken.notify_all();
        };
    }
    // Serves `job` each time it wakes the window until the end comes.
    void serveUntilEnded(std::unique_ptr<BackgroundJob>& job) {
        while (!end && job) {
            std::unique_lock lock(mutex);
            woken.wait(lock, [this] { return wakes > 0; });
            wakes = 0;
            lock.unlock();
            job->serve();
        }
    }
};

}  // namespace

// Whatever the work sends reaches the window's thread in order, a box waiting for its answer; its end comes last,
// after what it sent, with what escaped it; cancelling is seen by the work, and a job destroyed while its work
// waits on a box stops it.
TEST(BackgroundJob, RelaysInOrderAndEndsWithWhatEscaped) {
    ScriptedMessageBoxes boxes;
    for (const bool throws : {false, true}) {
        SCOPED_TRACE(throws ? "the work throws" : "the work returns");
        WindowThread window;
        boxes.clear();
        boxes.onShow = [&] { window.seen.push_back("box " + boxes.shown().back().text); };
        boxes.queueAnswer(MsgAnswer::No);
        auto job = std::make_unique<BackgroundJob>(boxes, window.wake());
        std::atomic<bool> answeredNo{false};
        job->start(
            [&] {
                for (int i = 0; i < 200; ++i) {
                    job->post([&window, i] { window.seen.push_back(std::to_string(i)); });
                    if (i == 100)
                        answeredNo =
                            job->boxes().MsgBox("¿Seguir?", MsgIcon::Question, MsgButtons::YesNo) == MsgAnswer::No;
                }
                if (throws) throw RuntimeError::invalidUseOfNull();
            },
            [&](const BackgroundJob::End& end) {
                window.end = end;
                job.reset();  // as a window may, from the end
            });
        window.serveUntilEnded(job);
        ASSERT_TRUE(window.end);
        EXPECT_TRUE(answeredNo);
        ASSERT_EQ(window.seen.size(), 201u);
        for (int i = 0, at = 0; i < 200; ++i, ++at) {
            EXPECT_EQ(window.seen[std::size_t(at)], std::to_string(i));
            if (i == 100) {
                EXPECT_EQ(window.seen[std::size_t(++at)], "box ¿Seguir?");
            }
        }
        EXPECT_EQ(bool(window.end->escaped), throws);
        EXPECT_EQ(window.end->failure, throws ? RuntimeError::invalidUseOfNull().Description() : "");
        EXPECT_FALSE(window.end->cancelled);
    }

    WindowThread window;
    auto job = std::make_unique<BackgroundJob>(boxes, window.wake());
    job->start(
        [&] {
            while (!job->cancelRequested()) std::this_thread::yield();
        },
        [&](const BackgroundJob::End& end) { window.end = end; });
    job->cancel();
    window.serveUntilEnded(job);
    ASSERT_TRUE(window.end);
    EXPECT_TRUE(window.end->cancelled);

    // Destroyed, without being served, while the work waits on its question: the question is answered No.
    std::atomic<bool> asked{false};
    MsgAnswer answer = MsgAnswer::Yes;
    job = std::make_unique<BackgroundJob>(boxes, [&] { asked = true; });
    bool ended = false;
    job->start([&] { answer = job->boxes().MsgBox("?", MsgIcon::Question, MsgButtons::YesNo); },
               [&](const BackgroundJob::End&) { ended = true; });
    while (!asked) std::this_thread::yield();
    job.reset();
    EXPECT_EQ(answer, MsgAnswer::No);
    EXPECT_FALSE(ended);
}
