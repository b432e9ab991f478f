// The main window end to end, offscreen: controls found by their names, message boxes answered by a script. The
// QApplication comes from the window suites' own main (tests/gui/gui_main.cpp).
#include "app/MainWindow.h"
#include "app/QtMessageBoxes.h"
#include "database/Database.h"
#include "support/GatedDatabase.h"
#include "support/ScriptedMessageBoxes.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <set>

namespace fs = std::filesystem;

namespace {

class Window : public ::testing::Test {
protected:
    // The window over the test's folder, loaded as the program loads it, with a copy of `fixture` as its database.
    void open(const char* fixture = nullptr) {
        if (fixture) fs::copy_file(testData(fixture), dir.path() / "Impuest.mdb");
        window = std::make_unique<MainWindow>(dir.str(), &boxes);
        boxes.onShow = [this] {
            EXPECT_EQ(QThread::currentThread(), qApp->thread());
            EXPECT_EQ(window->findChild<QDialog*>("ExportProgress"), nullptr) << "closed before any box";
        };
        window->load();
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }
    template <typename Widget = QWidget>
    Widget* find(const QString& name) const {
        auto* widget = window->findChild<Widget*>(name);
        EXPECT_NE(widget, nullptr) << name.toStdString();
        return widget;
    }
    QLineEdit* box(const char* name) const { return find<QLineEdit>(name); }
    QRadioButton* option(int index) const { return find<QRadioButton>(QStringLiteral("chk_separador_%1").arg(index)); }
    void click(const char* name) { QTest::mouseClick(find<QPushButton>(name), Qt::LeftButton); }
    bool exportEnds() {
        return QTest::qWaitFor([this] { return !window->exporting(); }, 10000);
    }
    // Runs an export command to its end; the window's focus is back on its button after its boxes.
    void exportBy(const char* button) {
        click(button);
        ASSERT_TRUE(exportEnds());
        EXPECT_EQ(window->focusWidget()->objectName().toStdString(), button);
    }
    // The named control holding the focus; the combo's text field holds it on the combo's behalf.
    static std::string focused() {
        QWidget* widget = QApplication::focusWidget();
        while (widget && widget->objectName().isEmpty()) widget = widget->parentWidget();
        return widget ? widget->objectName().toStdString() : "<none>";
    }

    void TearDown() override { gate.let(-1); }

    TempDir dir;
    ScriptedMessageBoxes boxes;
    Gate gate;
    std::unique_ptr<MainWindow> window;
};

TEST_F(Window, EachButtonRunsItsCommandAndSalirClosesTheDatabase) {
    open("data/impuest-cases.mdb");
    EXPECT_TRUE(boxes.shown().empty());
    QComboBox* combo = find<QComboBox>("lst_contribuyentes");
    EXPECT_EQ(combo->itemText(0).toStdString(), "20-11111111-2- ");
    EXPECT_EQ(combo->currentText().toStdString(), "") << "filling the list leaves the text field empty";

    combo->setEditText(QStringLiteral("20-12345678-3- Peña Núñez, José María"));
    click("Command2");
    EXPECT_EQ(box("txt_desde")->text().toStdString() + box("txt_hasta")->text().toStdString(), "200001222201");
    QTest::mouseClick(option(0), Qt::LeftButton);
    const fs::path out = dir.path() / "RET-PERC" / "RET-PERC-IB-20123456783-200001-222201";
    for (const char* button : {"btn_gen_txt_orv", "btn_gen_csv", "BTN_XLS", "btn_gen_txt_orv"}) exportBy(button);
    std::string texts;
    for (const ShownBox& shown : boxes.shown()) texts += shown.text + "\n";
    EXPECT_EQ(texts,
              " Archivo Generado : " + out.string() + ".txt\n Archivo Generado : " + out.string() +
                  ".csv\nArchivo Generado : " + out.string() +
                  ".XLS\n  El archivo ya existe! ... \n\n Desea sobreescribir el archivo?? \n Archivo Generado : " +
                  out.string() + ".txt\n");
    EXPECT_EQ(readBytes(out.string() + ".csv").substr(0, 11), "\"CUIT\",\"IIB");  // option 0's separator

    click("btn_borrar");
    EXPECT_EQ(box("txt_desde")->text().toStdString() + box("txt_hasta")->text().toStdString(), "");
    EXPECT_EQ(combo->currentText().toStdString(), "20-12345678-3- Peña Núñez, José María");
    click("Command3");
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(window->form().Conn || window->form().WS);
}

// An export held back in its movements by a slowed database: the window keeps turning, shows the progress after half
// a second, starts no second export, and Cancelar (or Esc) leaves the old file as it was.
TEST_F(Window, ALongExportShowsItsProgressAndCanBeCancelled) {
    open("data/impuest-cases.mdb");
    window->form().Conn = std::make_unique<GatedDatabase>(std::move(window->form().Conn), gate);
    find<QComboBox>("lst_contribuyentes")->setEditText(QStringLiteral("30-71234567-1"));
    click("Command2");
    struct Paints : QObject {
        int count = 0;
        bool eventFilter(QObject*, QEvent* event) override { return count += event->type() == QEvent::Paint, false; }
    } paints;
    window->installEventFilter(&paints);
    const fs::path out = dir.path() / "RET-PERC" / "RET-PERC-IB-30712345671-200001-222201";
    // Five declarations of the range hold four movements, one each but the second or third: the first row waited at
    // is in the first declaration, the third in the fourth. A workbook's export reads the four first, to count them.
    const struct {
        const char* button;
        const char* extension;
        int rows;
        const char* done;
        bool esc;
    } cases[] = {{"btn_gen_txt_orv", ".txt", 0, "0 de 5", false}, {"BTN_XLS", ".XLS", 4 + 2, "3 de 5", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.button);
        writeBytes(out.string() + c.extension, "kept\r\n");
        boxes.clear();
        gate.let(c.rows);
        click(c.button);
        click(c.button);  // no second export
        paints.count = 0;
        window->update();
        ASSERT_TRUE(QTest::qWaitFor([this] { return window->findChild<QDialog*>("ExportProgress"); }, 5000));
        EXPECT_GT(paints.count, 0);
        auto* progress = window->findChild<QDialog*>("ExportProgress");
        // Not modal: "Salir" and the close control stay at hand.
        EXPECT_TRUE(progress->isVisible() && !progress->isModal());
        EXPECT_EQ(progress->windowTitle().toStdString(), "Generando archivo");
        const auto labels = [&] {
            QString all;
            for (const QLabel* label : progress->findChildren<QLabel*>()) all += label->text() + "|";
            return all.toStdString();
        };
        const std::string shown = std::string("Contribuyente: 30-71234567-1|Declaraciones: ") + c.done +
                                  "|Movimientos escritos: " + std::to_string(c.rows % 4 + 1) + "|";
        EXPECT_TRUE(QTest::qWaitFor([&] { return labels() == shown; }, 2000)) << labels();
        if (c.esc)
            QTest::keyClick(progress, Qt::Key_Escape);
        else
            QTest::mouseClick(find<QPushButton>("btn_cancelar"), Qt::LeftButton);
        gate.let(-1);
        ASSERT_TRUE(exportEnds());
        EXPECT_EQ(boxes.shown().back(), (ShownBox{"Exportación cancelada. No se generó el archivo.",
                                                  MsgIcon::Information, MsgButtons::OK, std::nullopt}));
        EXPECT_EQ(boxes.shown().size(), c.esc ? 1u : 2u);  // the text command asked first
        EXPECT_EQ(readBytes(out.string() + c.extension), "kept\r\n");
        EXPECT_EQ(window->focusWidget()->objectName().toStdString(), c.button);
        EXPECT_FALSE(window->form().vExcelSheet);
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path() / "RET-PERC"), {}), 2);

    // The export reads the range as it was at the click; closing the window lets the export end, with its box, and
    // closes the window then.
    gate.let(0);
    click("btn_gen_txt_orv");
    click("btn_borrar");
    gate.let(-1);
    ASSERT_TRUE(exportEnds());
    EXPECT_EQ(boxes.shown().back().text, " Archivo Generado : " + out.string() + ".txt");
    click("Command2");
    fs::remove(out.string() + ".txt");
    gate.let(0);
    click("btn_gen_txt_orv");
    EXPECT_FALSE(window->close());
    EXPECT_TRUE(window->isVisible());
    gate.let(-1);
    ASSERT_TRUE(exportEnds());
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(boxes.shown().back().text, " Archivo Generado : " + out.string() + ".txt");
    const std::string written = readBytes(out.string() + ".txt");
    EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 4);
}

// "Salir" clicked as an export starts, or while its progress shows: the export goes on with its progress window
// and ends, its box shown (or is stopped by Cancelar, which it still offers), and the program ends then, its
// database closed.
TEST_F(Window, SalirDuringAnExportWaitsForItsEnd) {
    const fs::path out = dir.path() / "RET-PERC" / "RET-PERC-IB-30712345671-200001-222201";
    for (const bool cancel : {false, true}) {
        SCOPED_TRACE(cancel ? "cancelled" : "left to end");
        open(cancel ? nullptr : "data/impuest-cases.mdb");
        window->form().Conn = std::make_unique<GatedDatabase>(std::move(window->form().Conn), gate);
        find<QComboBox>("lst_contribuyentes")->setEditText(QStringLiteral("30-71234567-1"));
        click("Command2");
        boxes.clear();
        gate.let(0);
        click(cancel ? "btn_gen_txt_orv" : "BTN_XLS");
        // Before the progress window shows, or while it shows: it is not modal, and nothing waits on it.
        if (cancel) click("Command3");
        EXPECT_TRUE(window->isVisible());
        ASSERT_TRUE(QTest::qWaitFor([this] { return window->findChild<QDialog*>("ExportProgress"); }, 5000));
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
        if (!cancel) click("Command3");
        EXPECT_TRUE(window->isVisible());
        if (cancel) QTest::mouseClick(find<QPushButton>("btn_cancelar"), Qt::LeftButton);
        gate.let(-1);
        ASSERT_TRUE(exportEnds());
        EXPECT_EQ(boxes.shown().back().text, cancel ? "Exportación cancelada. No se generó el archivo."
                                                    : "Archivo Generado : " + out.string() + ".XLS");
        EXPECT_EQ(fs::exists(out.string() + ".XLS"), true);
        EXPECT_EQ(fs::exists(out.string() + ".txt"), false);
        EXPECT_FALSE(window->isVisible());
        EXPECT_FALSE(window->form().Conn || window->form().WS);
    }
}

TEST_F(Window, ControlsTakeWhatTheProgramExpects) {
    open();
    EXPECT_EQ(boxes.shown(), (std::vector<ShownBox>{{"No se ha podido realizar la conexión al servidor",
                                                     MsgIcon::Information, MsgButtons::OK, "Atención"}}));
    boxes.clear();
    // Six characters in each period box; option 2 chosen at start, one option at a time.
    QTest::keyClicks(box("txt_desde"), "2005011");
    QTest::keyClicks(box("txt_hasta"), "2006129");
    EXPECT_EQ(window->txt_desde() + window->txt_hasta(), "200501200612");
    EXPECT_TRUE(window->chk_separador(2) && !window->chk_separador(1) && !window->chk_separador(0));
    QTest::mouseClick(option(1), Qt::LeftButton);
    QTest::mouseClick(option(1), Qt::LeftButton);
    EXPECT_TRUE(window->chk_separador(1) && !window->chk_separador(2) && !window->chk_separador(0));

    // Enter and Esc start nothing: no button is a default one.
    for (const char* name : {"lst_contribuyentes", "txt_desde", "txt_hasta"}) {
        find(name)->setFocus();
        for (int key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape})
            QTest::keyClick(QApplication::focusWidget(), Qt::Key(key));
    }
    EXPECT_TRUE(boxes.shown().empty());
    EXPECT_EQ(window->txt_desde() + window->txt_hasta(), "200501200612");

    // Tab visits the controls in the program's order, every separator option included, round after round.
    find("lst_contribuyentes")->setFocus();
    const std::vector<std::string> order = {
        "txt_desde",       "txt_hasta", "btn_borrar", "chk_separador_0", "chk_separador_1", "chk_separador_2",
        "btn_gen_txt_orv", "BTN_XLS",   "Command2",   "btn_gen_csv",     "Command3",        "lst_contribuyentes"};
    for (int round = 1; round <= 2; ++round) {
        std::vector<std::string> visited;
        for (std::size_t i = 0; i < order.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            visited.push_back(focused());
        }
        EXPECT_EQ(visited, order) << "round " << round;
    }
    EXPECT_TRUE(window->chk_separador(1));  // passing over the options selects none
}

// A box shows what it is given, in Spanish buttons, centred over its window, and returns the answer clicked.
TEST(QtMessageBoxesTest, ShowsTheBoxAndReturnsTheAnswer) {
    QWidget owner;
    owner.setGeometry(300, 200, 500, 400);
    owner.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&owner));
    QtMessageBoxes boxes(&owner);
    std::set<std::string> buttonTexts;
    bool centred = true;
    // Shows `text` and answers by clicking `press`; returns the answer with what the box showed.
    const auto answer = [&](QMessageBox::StandardButton press, const std::string& text, MsgIcon icon,
                            MsgButtons buttons, const std::optional<std::string>& title) {
        std::string seen;
        QTimer poll;
        poll.setInterval(5);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) return;
            poll.stop();
            seen = box->windowTitle().toStdString() + "|" + box->text().toStdString() + "|" +
                   std::to_string(box->textFormat() == Qt::PlainText) + std::to_string(box->icon()) + "|" +
                   std::to_string(box->standardButtons()) + "|" +
                   std::to_string(box->standardButton(box->defaultButton())) + "|" +
                   std::to_string(box->parentWidget() == &owner);
            for (const QAbstractButton* button : box->buttons()) buttonTexts.insert(button->text().toStdString());
            centred &= (box->frameGeometry().center() - owner.frameGeometry().center()).manhattanLength() < 8;
            box->button(press)->click();
        });
        poll.start();
        const MsgAnswer given = boxes.MsgBox(text, icon, buttons, title);
        return std::to_string(int(given)) + ":" + seen;
    };
    const auto shown = [](MsgAnswer given, const std::string& title, const std::string& text, QMessageBox::Icon icon,
                          QMessageBox::StandardButtons buttons, QMessageBox::StandardButton byDefault) {
        return std::to_string(int(given)) + ":" + title + "|" + text + "|1" + std::to_string(icon) + "|" +
               std::to_string(buttons) + "|" + std::to_string(byDefault) + "|1";
    };
    const auto yesNo = QMessageBox::Yes | QMessageBox::No;
    EXPECT_EQ(answer(QMessageBox::Ok, "Error", MsgIcon::Critical, MsgButtons::OK, {}),
              shown(MsgAnswer::OK, "Velmora", "Error", QMessageBox::Critical, QMessageBox::Ok, QMessageBox::Ok));
    EXPECT_EQ(answer(QMessageBox::No, "¿Sí?", MsgIcon::Question, MsgButtons::YesNo, "Atención"),
              shown(MsgAnswer::No, "Atención", "¿Sí?", QMessageBox::Question, yesNo, QMessageBox::Yes));
    // Markup is shown as typed: paths and database texts may hold "<".
    EXPECT_EQ(answer(QMessageBox::Ok, "<b>a&b</b>", MsgIcon::None, MsgButtons::OK, {}),
              shown(MsgAnswer::OK, "Velmora", "<b>a&b</b>", QMessageBox::NoIcon, QMessageBox::Ok, QMessageBox::Ok));
    EXPECT_EQ(buttonTexts, (std::set<std::string>{"Aceptar", "&Sí", "&No"}));
    EXPECT_TRUE(centred);
}

// Qt's own dialogs speak Spanish too: the file dialog the windows use to choose folders and name reports.
TEST(QtMessageBoxesTest, QtsDialogsSpeakSpanish) {
    QFileDialog dialog(nullptr, QStringLiteral("Guardar informe"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    std::string texts = "|";
    for (const QLabel* label : dialog.findChildren<QLabel*>()) texts += label->text().toStdString() + "|";
    for (const QAbstractButton* button : dialog.findChildren<QAbstractButton*>())
        texts += button->text().toStdString() + "|";
    for (const char* english : {"Look in:", "File &name:", "Files of type:", "&Save", "Cancel", "&Choose"})
        EXPECT_EQ(texts.find("|" + std::string(english) + "|"), std::string::npos) << english << " in " << texts;
    EXPECT_NE(texts.find("&Guardar"), std::string::npos) << texts;
}

}  // namespace
