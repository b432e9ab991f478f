// The main window end to end, offscreen: controls found by their names, message boxes answered by a script.
// The QApplication comes from the GUI suites' own main (tests/gui/gui_main.cpp).
#include "app/MainWindow.h"
#include "app/QtMessageBoxes.h"
#include "support/ScriptedMessageBoxes.h"
#include "support/TestFiles.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <vector>

namespace {

std::string caption(const QWidget* widget) {
    if (auto* button = qobject_cast<const QAbstractButton*>(widget)) return button->text().toStdString();
    if (auto* label = qobject_cast<const QLabel*>(widget)) return label->text().toStdString();
    if (auto* frame = qobject_cast<const QGroupBox*>(widget)) return frame->title().toStdString();
    if (auto* edit = qobject_cast<const QLineEdit*>(widget)) return edit->text().toStdString();
    if (auto* combo = qobject_cast<const QComboBox*>(widget)) return combo->currentText().toStdString();
    return "<no caption>";
}

class WindowTest : public ::testing::Test {
protected:
    // A window over `folder`, loaded as the program loads it.
    void open(const std::string& folder) {
        window = std::make_unique<MainWindow>(folder, &messages);
        window->load();
    }
    // A window over a folder holding a copy of `fixture` as the program's database.
    void openWithDatabase(const std::string& fixture) {
        std::filesystem::copy_file(shared("fixtures/" + fixture), dir.path() / "Impuest.mdb");
        open(dir.str());
    }
    void showActive() {
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }

    template <typename Widget = QWidget>
    Widget* find(const char* name) const {
        auto* widget = window->findChild<Widget*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    QComboBox* combo() const { return find<QComboBox>("lst_contribuyentes"); }
    QLineEdit* desde() const { return find<QLineEdit>("txt_desde"); }
    QLineEdit* hasta() const { return find<QLineEdit>("txt_hasta"); }
    QRadioButton* option(int index) const {
        return find<QRadioButton>(QStringLiteral("chk_separador_%1").arg(index).toLatin1().constData());
    }
    // The named control holding the focus; the combo's text field holds it on the combo's behalf.
    static std::string focusedControl() {
        QWidget* focused = QApplication::focusWidget();
        while (focused && focused->objectName().isEmpty()) focused = focused->parentWidget();
        return focused ? focused->objectName().toStdString() : "<none>";
    }
    void click(const char* name) { QTest::mouseClick(find<QAbstractButton>(name), Qt::LeftButton); }

    TempDir dir;
    ScriptedMessageBoxes messages;
    std::unique_ptr<MainWindow> window;
};

const ShownBox kNoConnection{"No se ha podido realizar la conexión al servidor", MsgIcon::Information, MsgButtons::OK,
                             "Atención"};

TEST_F(WindowTest, CaptionsAndTooltips) {
    open(dir.str());
    EXPECT_EQ(window->windowTitle().toStdString(), "O.R.V. - Velmora");

    struct Case {
        const char* control;
        std::string caption;
    };
    const std::vector<Case> cases = {
        {"Frame1", "Seleccione el Contribuyente"},
        {"Frame4", "Anticipos  - Utilice el siguiente formato :  aaaamm   (Ej: 200501)"},
        {"Label3", "Desde"},
        {"Label5", "Hasta"},
        {"Command2", "Todo"},
        {"btn_borrar", "Borrar"},
        {"Label13", "Generar Archivos  de Retenciones y Percepciones "},
        {"Label14", "Configuración archivo CSV"},
        {"Label4", "Separador de Campo"},
        {"Label6", "Separador Decimal"},
        {"Label7", ";"},
        {"Label8", ","},
        {"Label10", ";"},
        {"Label11", "."},
        {"Label9", ","},
        {"Label12", "."},
        {"chk_separador_0", ""},
        {"chk_separador_1", ""},
        {"chk_separador_2", ""},
        {"BTN_XLS", "  .XLS  Excel"},
        {"btn_gen_csv", " .CSV Excel"},
        {"btn_gen_txt_orv", " .TXT para O.R.V."},
        {"Command3", "Salir"},
        {"Frame2", ""},
        {"Frame5", ""},
        {"lst_contribuyentes", ""},
        {"txt_desde", ""},
        {"txt_hasta", ""},
    };
    for (const Case& c : cases) {
        if (const QWidget* widget = find(c.control)) {
            EXPECT_EQ(caption(widget), c.caption) << c.control;
        }
    }
    EXPECT_EQ(caption(find("Label1")).rfind("Velmora ", 0), 0u) << caption(find("Label1"));
    EXPECT_FALSE(caption(find("Label2")).empty());

    EXPECT_EQ(combo()->toolTip().toStdString(),
              "Seleccione el contribuyente al cual desea generar las Percepciones y Retenciones");
    EXPECT_EQ(desde()->toolTip().toStdString(), "Ingrese el anticipo DESDE a generar");
    EXPECT_EQ(hasta()->toolTip().toStdString(), "Ingrese el anticipo HASTA a generar");

    // No default button, and no access key (Qt would make one of a "&" in a caption).
    for (QPushButton* button : window->findChildren<QPushButton*>()) {
        EXPECT_FALSE(button->isDefault()) << button->objectName().toStdString();
        EXPECT_FALSE(button->autoDefault()) << button->objectName().toStdString();
        EXPECT_FALSE(button->text().contains(u'&')) << button->objectName().toStdString();
    }
}

TEST_F(WindowTest, TabFromTheComboVisitsTheControlsInOrder) {
    open(dir.str());
    showActive();
    ASSERT_EQ(QApplication::focusWidget(), combo()) << "the combo has the focus when the window is first shown";

    const std::vector<std::string> expected = {
        "txt_desde",       "txt_hasta", "btn_borrar", "chk_separador_0", "chk_separador_1", "chk_separador_2",
        "btn_gen_txt_orv", "BTN_XLS",   "Command2",   "btn_gen_csv",     "Command3",        "lst_contribuyentes",
    };
    // Qt would let Tab into one option of an exclusive group only, once an option has had the focus: the second
    // round checks that all three stay reachable.
    for (int round = 1; round <= 2; ++round) {
        std::vector<std::string> visited;
        for (std::size_t i = 0; i < expected.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            visited.push_back(focusedControl());
        }
        EXPECT_EQ(visited, expected) << "round " << round;
    }
    // Passing over the options selects none of them.
    EXPECT_TRUE(option(2)->isChecked());

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    EXPECT_EQ(focusedControl(), "Command3");
}

TEST_F(WindowTest, PeriodBoxesTakeSixCharacters) {
    open(dir.str());
    QTest::keyClicks(desde(), "2005011");
    QTest::keyClicks(hasta(), "2006129");
    EXPECT_EQ(desde()->text().toStdString(), "200501");
    EXPECT_EQ(hasta()->text().toStdString(), "200612");
    EXPECT_EQ(window->txt_desde(), "200501");
    EXPECT_EQ(window->txt_hasta(), "200612");
}

TEST_F(WindowTest, TodoFillsAndBorrarEmptiesOnlyThePeriods) {
    open(dir.str());
    combo()->setEditText(QStringLiteral("30-71234567-1"));
    QTest::mouseClick(option(0), Qt::LeftButton);
    QTest::keyClicks(desde(), "2005");

    click("Command2");
    EXPECT_EQ(desde()->text().toStdString(), "200001");
    EXPECT_EQ(hasta()->text().toStdString(), "222201");
    EXPECT_EQ(window->lst_contribuyentes_Text(), "30-71234567-1");
    EXPECT_TRUE(window->chk_separador(0));

    click("btn_borrar");
    EXPECT_EQ(desde()->text().toStdString(), "");
    EXPECT_EQ(hasta()->text().toStdString(), "");
    EXPECT_EQ(window->lst_contribuyentes_Text(), "30-71234567-1");
    EXPECT_TRUE(window->chk_separador(0));
    EXPECT_EQ(messages.shown().size(), 1u);  // the connection message of load() only
}

TEST_F(WindowTest, OneSeparatorOptionSelected) {
    open(dir.str());
    EXPECT_FALSE(window->chk_separador(0));
    EXPECT_FALSE(window->chk_separador(1));
    EXPECT_TRUE(window->chk_separador(2));

    QTest::mouseClick(option(1), Qt::LeftButton);
    EXPECT_FALSE(window->chk_separador(0));
    EXPECT_TRUE(window->chk_separador(1));
    EXPECT_FALSE(window->chk_separador(2));

    // A second click on the selected option keeps it selected.
    QTest::mouseClick(option(1), Qt::LeftButton);
    EXPECT_TRUE(window->chk_separador(1));

    QTest::mouseClick(option(0), Qt::LeftButton);
    EXPECT_TRUE(window->chk_separador(0));
    EXPECT_FALSE(window->chk_separador(1));
    EXPECT_FALSE(window->chk_separador(2));
}

TEST_F(WindowTest, WithoutDatabaseTheListIsEmptyAndSalirCloses) {
    open(dir.str());
    EXPECT_EQ(messages.shown(), std::vector<ShownBox>{kNoConnection});
    EXPECT_EQ(combo()->count(), 0);
    EXPECT_TRUE(std::filesystem::is_directory(dir.path() / "RET-PERC"));
    EXPECT_EQ(window->form().Conn, nullptr);

    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    click("Command3");
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(messages.shown().size(), 1u);
}

TEST_F(WindowTest, WithDatabaseTheListFillsAndSalirClosesIt) {
    openWithDatabase("impuest-cases.mdb");
    EXPECT_EQ(messages.texts(), std::vector<std::string>{});
    std::vector<std::string> entries;
    for (int i = 0; i < combo()->count(); ++i) entries.push_back(combo()->itemText(i).toStdString());
    EXPECT_NE(std::find(entries.begin(), entries.end(), "20-12345678-3- Peña Núñez, José María"), entries.end());
    EXPECT_EQ(window->lst_contribuyentes_Text(), "") << "filling the list leaves the text field empty";
    ASSERT_NE(window->form().Conn, nullptr);

    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    click("Command3");
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(window->form().Conn, nullptr);
    EXPECT_EQ(window->form().WS, nullptr);
    EXPECT_EQ(messages.texts(), std::vector<std::string>{});
}

TEST_F(WindowTest, EnterAndEscapeStartNothing) {
    open(dir.str());
    messages.clear();
    showActive();
    combo()->setEditText(QStringLiteral("20-12345678-3"));
    QTest::keyClicks(desde(), "2005");
    QTest::keyClicks(hasta(), "2006");

    // An export would complain about the range, "Todo" or "Borrar" would change the periods.
    for (QWidget* box :
         {static_cast<QWidget*>(combo()), static_cast<QWidget*>(desde()), static_cast<QWidget*>(hasta())}) {
        box->setFocus();
        QWidget* target = QApplication::focusWidget();
        ASSERT_NE(target, nullptr);
        QTest::keyClick(target, Qt::Key_Return);
        QTest::keyClick(target, Qt::Key_Enter);
        QTest::keyClick(target, Qt::Key_Escape);
    }
    EXPECT_EQ(messages.texts(), std::vector<std::string>{});
    EXPECT_EQ(window->txt_desde(), "2005");
    EXPECT_EQ(window->txt_hasta(), "2006");
    EXPECT_EQ(window->lst_contribuyentes_Text(), "20-12345678-3");
    EXPECT_TRUE(window->isVisible());
}

// What a QMessageBox showed, recorded from inside its own event loop before it was answered.
struct QtBox {
    std::string title;
    std::string text;
    Qt::TextFormat format = Qt::AutoText;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
    QWidget* parent = nullptr;
};

// Shows one box through QtMessageBoxes and answers it by clicking `press`.
MsgAnswer showAndAnswer(QtMessageBoxes& boxes, QtBox& seen, QMessageBox::StandardButton press, const std::string& text,
                        MsgIcon icon, MsgButtons buttons, const std::optional<std::string>& title) {
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        poll.stop();
        seen = {box->windowTitle().toStdString(),
                box->text().toStdString(),
                box->textFormat(),
                box->icon(),
                box->standardButtons(),
                box->standardButton(box->defaultButton()),
                box->parentWidget()};
        box->button(press)->click();
    });
    poll.start();
    return boxes.MsgBox(text, icon, buttons, title);
}

TEST(QtMessageBoxesTest, ShowsTheBoxAndReturnsTheAnswer) {
    QWidget owner;
    QtMessageBoxes boxes(&owner);
    struct Case {
        const char* name;
        std::string text;
        MsgIcon icon;
        MsgButtons buttons;
        std::optional<std::string> title;
        QMessageBox::StandardButton press;
        MsgAnswer answer;
        std::string shownTitle;
        QMessageBox::Icon shownIcon;
        QMessageBox::StandardButtons shownButtons;
        QMessageBox::StandardButton shownDefault;
    };
    const std::vector<Case> cases = {
        {"critical without title", "Error : FORM_LOAD -x", MsgIcon::Critical, MsgButtons::OK, std::nullopt,
         QMessageBox::Ok, MsgAnswer::OK, "Velmora", QMessageBox::Critical, QMessageBox::Ok, QMessageBox::Ok},
        {"information with title", "No se ha podido realizar la conexión al servidor", MsgIcon::Information,
         MsgButtons::OK, "Atención", QMessageBox::Ok, MsgAnswer::OK, "Atención", QMessageBox::Information,
         QMessageBox::Ok, QMessageBox::Ok},
        {"question answered yes", "¿Desea reemplazarlo?", MsgIcon::Question, MsgButtons::YesNo, std::nullopt,
         QMessageBox::Yes, MsgAnswer::Yes, "Velmora", QMessageBox::Question, QMessageBox::Yes | QMessageBox::No,
         QMessageBox::Yes},
        {"question answered no", "¿Desea reemplazarlo?", MsgIcon::Question, MsgButtons::YesNo, "Atención",
         QMessageBox::No, MsgAnswer::No, "Atención", QMessageBox::Question, QMessageBox::Yes | QMessageBox::No,
         QMessageBox::Yes},
        {"no icon, markup shown as typed", "<b>/tmp/a&b.csv</b>", MsgIcon::None, MsgButtons::OK, std::nullopt,
         QMessageBox::Ok, MsgAnswer::OK, "Velmora", QMessageBox::NoIcon, QMessageBox::Ok, QMessageBox::Ok},
    };
    for (const Case& c : cases) {
        QtBox seen;
        EXPECT_EQ(showAndAnswer(boxes, seen, c.press, c.text, c.icon, c.buttons, c.title), c.answer) << c.name;
        EXPECT_EQ(seen.title, c.shownTitle) << c.name;
        EXPECT_EQ(seen.text, c.text) << c.name;
        EXPECT_EQ(seen.format, Qt::PlainText) << c.name;
        EXPECT_EQ(seen.icon, c.shownIcon) << c.name;
        EXPECT_EQ(seen.buttons, c.shownButtons) << c.name;
        EXPECT_EQ(seen.defaultButton, c.shownDefault) << c.name;
        EXPECT_EQ(seen.parent, &owner) << c.name;
    }
}

}  // namespace
