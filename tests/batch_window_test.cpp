// The window of every taxpayer end to end, offscreen: its table against velmora-export's lines for the same
// options, a run cancelled midway, the checks that keep a run from starting, the table sorted, filtered and saved.
#include "app/AllTaxpayersWindow.h"
#include "support/GatedDatabase.h"
#include "support/ScriptedMessageBoxes.h"
#include "support/TestFiles.h"
#include "support/WorkbookReader.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QTest>

#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace {

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> parts;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part);) parts.push_back(part);
    return parts;
}

class BatchWindow : public ::testing::Test {
protected:
    // The window over `folder` in the test's folder, with a copy of `fixture` as its Impuest.mdb, written long
    // before the window reads it.
    void open(const char* fixture, const std::string& folder = "program") {
        home = dir.path() / folder;
        fs::create_directories(home);
        fs::copy_file(testData(fixture), home / "Impuest.mdb");
        fs::last_write_time(home / "Impuest.mdb", fs::file_time_type::clock::now() - std::chrono::hours(1));
        window = std::make_unique<AllTaxpayersWindow>(home.string(), &boxes);
        window->openFile = [this](const QString& file) { opened = file.toStdString(); };
        window->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
    template <typename Widget = QWidget>
    Widget* find(const char* name) const {
        auto* widget = window->findChild<Widget*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    void click(const char* name) { QTest::mouseClick(find<QPushButton>(name), Qt::LeftButton); }
    void choose(const char* format, bool check) {
        click("btn_todo");
        auto* formats = find<QComboBox>("cmb_formato");
        formats->setCurrentIndex(formats->findText(QString::fromLatin1(format), Qt::MatchStartsWith));
        find<QCheckBox>("chk_verificar")->setChecked(check);
    }
    bool runEnds() {
        return QTest::qWaitFor([this] { return !window->running(); }, 60000);
    }
    // The table as velmora-export prints its lines: each row's reference, movements and result, then its CUIT
    // problems.
    std::string tableAsLines() const {
        std::string text;
        const BatchResultsModel& model = window->results();
        for (std::size_t row = 0; row < model.taxpayers(); ++row) {
            const std::optional<TaxpayerResult>& result = model.result(row);
            if (!result) {
                text += model.taxpayer(row).reference + "\t(none)\n";
                continue;
            }
            text += result->reference + "\t" + std::to_string(result->movements) + "\t" + resultWords(*result) + "\n";
            for (const CuitFinding& f : result->problems)
                text += "check\t" + result->reference + "\t" + (f.agent ? "AG_CUIT" : "CUIT") + "\t" + f.value + "\t" +
                        std::to_string(f.movements) + "\t" + (f.problem == CuitProblem::Form ? "form" : "check digit") +
                        "\n";
        }
        return text;
    }
    // velmora-export's standard output for the same database and options.
    std::string commandLine(const std::vector<std::string>& options) const {
        std::string command =
            std::string(VELMORA_EXPORT) + " --dir '" + home.string() + "' --all --from 200001 --to 222201 --quiet";
        for (const std::string& option : options) command += " '" + option + "'";
        command += " >'" + dir.str() + "/stdout' 2>/dev/null";
        EXPECT_NE(std::system(command.c_str()), -1);
        return readBytes(dir.path() / "stdout");
    }

    TempDir dir;
    fs::path home;
    ScriptedMessageBoxes boxes;
    std::unique_ptr<AllTaxpayersWindow> window;
    std::string opened;
};

// Counting and exporting every taxpayer give the table velmora-export prints for the same options, and the same
// files; a written file opens on a double-click, and the table sorts and filters.
TEST_F(BatchWindow, CountsAndExportsAsTheCommandLine) {
    for (const char* fixture : {"data/impuest-cases.mdb", "../demo/Impuest.mdb"}) {
        SCOPED_TRACE(fixture);
        open(fixture, fs::path(fixture).stem());
        choose("CSV", true);
        find<QComboBox>("cmb_separadores")->setCurrentIndex(2);  // option 0: "," and "."
        click("btn_contar");
        ASSERT_TRUE(runEnds());
        EXPECT_EQ(tableAsLines(), commandLine({"--count", "--check", "--format", "csv", "--dialect", "0"}));
        EXPECT_FALSE(fs::exists(home / "RET-PERC"));

        click("btn_exportar");
        ASSERT_TRUE(runEnds());
        const std::string exported = tableAsLines();
        // The command line writes where the window did, once the window's files are out of the way.
        fs::rename(home / "RET-PERC", home / "window");
        const std::string expected = commandLine({"--check", "--format", "csv", "--dialect", "0"});
        EXPECT_EQ(exported, expected);
        for (const auto& file : fs::directory_iterator(home / "window"))
            EXPECT_EQ(readBytes(file.path()), readBytes(home / "RET-PERC" / file.path().filename()));
        EXPECT_TRUE(boxes.shown().empty());

        auto* table = find<QTableView>("tbl_resultados");
        table->sortByColumn(BatchResultsModel::Movements, Qt::DescendingOrder);
        const QModelIndex top = table->model()->index(0, BatchResultsModel::Movements);
        for (int row = 1; row < table->model()->rowCount(); ++row)
            EXPECT_GE(top.data(BatchResultsModel::SortRole).toLongLong(), table->model()
                                                                              ->index(row, BatchResultsModel::Movements)
                                                                              .data(BatchResultsModel::SortRole)
                                                                              .toLongLong());
        const QPoint cell = table->visualRect(top).center();
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell);
        QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, cell);
        EXPECT_EQ(opened, top.data(BatchResultsModel::WrittenFileRole).toString().toStdString());
        // Names sort in the list's order, which is Jet's order of text ("Águila" among the A's).
        table->sortByColumn(BatchResultsModel::Name, Qt::AscendingOrder);
        const auto* sorted = qobject_cast<const QSortFilterProxyModel*>(table->model());
        for (int row = 0; row < sorted->rowCount(); ++row)
            EXPECT_EQ(sorted->mapToSource(sorted->index(row, 0)).row(), row);
        table->sortByColumn(BatchResultsModel::Movements, Qt::DescendingOrder);
        // Only the taxpayers that failed, were not found or have a CUIT problem.
        find<QCheckBox>("chk_problemas")->setChecked(true);
        std::set<std::string> problems;
        for (const std::string& line : lines(expected)) {
            const std::size_t tab = line.find('\t');
            if (line.rfind("check\t", 0) == 0)
                problems.insert(line.substr(6, line.find('\t', 6) - 6));
            else if (line.find("\terror: ") != std::string::npos || line.find("\tnot found") != std::string::npos)
                problems.insert(line.substr(0, tab));
        }
        EXPECT_FALSE(problems.empty());
        EXPECT_EQ(std::size_t(table->model()->rowCount()), problems.size());
        window.reset();
    }
}

// A reference two taxpayers share is named in the table (the lookup exports the first the database holds, for
// both); an output folder named relatively is in the working folder.
TEST_F(BatchWindow, SharedReferencesAndARelativeFolder) {
    open("data/edited-twins.mdb");
    choose("TXT", false);
    find<QLineEdit>("txt_carpeta")->setText(QStringLiteral("salida"));
    click("btn_exportar");
    ASSERT_TRUE(runEnds());
    const BatchResultsModel& model = window->results();
    std::string names;
    for (std::size_t row = 0; row < model.taxpayers(); ++row)
        names += model.index(int(row), BatchResultsModel::Name).data().toString().toStdString() + "\n";
    EXPECT_NE(names.find(" es de 2 contribuyentes ("), std::string::npos) << names;
    EXPECT_TRUE(fs::is_directory(home / "salida"));
    EXPECT_FALSE(fs::is_empty(home / "salida"));
}

// Cancelar during a run: the taxpayer under way leaves no file, those done keep theirs, and the table says which.
TEST_F(BatchWindow, ACancelledRunKeepsTheFilesDone) {
    open("../demo/Impuest.mdb");
    Gate gate;
    window->createWorkspace = [&gate] { return std::make_unique<GatedWorkspace>(gate); };
    choose("TXT", false);
    gate.let(600);  // the first taxpayer's 497 movements, and some of the second's
    click("btn_exportar");
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->results().result(0).has_value(); }, 10000));
    click("btn_cancelar");
    gate.let(-1);
    ASSERT_TRUE(runEnds());
    const BatchResultsModel& model = window->results();
    EXPECT_EQ(model.result(0)->outcome, BatchOutcome::Written);
    ASSERT_TRUE(model.result(1));
    EXPECT_EQ(model.result(1)->outcome, BatchOutcome::Cancelled);
    EXPECT_EQ(model.resultText(1).toStdString(), "Cancelado: no se generó el archivo");
    EXPECT_FALSE(model.result(2));
    EXPECT_EQ(model.resultText(2).toStdString(), "No se exportó");
    std::vector<std::string> files;
    for (const auto& file : fs::directory_iterator(home / "RET-PERC")) files.push_back(file.path().string());
    EXPECT_EQ(files, std::vector<std::string>{model.result(0)->detail});
}

// What keeps a run from starting, with the main window's messages: a range refused, an output folder that cannot
// be made or is a file; and the report, saved as CSV and as a workbook and read back.
TEST_F(BatchWindow, RefusalsAndTheReport) {
    open("data/impuest-cases.mdb");
    find<QLineEdit>("txt_desde")->setText(QStringLiteral("200013"));
    find<QLineEdit>("txt_hasta")->setText(QStringLiteral("222201"));
    click("btn_exportar");
    EXPECT_FALSE(window->running());
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(boxes.shown()[0].text, "El MES del anticipo DESDE debe estar entre 01 y 12 !! ");

    boxes.clear();
    writeBytes(dir.path() / "file", "");
    find<QLineEdit>("txt_carpeta")->setText(QString::fromStdString(dir.str() + "/file/out"));
    choose("TXT", false);
    click("btn_exportar");
    EXPECT_FALSE(window->running());
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(boxes.shown()[0].text.rfind("Error : " + dir.str() + "/file/out-", 0), 0u) << boxes.shown()[0].text;
    EXPECT_EQ(window->results().taxpayers(), 0u);

    boxes.clear();
    find<QLineEdit>("txt_carpeta")->setText(QString::fromStdString(dir.str() + "/file"));
    click("btn_exportar");
    EXPECT_FALSE(window->running());
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(boxes.shown()[0].text,
              "La carpeta de salida " + dir.str() + "/file no es una carpeta: es un archivo. Indique otra carpeta.");

    boxes.clear();
    find<QLineEdit>("txt_carpeta")->setText(QString::fromStdString(dir.str() + "/out"));
    click("btn_exportar");
    ASSERT_TRUE(runEnds());
    const std::size_t rows = window->results().taxpayers();
    for (const char* name : {"informe.csv", "informe.xlsx"}) {
        SCOPED_TRACE(name);
        const fs::path report = dir.path() / name;
        window->askReportPath = [&](const QString&) { return QString::fromStdString(report.string()); };
        click("btn_informe");
        EXPECT_EQ(boxes.shown().back().text, "Informe guardado : " + report.string());
        if (report.extension() == ".csv") {
            const std::vector<std::string> read = lines(readBytes(report));
            ASSERT_EQ(read.size(), 9 + rows);
            EXPECT_EQ(read[0], "\"Exportaci\xF3n de todos los contribuyentes\"\r");
            EXPECT_EQ(read[1], "\"Rango\";\"200001\";\"222201\"\r");
            EXPECT_EQ(read[2], "\"Formato\";\"TXT para O.R.V.\"\r");
            EXPECT_EQ(read[3].rfind("\"Opciones\";\"reemplazar los archivos existentes: no \xB7 verificar CUIT: no", 0),
                      0u);
            EXPECT_EQ(read[5], "\"Filas\";\"todos los contribuyentes, en el orden de la tabla\"\r");
            EXPECT_EQ(read[6].rfind("\"Totales\";\"Archivos generados: 10 \xB7 sin movimientos: 1 \xB7", 0), 0u)
                << read[6];
            EXPECT_EQ(read[8], "\"Contribuyente\";\"Nombre\";\"Movimientos\";\"Resultado\";\"CUIT\"\r");
            EXPECT_EQ(read[9].substr(0, 28), "\"20-11111111-2\";\"\";1;\"Archiv");
        } else {
            const ReadBook book = readXlsx(report);
            EXPECT_EQ(book.rows, 9 + rows);
            EXPECT_EQ(book.at(2, 2), Cell{"200001"});
            EXPECT_EQ(book.at(10, 1), Cell{"20-11111111-2"});
            EXPECT_EQ(book.at(10, 3), Cell{1.0});
        }
    }
}

}  // namespace
