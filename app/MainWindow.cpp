#include "app/MainWindow.h"

#include "app/ExportProgressDialog.h"
#include "app/QtMessageBoxes.h"
#include "export/ExportCommands.h"
#include "export/StartUp.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <utility>

namespace {

// project(VERSION) of the top CMakeLists.txt, passed on by app/CMakeLists.txt.
constexpr const char* kVersion = VELMORA_VERSION;
constexpr const char* kAgency = "Dirección General de Rentas";

// The layout was drawn in twips at 96 dpi.
constexpr int kTwipsPerPixel = 15;

// An export that has run this long shows its progress window; a shorter one shows none.
constexpr int kProgressDelayMs = 500;

void place(QWidget* widget, int left, int top, int width, int height) {
    widget->setGeometry(left / kTwipsPerPixel, top / kTwipsPerPixel, width / kTwipsPerPixel, height / kTwipsPerPixel);
}

template <typename Widget>
Widget* make(QWidget* parent, const char* name) {
    auto* widget = new Widget(parent);
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

// The installed family called `family`. A family that several foundries provide is listed once per foundry, as
// "Name [foundry]"; any of them serves. Empty when none is installed.
QString installedFamily(const QString& family) {
    for (const QString& name : QFontDatabase::families()) {
        if (name == family || name.startsWith(family + QStringLiteral(" ["))) return name;
    }
    return {};
}

bool installed(const QString& family) { return !installedFamily(family).isEmpty(); }

// The first installed face of `families` at the given size; the application's face when none is installed. The
// family is always set explicitly: a control inside a frame would otherwise take the frame's face.
QFont pickFont(const QStringList& families, qreal points, bool bold = false) {
    QFont font;
    font.setFamily(QApplication::font().family());
    for (const QString& family : families) {
        if (const QString name = installedFamily(family); !name.isEmpty()) {
            font.setFamily(name);
            break;
        }
    }
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

QFont serifFont(qreal points) {
    return pickFont({"Georgia", "Gelasio", "DejaVu Serif", "Liberation Serif", "Serif"}, points);
}

QFont textBoxFont() {
    return pickFont({"MS Sans Serif", "Microsoft Sans Serif", "Liberation Sans", "DejaVu Sans"}, 9.75);
}

// The headings are set in a heavy condensed display face; without it a bold condensed sans keeps their weight, and
// fitCaptions keeps them within their width.
QFont displayFont() {
    if (installed("Haettenschweiler")) return pickFont({"Haettenschweiler"}, 14.25);
    return pickFont({"Impact", "DejaVu Sans Condensed", "Liberation Sans Narrow", "Nimbus Sans Narrow"}, 14.25, true);
}

QFont narrowFont(qreal points) {
    if (installed("Arial Narrow")) return pickFont({"Arial Narrow"}, points);
    return pickFont({"Liberation Sans Narrow", "Nimbus Sans Narrow", "DejaVu Sans Condensed"}, points);
}

void setColour(QWidget* widget, QPalette::ColorRole role, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(role, colour);
    widget->setPalette(palette);
}

void fill(QWidget* widget, const QColor& colour) {
    setColour(widget, QPalette::Window, colour);
    widget->setAutoFillBackground(true);
}

QFrame* makeShape(QWidget* parent, const char* name, const QColor& fillColour) {
    auto* shape = make<QFrame>(parent, name);
    shape->setFrameShape(QFrame::NoFrame);
    fill(shape, fillColour);
    return shape;
}

QFrame* makeLine(QWidget* parent, const char* name, QFrame::Shape direction, const QColor& colour) {
    auto* line = make<QFrame>(parent, name);
    line->setFrameShape(direction);
    line->setFrameShadow(QFrame::Plain);
    line->setLineWidth(1);
    setColour(line, QPalette::WindowText, colour);
    return line;
}

QLabel* makeLabel(QWidget* parent, const char* name, const QString& caption, const QFont& font,
                  Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter) {
    auto* label = make<QLabel>(parent, name);
    label->setText(caption);
    label->setTextFormat(Qt::PlainText);
    label->setFont(font);
    label->setAlignment(alignment);
    return label;
}

// A command starts only by a click or by Space on the focused button: never as a default button, never by Enter.
QPushButton* makeButton(QWidget* parent, const char* name, const QString& caption, const QFont& font) {
    auto* button = make<QPushButton>(parent, name);
    button->setText(caption);
    button->setFont(font);
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

QGroupBox* makeFrame(QWidget* parent, const char* name, const QString& caption, const QFont& font) {
    auto* frame = make<QGroupBox>(parent, name);
    frame->setTitle(caption);
    frame->setFont(font);
    return frame;
}

const QColor kGridGrey(128, 128, 128);

// The captions are sized for the faces named above; a wider face standing in for one of them would clip its
// caption, so the caption's size comes down until it fits its control.
void shrinkToFit(QWidget* control, const QString& caption, int padding) {
    QFont font = control->font();
    const int room = control->width() - padding;
    while (font.pointSizeF() > 6 && QFontMetrics(font).horizontalAdvance(caption) > room)
        font.setPointSizeF(font.pointSizeF() - 0.25);
    if (font != control->font()) control->setFont(font);
}

// Qt lets Tab reach only one option of an exclusive group: each option taking the focus strips Tab focus from
// the others. Our tab order visits every option, so the stripped policy is put back once Qt has applied it.
class SeparatorOption : public QRadioButton {
public:
    using QRadioButton::QRadioButton;

protected:
    void focusInEvent(QFocusEvent* event) override {
        QRadioButton::focusInEvent(event);
        if (QButtonGroup* options = group()) {
            for (QAbstractButton* option : options->buttons()) option->setFocusPolicy(Qt::StrongFocus);
        }
    }
};

}  // namespace

// The boxes of an export, which the relay brings to the window's thread: the window shows them.
class MainWindow::ExportBoxes final : public MessageBoxes {
public:
    explicit ExportBoxes(MainWindow& window) : m_window(window) {}

    MsgAnswer MsgBox(const std::string& text, MsgIcon icon, MsgButtons buttons,
                     const std::optional<std::string>& title) override {
        return m_window.showExportBox(text, icon, buttons, title);
    }

private:
    MainWindow& m_window;
};

MainWindow::MainWindow(std::string appPath, MessageBoxes* messages)
    : m_ownMessages(messages ? nullptr : std::make_unique<QtMessageBoxes>(this)),
      m_messages(messages ? *messages : *m_ownMessages),
      m_form(*this, m_messages, std::move(appPath)),
      m_exportBoxes(std::make_unique<ExportBoxes>(*this)),
      m_progressDelay(new QTimer(this)) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("O.R.V. - Velmora"));
    setFixedSize(438, 409);
    // In the middle of the screen, where its start-up boxes show before it.
    centerOver(*this, nullptr);
    // Controls without a font of their own use the window's, as "Todo", "Borrar" and the column headings do.
    setFont(pickFont({"MS Sans Serif", "Microsoft Sans Serif"}, 8.25));

    // Siblings are painted in creation order: each band is created before the labels drawn over it.
    buildTitleBand();
    buildTaxpayerFrame();
    buildPeriodFrame();
    buildCsvFrame();
    buildExportFrame();
    arrangeTabOrder();
    fitCaptions();

    connect(btn_gen_txt_orv, &QPushButton::clicked, this, &MainWindow::btn_gen_txt_orv_Click);
    connect(btn_gen_csv, &QPushButton::clicked, this, &MainWindow::btn_gen_csv_Click);
    connect(BTN_XLS, &QPushButton::clicked, this, &MainWindow::BTN_XLS_Click);
    connect(Command2, &QPushButton::clicked, this, &MainWindow::Command2_Click);
    connect(btn_borrar, &QPushButton::clicked, this, &MainWindow::btn_borrar_Click);
    connect(Command3, &QPushButton::clicked, this, &MainWindow::Command3_Click);

    m_progressDelay->setSingleShot(true);
    m_progressDelay->setInterval(kProgressDelayMs);
    connect(m_progressDelay, &QTimer::timeout, this, &MainWindow::showProgress);

    lst_contribuyentes->setFocus();
}

MainWindow::~MainWindow() {
    // A window destroyed during an export, rather than closed, stops it, lets its boxes go unseen and waits for it.
    closeProgress();
    m_export.reset();
}

void MainWindow::buildTitleBand() {
    place(makeShape(this, "Shape2", QColor(192, 255, 192)), 120, 45, 6375, 735);

    QFont emblemFont;
    QString emblem;
    if (installed("Wingdings")) {
        emblemFont = pickFont({"Wingdings"}, 36, true);
        emblem = QStringLiteral("=");
    } else {
        emblemFont = pickFont({}, 27, true);
        const QFontMetrics metrics(emblemFont);
        emblem = metrics.inFontUcs4(U'\u2709') ? QStringLiteral("\u2709") : QStringLiteral("\u00a7");
    }
    place(makeLabel(this, "Label15", emblem, emblemFont, Qt::AlignCenter), 180, 45, 720, 735);

    place(makeLabel(this, "Label1", QStringLiteral("Velmora ") + QString::fromLatin1(kVersion), displayFont()), 960, 60,
          5475, 405);

    place(makeLine(this, "Line1", QFrame::HLine, QColor(0, 0, 0)), 960, 465, 5475, 15);

    place(makeLabel(this, "Label2", QString::fromUtf8(kAgency), serifFont(8.25)), 960, 480, 5475, 270);
}

void MainWindow::buildTaxpayerFrame() {
    auto* Frame1 = makeFrame(this, "Frame1", QStringLiteral("Seleccione el Contribuyente"), serifFont(9.75));
    place(Frame1, 120, 840, 6375, 870);

    lst_contribuyentes = make<QComboBox>(Frame1, "lst_contribuyentes");
    lst_contribuyentes->setEditable(true);
    // The text field takes what is typed as typed: no inline completion, no new entries, and Enter does not
    // replace the text by a list entry that matches it.
    lst_contribuyentes->setCompleter(nullptr);
    lst_contribuyentes->setInsertPolicy(QComboBox::NoInsert);
    lst_contribuyentes->setDuplicatesEnabled(true);
    lst_contribuyentes->setFont(textBoxFont());
    lst_contribuyentes->setToolTip(
        QStringLiteral("Seleccione el contribuyente al cual desea generar las Percepciones y Retenciones"));
    place(lst_contribuyentes, 240, 360, 6015, 330);
}

void MainWindow::buildPeriodFrame() {
    auto* Frame4 =
        makeFrame(this, "Frame4", QStringLiteral("Anticipos  - Utilice el siguiente formato :  aaaamm   (Ej: 200501)"),
                  serifFont(9.75));
    place(Frame4, 120, 1800, 6375, 1020);

    place(makeLabel(Frame4, "Label3", QStringLiteral("Desde"), serifFont(9.75)), 240, 420, 690, 330);

    m_txt_desde = make<QLineEdit>(Frame4, "txt_desde");
    m_txt_desde->setMaxLength(6);
    m_txt_desde->setFont(textBoxFont());
    m_txt_desde->setToolTip(QStringLiteral("Ingrese el anticipo DESDE a generar"));
    place(m_txt_desde, 945, 420, 1200, 330);

    place(makeLabel(Frame4, "Label5", QStringLiteral("Hasta"), serifFont(9.75)), 2340, 420, 690, 330);

    m_txt_hasta = make<QLineEdit>(Frame4, "txt_hasta");
    m_txt_hasta->setMaxLength(6);
    m_txt_hasta->setFont(textBoxFont());
    m_txt_hasta->setToolTip(QStringLiteral("Ingrese el anticipo HASTA a generar"));
    place(m_txt_hasta, 3045, 420, 1200, 330);

    Command2 = makeButton(Frame4, "Command2", QStringLiteral("Todo"), font());
    place(Command2, 4440, 405, 855, 360);

    btn_borrar = makeButton(Frame4, "btn_borrar", QStringLiteral("Borrar"), font());
    place(btn_borrar, 5385, 405, 855, 360);
}

void MainWindow::buildCsvFrame() {
    place(makeShape(this, "Shape3", QColor(224, 224, 224)), 135, 2940, 6345, 525);

    auto* Label13 = makeLabel(this, "Label13", QStringLiteral("Generar Archivos  de Retenciones y Percepciones "),
                              displayFont(), Qt::AlignCenter);
    setColour(Label13, QPalette::WindowText, QColor(64, 64, 64));
    place(Label13, 240, 2970, 6135, 465);

    auto* Frame2 = makeFrame(this, "Frame2", QString(), font());
    place(Frame2, 120, 3480, 2655, 2535);

    auto* Label14 =
        makeLabel(Frame2, "Label14", QStringLiteral("Configuración archivo CSV"), narrowFont(8.25), Qt::AlignCenter);
    fill(Label14, QColor(255, 192, 128));
    place(Label14, 120, 150, 2415, 270);

    // The grid: a heading row of 495 twips, then three rows of 480; columns of 495, 960 and 960 twips.
    constexpr int gridLeft = 120, gridTop = 480, gridWidth = 2415, gridHeight = 1935;
    constexpr int optionColumn = 495, columnWidth = 960, headingRow = 495, rowHeight = 480;
    constexpr int fieldLeft = gridLeft + optionColumn, decimalLeft = fieldLeft + columnWidth;

    auto* Shape1 = make<QFrame>(Frame2, "Shape1");
    Shape1->setFrameShape(QFrame::Box);
    Shape1->setFrameShadow(QFrame::Plain);
    Shape1->setLineWidth(1);
    setColour(Shape1, QPalette::WindowText, kGridGrey);
    place(Shape1, gridLeft, gridTop, gridWidth, gridHeight);

    const char* rules[] = {"Line5", "Line3", "Line4"};
    for (int row = 0; row < 3; ++row)
        place(makeLine(Frame2, rules[row], QFrame::HLine, kGridGrey), gridLeft, gridTop + headingRow + row * rowHeight,
              gridWidth, 15);
    place(makeLine(Frame2, "Line6", QFrame::VLine, kGridGrey), fieldLeft, gridTop, 15, gridHeight);
    place(makeLine(Frame2, "Line7", QFrame::VLine, kGridGrey), decimalLeft, gridTop, 15, gridHeight);

    auto* Label4 = makeLabel(Frame2, "Label4", QStringLiteral("Separador de Campo"), font(), Qt::AlignCenter);
    Label4->setWordWrap(true);
    place(Label4, fieldLeft + 15, gridTop + 15, columnWidth - 15, headingRow - 15);
    auto* Label6 = makeLabel(Frame2, "Label6", QStringLiteral("Separador Decimal"), font(), Qt::AlignCenter);
    Label6->setWordWrap(true);
    place(Label6, decimalLeft + 15, gridTop + 15, columnWidth - 30, headingRow - 15);

    auto* separadores = new QButtonGroup(this);
    separadores->setExclusive(true);

    struct GridRow {
        int index;
        const char* fieldName;
        const char* field;
        const char* decimalName;
        const char* decimal;
    };
    const GridRow rows[] = {
        {2, "Label7", ";", "Label8", ","},
        {1, "Label10", ";", "Label11", "."},
        {0, "Label9", ",", "Label12", "."},
    };
    const QFont separatorFont = pickFont({"Arial Black", "DejaVu Sans", "Liberation Sans"}, 15.75, true);
    for (int row = 0; row < 3; ++row) {
        const GridRow& r = rows[row];
        const int rowTop = gridTop + headingRow + row * rowHeight;

        auto* option = new SeparatorOption(Frame2);
        option->setObjectName(QStringLiteral("chk_separador_%1").arg(r.index));
        place(option, gridLeft + 105, rowTop + 105, 300, 300);
        separadores->addButton(option, r.index);
        m_chk_separador[static_cast<std::size_t>(r.index)] = option;

        place(makeLabel(Frame2, r.fieldName, QString::fromLatin1(r.field), separatorFont, Qt::AlignCenter),
              fieldLeft + 255, rowTop + 15, 450, 450);
        place(makeLabel(Frame2, r.decimalName, QString::fromLatin1(r.decimal), separatorFont, Qt::AlignCenter),
              decimalLeft + 255, rowTop + 15, 450, 450);
    }
    m_chk_separador[2]->setChecked(true);
}

void MainWindow::buildExportFrame() {
    auto* Frame5 = makeFrame(this, "Frame5", QString(), font());
    place(Frame5, 2880, 3510, 2415, 2505);

    const QFont exportFont = serifFont(9.75);
    BTN_XLS = makeButton(Frame5, "BTN_XLS", QStringLiteral("  .XLS  Excel"), exportFont);
    place(BTN_XLS, 120, 90, 2175, 735);
    btn_gen_csv = makeButton(Frame5, "btn_gen_csv", QStringLiteral(" .CSV Excel"), exportFont);
    place(btn_gen_csv, 120, 885, 2175, 735);
    btn_gen_txt_orv = makeButton(Frame5, "btn_gen_txt_orv", QStringLiteral(" .TXT para O.R.V."), exportFont);
    place(btn_gen_txt_orv, 120, 1680, 2175, 735);

    Command3 = makeButton(this, "Command3", QStringLiteral("Salir"), serifFont(12));
    place(Command3, 5400, 3600, 1095, 2415);
}

void MainWindow::arrangeTabOrder() {
    QWidget* const order[] = {
        lst_contribuyentes, m_txt_desde,     m_txt_hasta, btn_borrar, m_chk_separador[0], m_chk_separador[1],
        m_chk_separador[2], btn_gen_txt_orv, BTN_XLS,     Command2,   btn_gen_csv,        Command3};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i) QWidget::setTabOrder(order[i], order[i + 1]);
}

void MainWindow::fitCaptions() {
    for (QLabel* label : findChildren<QLabel*>()) {
        if (!label->wordWrap()) shrinkToFit(label, label->text(), 2 * label->margin() + 2);
    }
    for (QPushButton* button : findChildren<QPushButton*>()) shrinkToFit(button, button->text(), 12);
    // The frame's caption sits on its border, clear of the corners.
    for (QGroupBox* frame : findChildren<QGroupBox*>()) shrinkToFit(frame, frame->title(), 20);
}

void MainWindow::load() { Form_Load(m_form); }

std::string MainWindow::lst_contribuyentes_Text() const { return lst_contribuyentes->currentText().toStdString(); }

void MainWindow::lst_contribuyentes_AddItem(const std::string& entry) {
    // QComboBox selects the first entry added to an empty list; the text field must keep what it held.
    const int index = lst_contribuyentes->currentIndex();
    const QString text = lst_contribuyentes->currentText();
    lst_contribuyentes->addItem(QString::fromStdString(entry));
    if (lst_contribuyentes->currentIndex() != index) {
        lst_contribuyentes->setCurrentIndex(index);
        lst_contribuyentes->setEditText(text);
    }
}

std::string MainWindow::txt_desde() const { return m_txt_desde->text().toStdString(); }

std::string MainWindow::txt_hasta() const { return m_txt_hasta->text().toStdString(); }

void MainWindow::set_txt_desde(const std::string& text) { m_txt_desde->setText(QString::fromStdString(text)); }

void MainWindow::set_txt_hasta(const std::string& text) { m_txt_hasta->setText(QString::fromStdString(text)); }

bool MainWindow::chk_separador(int index) const {
    if (index < 0 || index > 2) return false;
    return m_chk_separador[static_cast<std::size_t>(index)]->isChecked();
}

void MainWindow::btn_gen_txt_orv_Click() { startExport(::btn_gen_txt_orv_Click); }

void MainWindow::btn_gen_csv_Click() { startExport(::btn_gen_csv_Click); }

void MainWindow::BTN_XLS_Click() { startExport(::BTN_XLS_Click); }

void MainWindow::Command2_Click() { ::Command2_Click(m_form); }

void MainWindow::btn_borrar_Click() { ::btn_borrar_Click(m_form); }

void MainWindow::Command3_Click() {
    if (m_export) return endAfterExport(AfterExport::Exit);
    ::Command3_Click(m_form);
    close();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (!m_export) return QWidget::closeEvent(event);
    event->ignore();
    endAfterExport(AfterExport::Close);
}

void MainWindow::startExport(ExportRun::Command command) {
    // A click during an export starts nothing: the database is the running export's.
    if (m_export) return;
    // The worker has the window's thread called by the method's name: a functor or member pointer would have the
    // worker build the slot object the window's thread then runs, handed over through Qt's event queue, whose locks
    // the thread sanitizer does not see.
    m_export = std::make_unique<ExportRun>(m_form, command, *m_exportBoxes, [this] {
        QMetaObject::invokeMethod(this, "serveExport", Qt::QueuedConnection);
    });
    m_progressDelay->start();
    m_export->start([this](const ExportOutcome&, const std::string& escaped) { exportEnded(escaped); });
}

void MainWindow::serveExport() {
    if (m_export) m_export->serve();
}

void MainWindow::exportEnded(const std::string& escaped) {
    m_progressDelay->stop();
    closeProgress();
    m_export.reset();
    // The command shows how it ended; what escaped it did not end as a command does.
    if (!escaped.empty()) m_messages.MsgBox("Error : " + escaped, MsgIcon::Critical, MsgButtons::OK);
    const AfterExport after = std::exchange(m_afterExport, AfterExport::Stay);
    if (after == AfterExport::Exit)
        Command3_Click();
    else if (after == AfterExport::Close)
        close();
}

void MainWindow::endAfterExport(AfterExport after) {
    // "Salir" outranks the close control: it also closes the database.
    if (after == AfterExport::Exit || m_afterExport == AfterExport::Stay) m_afterExport = after;
}

MsgAnswer MainWindow::showExportBox(const std::string& text, MsgIcon icon, MsgButtons buttons,
                                    const std::optional<std::string>& title) {
    // The progress window closes before every box, and the time a box waits for the user is not the export's.
    m_progressDelay->stop();
    closeProgress();
    const MsgAnswer answer = m_messages.MsgBox(text, icon, buttons, title);
    // Once the file is being written, a box comes only at the end: no progress window after it.
    if (m_export && !m_export->progress().started) m_progressDelay->start();
    return answer;
}

void MainWindow::showProgress() {
    if (!m_export || m_progress) return;
    ExportRun* run = m_export.get();
    m_progress = new ExportProgressDialog(
        this, [run] { return run->progress(); }, [run] { run->cancel(); });
    m_progress->show();
}

void MainWindow::closeProgress() {
    if (!m_progress) return;
    const bool wasActive = m_progress->isActiveWindow();
    m_progress->hide();
    // Deleted at once: its refresh reads the export, which goes away next.
    delete std::exchange(m_progress, nullptr);
    // The main window takes the activation back, and with it the focus it had, even without a window manager.
    if (wasActive) activateWindow();
}
