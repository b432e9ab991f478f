// Whole exports from impuest-cases.mdb, started from the window with the message boxes answered by the test, and
// compared with files written by hand.
#include "app/MainWindow.h"
#include "runtime/TextCodecs.h"
#include "support/MemoryOutputFile.h"
#include "support/ScriptedMessageBoxes.h"
#include "support/TestFiles.h"
#include "support/WorkbookReader.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <filesystem>

namespace fs = std::filesystem;

namespace {

const std::string kHeaderSemicolon =
    "\"CUIT\";\"IIB\";\"TIPO\";\"DJ_AÑO\";\"DJ_MES\";\"RP_FECHA\";\"FAC_NRO\";\"FAC_MONTO\";"
    "\"RET_PER\";\"AG_CUIT\";\"AG_NRO\";\"AG_RAZON_SOCIAL\"";
const std::string kHeaderComma =
    "\"CUIT\",\"IIB\",\"TIPO\",\"DJ_AÑO\",\"DJ_MES\",\"RP_FECHA\",\"FAC_NRO\",\"FAC_MONTO\","
    "\"RET_PER\",\"AG_CUIT\",\"AG_NRO\",\"AG_RAZON_SOCIAL\"";

// The file as the agency receives it: each line in Windows-1252, ended by CR LF.
std::string lines(std::initializer_list<std::string> utf8Lines) {
    std::string out;
    for (const std::string& line : utf8Lines) out += toWindows1252(line) + "\r\n";
    return out;
}

const char* kTxtError =
    "Error al crear el archivo!!, si lo tiene abierto en otro programa \rciérrelo y vuelva a intentarlo."
    "\r\rMotivo: ";

class ExportFromWindow : public ::testing::Test {
protected:
    void SetUp() override {
        fs::copy_file(shared("fixtures/impuest-cases.mdb"), m_dir.path() / "Impuest.mdb");
        m_window = std::make_unique<MainWindow>(m_dir.str(), &m_boxes);
        m_window->load();
        ASSERT_TRUE(m_boxes.shown().empty()) << m_boxes.shown().front().text;
    }

    template <typename W>
    W* widget(const char* name) const {
        auto* w = m_window->findChild<W*>(name);
        EXPECT_NE(w, nullptr) << name;
        return w;
    }

    // Types the taxpayer and the range as a user would, picks a separator option, and presses a button.
    void exportWith(const char* button, const std::string& taxpayer, const std::string& desde, const std::string& hasta,
                    int separador = 2) {
        widget<QComboBox>("lst_contribuyentes")->setEditText(QString::fromStdString(taxpayer));
        widget<QLineEdit>("txt_desde")->setText(QString::fromStdString(desde));
        widget<QLineEdit>("txt_hasta")->setText(QString::fromStdString(hasta));
        widget<QRadioButton>(("chk_separador_" + std::to_string(separador)).c_str())->setChecked(true);
        QTest::mouseClick(widget<QPushButton>(button), Qt::LeftButton);
    }

    fs::path output(const std::string& name) const { return m_dir.path() / "RET-PERC" / name; }
    std::string outputBytes(const std::string& name) const { return readBytes(output(name)); }
    std::vector<fs::path> outputFolder() const {
        std::vector<fs::path> names;
        for (const auto& entry : fs::directory_iterator(m_dir.path() / "RET-PERC"))
            names.push_back(entry.path().filename());
        return names;
    }

    TempDir m_dir;
    ScriptedMessageBoxes m_boxes;
    std::unique_ptr<MainWindow> m_window;
};

struct ExportCase {
    const char* name;
    const char* button;
    const char* taxpayer;
    const char* desde;
    const char* hasta;
    int separador;
    const char* file;
    std::string expected;
};

TEST_F(ExportFromWindow, WritesTheFilesTheAgencyExpects) {
    const ExportCase cases[] = {
        {"TXT line of the main taxpayer", "btn_gen_txt_orv", "20-12345678-3- Peña Núñez, José María", "200805",
         "200805", 2, "RET-PERC-IB-20123456783-200805-200805.txt",
         lines(
             {"20123456783;9012345;R;2008;5;20080507;0001-00001234;123450;3704;30987654321;456;FERRETERÍA CENTRO S A ;",
              "20123456783;9012345;P;2008;5;20080520;0003-00045678;1999;007;30501234567;901-000123-4;SUPERMERCADOS DEL OESTE S A ;"})},
        {"CSV with option 2", "btn_gen_csv", "20-12345678-3- Peña Núñez, José María", "200805", "200805", 2,
         "RET-PERC-IB-20123456783-200805-200805.csv",
         lines(
             {kHeaderSemicolon,
              "20123456783;9012345;R;2008;5;[2008-05-07];0001-00001234;1234,50;37,04;30987654321;456;FERRETERÍA CENTRO S A ;",
              "20123456783;9012345;P;2008;5;[2008-05-20];0003-00045678;19,99;0,07;30501234567;901-000123-4;SUPERMERCADOS DEL OESTE S A ;"})},
        {"CSV with option 0: half-cent ties to even", "btn_gen_csv", "20-12345678-3", "200711", "200711", 0,
         "RET-PERC-IB-20123456783-200711-200711.csv",
         lines(
             {kHeaderComma,
              "20123456783,9012345,R,2007,11,[2007-11-05],0004-00000125,0.12,0.38,30606060606,6060,COMPAÑÍA ÑANDÚ S A ,",
              "20123456783,9012345,P,2007,11,[2007-11-28],0005-00012345,12.34,21474836.47,30616161616,6161,AGROPECUARIA EL OMBÚ S R L ,"})},
        {"separators inside texts", "btn_gen_csv", "20-12345678-3", "200706", "200706", 2,
         "RET-PERC-IB-20123456783-200706-200706.csv",
         lines(
             {kHeaderSemicolon,
              "20123456783;9012345;P;2007;6;[2007-06-15];A-0001 0002 3 4;250,00;7,50;30626262626;901;123,456.7;TRANSPORTES GÜEMES  HNOS   Y CÍA ;"})},
        {"re-filed month: sequence 9 outranks 11", "btn_gen_txt_orv", "30-71234567-1", "200708", "200708", 2,
         "RET-PERC-IB-30712345671-200708-200708.txt",
         lines(
             {"30712345671;30-71234567-1;P;2007;8;20070809;0009-00000009;9999;909;30575757575;5757;ORDEN NUEVE S A ;"})},
        {"two forms declaring one month, option 1", "btn_gen_csv", "27-23456789-4", "200603", "200603", 1,
         "RET-PERC-IB-27234567894-200603-200603.csv",
         lines(
             {kHeaderSemicolon,
              "27234567894;901-234567-8;R;2006;3;[2006-03-10];Extracto 03/2006;15000.00;150.00;30545454545;5454;BANCO PROVINCIAL DEL LITORAL S A ;",
              "27234567894;IB;2005/0042;P;2006;3;[2006-03-22];0007-00000322;3220.00;96.60;30555555555;5555;DISTRIBUIDORA PAMPEANA S A ;"})},
        // Operation 2 months are left out, the month without its leading zero is never chosen, and 2007-04 is
        // found through its op-0 declaration but exported from the op-2 one that shares its key.
        {"operation codes over the whole range", "btn_gen_txt_orv", "30-71234567-1", "200001", "222201", 2,
         "RET-PERC-IB-30712345671-200001-222201.txt",
         lines(
             {"30712345671;30-71234567-1;R;2007;4;20070404;0004-00000002;4200;420;30535353535;5353;CLAVE REPETIDA OP DOS S A ;",
              "30712345671;30-71234567-1;R;2007;7;20070703;0001-00000001;1100;011;30515151515;5151;OPERACION UNO S A ;",
              "30712345671;30-71234567-1;P;2007;8;20070809;0009-00000009;9999;909;30575757575;5757;ORDEN NUEVE S A ;",
              "30712345671;30-71234567-1;R;2007;10;20071003;0000-00000000;1000;010;30505050505;5050;OPERACION CERO S A ;"})},
        {"one-digit month never chosen", "btn_gen_txt_orv", "30-71234567-1", "200605", "200605", 2,
         "RET-PERC-IB-30712345671-200605-200605.txt", ""},
        {"range boundaries are inclusive", "btn_gen_txt_orv", "20-12345678-3", "200501", "200502", 2,
         "RET-PERC-IB-20123456783-200501-200502.txt",
         lines(
             {"20123456783;9012345;R;2005;1;20050120;0001-00000501;20000;200;30987654321;456;FERRETERÍA CENTRO S A ;",
              "20123456783;9012345;R;2005;2;20050220;0001-00000502;30000;300;30987654321;456;FERRETERÍA CENTRO S A ;"})},
        {"Null registration and Null agent number are empty fields", "btn_gen_txt_orv", "20-55555555-6", "200509",
         "200509", 2, "RET-PERC-IB-20555555556-200509-200509.txt",
         lines({"20555555556;;R;2005;9;20050909;0001-00000909;90900;909;30696969696;6969;INGRESOS BRUTOS NULO S A ;"})},
        {"Null agent number", "btn_gen_txt_orv", "20-12345678-3", "200609", "200609", 2,
         "RET-PERC-IB-20123456783-200609-200609.txt",
         lines(
             {"20123456783;9012345;R;2006;9;20060912;0001-00009999;30000;900;30636363636;;ESTACIÓN DE SERVICIO LA POSTA S A ;"})},
        {"large, negative and rounded-up amounts", "btn_gen_txt_orv", "20-88888888-9", "200611", "200612", 2,
         "RET-PERC-IB-20888888889-200611-200612.txt",
         lines(
             {"20888888889;0130-3;R;2006;11;20061130;NC-0001-00000001;-123450;-007;30757575757;7575;NOTA DE CREDITO S A ;",
              "20888888889;0130-3;P;2006;12;20061201;0001-00001201;100;200;30767676767;7676;REDONDEO HACIA ARRIBA S A ;"})},
        {"vouchers over 21,474,836.47", "btn_gen_txt_orv", "30-77777777-8", "200511", "200511", 2,
         "RET-PERC-IB-30777777778-200511-200511.txt",
         lines({"30777777778;0120-2;R;2005;11;20051111;0001-00001111;2147483648;100;30747474747;7474;DESBORDE S A ;"})},
        {"characters of Windows-1252 beyond Latin-1", "btn_gen_txt_orv", "27-23456789-4", "200604", "200604", 2,
         "RET-PERC-IB-27234567894-200604-200604.txt",
         lines(
             {"27234567894;901-234567-8;P;2006;4;20060418;0008-00000418;41800;1254;30565656565;5656;DISTRIBUIDORA D’ALESSANDRO & CÍA  € S R L ;"})},
        {"shared reference: the row stored first", "btn_gen_txt_orv", "23-22222222-9- Gómez Ibarra, Raúl Andrés",
         "200507", "200507", 2, "RET-PERC-IB-23222222229-200507-200507.txt",
         lines(
             {"23222222229;0050-5;P;2005;7;20050707;0001-00000705;70500;705;30656565656;6565;REFERENCIA REPETIDA PRIMERO S A ;"})},
        {"no declarations: empty TXT", "btn_gen_txt_orv", "27-44444444-5", "200001", "222201", 2,
         "RET-PERC-IB-27444444445-200001-222201.txt", ""},
        {"no declarations: CSV header only", "btn_gen_csv", "27-44444444-5", "200001", "222201", 2,
         "RET-PERC-IB-27444444445-200001-222201.csv", lines({kHeaderSemicolon})},
    };
    for (const ExportCase& c : cases) {
        SCOPED_TRACE(c.name);
        m_boxes.clear();
        exportWith(c.button, c.taxpayer, c.desde, c.hasta, c.separador);
        const std::string path = output(c.file).string();
        ASSERT_EQ(m_boxes.shown().size(), 1u) << m_boxes.shown().front().text;
        EXPECT_EQ(m_boxes.shown()[0],
                  (ShownBox{" Archivo Generado : " + path, MsgIcon::Information, MsgButtons::OK, {}}));
        EXPECT_EQ(outputBytes(c.file), c.expected);
    }
    // Nothing but the finished files is left in the folder.
    EXPECT_EQ(outputFolder().size(), std::size(cases));
}

TEST_F(ExportFromWindow, TaxpayerLookupMatchesThirteenCharactersLiterally) {
    const char* notFound[] = {
        "20-1234567-8- Fernández, Inés",  // 12-character reference
        "20-123456789-1- Suárez, Ángel",  // 14-character reference
        "20-12345678'3",                  // a quote is just a character
        "' OR ''='' OR '",                // nor can SQL typed into the box select anything
        "20-12345678-",                   // too short
    };
    for (const char* typed : notFound) {
        SCOPED_TRACE(typed);
        m_boxes.clear();
        exportWith("btn_gen_txt_orv", typed, "200001", "222201");
        EXPECT_EQ(m_boxes.texts(), std::vector<std::string>{"No se pudo encontrar el ID del contribuyente!!!"});
        m_boxes.clear();
        exportWith("btn_gen_csv", typed, "200001", "222201");
        EXPECT_EQ(m_boxes.texts(), std::vector<std::string>{" No se pudo encontrar el ID del contribuyente!!!"});
    }
    EXPECT_TRUE(outputFolder().empty());
}

TEST_F(ExportFromWindow, AskesBeforeOverwriting) {
    const std::string name = "RET-PERC-IB-20123456783-200805-200805.txt";
    writeBytes(output(name), "old content\r\n");
    const auto before = fs::last_write_time(output(name));

    m_boxes.queueAnswer(MsgAnswer::No);
    exportWith("btn_gen_txt_orv", "20-12345678-3", "200805", "200805");
    const ShownBox question{
        "  El archivo ya existe! ... \n\n Desea sobreescribir el archivo?? ", MsgIcon::Question, MsgButtons::YesNo, {}};
    EXPECT_EQ(m_boxes.shown(), std::vector<ShownBox>{question});
    EXPECT_EQ(outputBytes(name), "old content\r\n");
    EXPECT_EQ(fs::last_write_time(output(name)), before);

    m_boxes.clear();
    m_boxes.queueAnswer(MsgAnswer::Yes);
    exportWith("btn_gen_txt_orv", "20-12345678-3", "200805", "200805");
    ASSERT_EQ(m_boxes.texts().size(), 2u);
    EXPECT_EQ(outputBytes(name).substr(0, 12), "20123456783;");

    writeBytes(output("RET-PERC-IB-20123456783-200805-200805.csv"), "x");
    m_boxes.clear();
    m_boxes.queueAnswer(MsgAnswer::No);
    exportWith("btn_gen_csv", "20-12345678-3", "200805", "200805");
    EXPECT_EQ(m_boxes.texts(),
              std::vector<std::string>{"El archivo ya existe! ... \n\n Desea sobreescribir el archivo?? "});
}

TEST_F(ExportFromWindow, AFailedExportLeavesTheOldFileAndNoPartialOne) {
    // 2005-10 of this taxpayer holds a normal withholding, then a perception whose agent name is Null.
    const std::string name = "RET-PERC-IB-30666666667-200510-200510.txt";
    writeBytes(output(name), "kept\r\n");
    exportWith("btn_gen_txt_orv", "30-66666666-7", "200510", "200510");
    ASSERT_EQ(m_boxes.shown().size(), 2u);
    EXPECT_EQ(m_boxes.shown()[1], (ShownBox{std::string(kTxtError) + "Invalid use of Null", MsgIcon::Critical,
                                            MsgButtons::OK, "** ERROR **"}));
    EXPECT_EQ(outputBytes(name), "kept\r\n");
    EXPECT_EQ(outputFolder(), std::vector<fs::path>{name});

    // A file that did not exist is not created.
    m_boxes.clear();
    exportWith("btn_gen_csv", "30-66666666-7", "200510", "200510");
    ASSERT_EQ(m_boxes.shown().size(), 1u);
    EXPECT_EQ(m_boxes.shown()[0].text,
              "Error al crear el archivo!!, si lo tiene abierto en MS Excel\ru otro programa, ciérrelo y vuelva a "
              "intentarlo.\r\rMotivo: Invalid use of Null");
    EXPECT_FALSE(fs::exists(output("RET-PERC-IB-30666666667-200510-200510.csv")));
}

TEST_F(ExportFromWindow, AFolderWithTheTargetsNameEndsInTheErrorMessage) {
    const std::string name = "RET-PERC-IB-20123456783-200805-200805.txt";
    fs::create_directory(output(name));
    exportWith("btn_gen_txt_orv", "20-12345678-3", "200805", "200805");
    ASSERT_EQ(m_boxes.shown().size(), 2u);
    EXPECT_EQ(m_boxes.shown()[0].icon, MsgIcon::Question);
    EXPECT_EQ(m_boxes.shown()[1].title, std::optional<std::string>("** ERROR **"));
    EXPECT_TRUE(m_boxes.shown()[1].text.starts_with(kTxtError)) << m_boxes.shown()[1].text;
    EXPECT_TRUE(fs::is_directory(output(name)));
    EXPECT_EQ(outputFolder().size(), 1u);
}

TEST_F(ExportFromWindow, AWriteThatFailsIsReportedAndTheNextExportWorks) {
    auto failing = std::make_unique<MemoryOutputFile>();
    failing->failOnPrintLine(2);
    auto* memory = failing.get();
    m_window->form().file1 = std::move(failing);
    exportWith("btn_gen_txt_orv", "20-12345678-3", "200805", "200805");
    ASSERT_EQ(m_boxes.shown().size(), 1u);
    EXPECT_TRUE(m_boxes.shown()[0].text.starts_with(kTxtError));
    EXPECT_TRUE(memory->abandoned());

    memory->failOnPrintLine(0);
    m_boxes.clear();
    exportWith("btn_gen_txt_orv", "20-12345678-3", "200805", "200805");
    EXPECT_EQ(m_boxes.shown().at(0).icon, MsgIcon::Information);
    EXPECT_TRUE(memory->closed());
    EXPECT_EQ(memory->bytes().substr(0, 12), "20123456783;");
}

TEST_F(ExportFromWindow, TxtAfterCsvResetsTheSeparators) {
    exportWith("btn_gen_csv", "20-12345678-3", "200805", "200805", 0);
    exportWith("btn_gen_txt_orv", "20-12345678-3", "200805", "200805", 0);
    const std::string expected =
        toWindows1252("20123456783;9012345;R;2008;5;20080507;0001-00001234;123450;3704;30987654321;456;FERRETERÍA");
    EXPECT_EQ(outputBytes("RET-PERC-IB-20123456783-200805-200805.txt").substr(0, expected.size()), expected);
}

// A row of a workbook as read back, columns A to L.
std::vector<Cell> rowOf(const ReadBook& book, unsigned row) {
    std::vector<Cell> cells;
    for (unsigned column = 1; column <= 12; ++column) cells.push_back(book.at(row, column));
    return cells;
}

TEST_F(ExportFromWindow, XlsHoldsTheHeaderAndOneRowPerMovement) {
    exportWith("BTN_XLS", "20-12345678-3- Peña Núñez, José María", "200805", "200805");
    const fs::path path = output("RET-PERC-IB-20123456783-200805-200805.XLS");
    const ShownBox done{"Archivo Generado : " + path.string(), MsgIcon::Information, MsgButtons::OK, {}};
    EXPECT_EQ(m_boxes.shown(), std::vector<ShownBox>{done});
    const ReadBook book = readBook(path);
    EXPECT_EQ(book.rows, 3u);
    EXPECT_EQ(rowOf(book, 1), (std::vector<Cell>{"CUIT", "IIB", "TIPO", "DJ_AÑO", "DJ_MES", "RP_FECHA", "FAC_NRO",
                                                 "FAC_MONTO", "RET_PER", "AG_CUIT", "AG_NRO", "AG_RAZON_SOCIAL"}));
    // Texts as texts, numbers exactly as stored.
    EXPECT_EQ(rowOf(book, 2),
              (std::vector<Cell>{"20123456783", "9012345", "R", 2008.0, 5.0, "[2008-05-07]", "0001-00001234", 1234.5,
                                 37.04, "30987654321", "456", "FERRETERÍA CENTRO S A "}));
    EXPECT_EQ(rowOf(book, 3),
              (std::vector<Cell>{"20123456783", "9012345", "P", 2008.0, 5.0, "[2008-05-20]", "0003-00045678", 19.99,
                                 0.07, "30501234567", "901-000123-4", "SUPERMERCADOS DEL OESTE S A "}));
}

TEST_F(ExportFromWindow, XlsRowsFollowTheWalkWithoutGapsAndAbsentValuesStayEmpty) {
    exportWith("BTN_XLS", "30-71234567-1", "200001", "222201");
    const ReadBook operations = readBook(output("RET-PERC-IB-30712345671-200001-222201.XLS"));
    ASSERT_EQ(operations.rows, 5u);
    std::vector<Cell> dates;
    for (unsigned row = 2; row <= 5; ++row) dates.push_back(operations.at(row, 6));
    EXPECT_EQ(dates, (std::vector<Cell>{"[2007-04-04]", "[2007-07-03]", "[2007-08-09]", "[2007-10-03]"}));

    exportWith("BTN_XLS", "20-55555555-6", "200509", "200509");
    EXPECT_EQ(readBook(output("RET-PERC-IB-20555555556-200509-200509.XLS")).at(2, 2), Cell{});
    exportWith("BTN_XLS", "20-12345678-3", "200609", "200609");
    const ReadBook agent = readBook(output("RET-PERC-IB-20123456783-200609-200609.XLS"));
    EXPECT_EQ(agent.at(2, 11), Cell{});
    EXPECT_EQ(agent.at(2, 12), Cell{"ESTACIÓN DE SERVICIO LA POSTA S A "});

    // A range without movements: the header row only.
    exportWith("BTN_XLS", "27-44444444-5", "200001", "222201");
    EXPECT_EQ(readBook(output("RET-PERC-IB-27444444445-200001-222201.XLS")).rows, 1u);
}

TEST_F(ExportFromWindow, XlsErrorInTheWalkShowsBothMessagesAndSavesNothing) {
    const std::string name = "RET-PERC-IB-30666666667-200510-200510.XLS";
    writeBytes(output(name), "kept");
    exportWith("BTN_XLS", "30-66666666-7", "200510", "200510");
    const ShownBox description{"Invalid use of Null", MsgIcon::None, MsgButtons::OK, {}};
    const ShownBox closeIt{
        "Se detectó un error, cierre MS Excel si lo tiene abierto, e intente generar la planilla "
        "nuevamente.",
        MsgIcon::Information,
        MsgButtons::OK,
        {}};
    EXPECT_EQ(m_boxes.shown(), (std::vector<ShownBox>{description, closeIt}));
    EXPECT_EQ(outputBytes(name), "kept");
    EXPECT_EQ(outputFolder(), std::vector<fs::path>{name});
    EXPECT_FALSE(m_window->form().vExcelSheet);

    m_boxes.clear();
    exportWith("BTN_XLS", "20-1234567-8- Fernández, Inés", "200001", "222201");
    EXPECT_EQ(m_boxes.texts(), std::vector<std::string>{"No se pudo encontrar el ID del contribuyente!!!"});
}

}  // namespace
