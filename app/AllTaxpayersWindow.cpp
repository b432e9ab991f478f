#include "app/AllTaxpayersWindow.h"

#include "app/QtMessageBoxes.h"
#include "export/BatchStart.h"
#include "runtime/RuntimeError.h"
#include "runtime/UserNumbers.h"
#include "selection/Form1Controls.h"
#include "selection/RangeValidation.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QDesktopServices>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include <filesystem>

namespace {

template <typename Widget>
Widget* named(Widget* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

QString seconds(const QElapsedTimer& elapsed) {
    return QString::fromStdString(userSeconds(double(elapsed.elapsed()) / 1000.0));
}

QString count(std::int64_t n) { return QString::fromStdString(userCount(n)); }

}  // namespace

AllTaxpayersWindow::AllTaxpayersWindow(std::string appPath, MessageBoxes* messages)
    : m_appPath(std::move(appPath)),
      m_ownMessages(messages ? nullptr : std::make_unique<QtMessageBoxes>(this)),
      m_messages(messages ? *messages : *m_ownMessages) {
    setObjectName(QStringLiteral("AllTaxpayersWindow"));
    setWindowTitle(QStringLiteral("Exportación de todos los contribuyentes"));
    openFile = [](const QString& file) { QDesktopServices::openUrl(QUrl::fromLocalFile(file)); };
    askReportPath = [this](const QString& proposed) {
        return QFileDialog::getSaveFileName(this, QStringLiteral("Guardar informe"), proposed,
                                            QStringLiteral("CSV (*.csv);;Excel 2007 (*.xlsx)"));
    };
    askFolder = [this](const QString& current) {
        return QFileDialog::getExistingDirectory(this, QStringLiteral("Carpeta de salida"), current);
    };

    auto* choices = new QGridLayout;
    m_desde = named(new QLineEdit(this), "txt_desde");
    m_hasta = named(new QLineEdit(this), "txt_hasta");
    for (QLineEdit* period : {m_desde, m_hasta}) {
        period->setMaxLength(6);
        period->setPlaceholderText(QStringLiteral("aaaamm"));
        period->setFixedWidth(period->fontMetrics().horizontalAdvance(QStringLiteral("0000000")) + 16);
    }
    auto* todoButton = named(new QPushButton(QStringLiteral("Todo"), this), "btn_todo");
    auto* range = new QHBoxLayout;
    range->addWidget(m_desde);
    range->addWidget(new QLabel(QStringLiteral("HASTA"), this));
    range->addWidget(m_hasta);
    range->addWidget(todoButton);
    range->addStretch();
    choices->addWidget(new QLabel(QStringLiteral("Anticipo DESDE"), this), 0, 0);
    choices->addLayout(range, 0, 1, 1, 2);

    m_format = named(new QComboBox(this), "cmb_formato");
    m_format->addItem(QStringLiteral("TXT para O.R.V."), int(BatchFormat::Txt));
    m_format->addItem(QStringLiteral("CSV Excel"), int(BatchFormat::Csv));
    m_format->addItem(QStringLiteral("XLS Excel"), int(BatchFormat::Xls));
    m_format->addItem(QStringLiteral("XLSX Excel 2007"), int(BatchFormat::Xlsx));
    m_separators = named(new QComboBox(this), "cmb_separadores");
    // The main window's three options, in its order.
    m_separators->addItem(QStringLiteral("Campo ;  Decimal ,"), 2);
    m_separators->addItem(QStringLiteral("Campo ;  Decimal ."), 1);
    m_separators->addItem(QStringLiteral("Campo ,  Decimal ."), 0);
    m_separators->setEnabled(false);
    auto* format = new QHBoxLayout;
    format->addWidget(m_format);
    format->addWidget(new QLabel(QStringLiteral("Separadores del CSV"), this));
    format->addWidget(m_separators);
    format->addStretch();
    choices->addWidget(new QLabel(QStringLiteral("Formato"), this), 1, 0);
    choices->addLayout(format, 1, 1, 1, 2);

    m_folder = named(new QLineEdit(QString::fromStdString(m_appPath + "/RET-PERC"), this), "txt_carpeta");
    m_chooseFolder = named(new QPushButton(QStringLiteral("Cambiar..."), this), "btn_carpeta");
    choices->addWidget(new QLabel(QStringLiteral("Carpeta de salida"), this), 2, 0);
    choices->addWidget(m_folder, 2, 1);
    choices->addWidget(m_chooseFolder, 2, 2);

    m_replace = named(new QCheckBox(QStringLiteral("Reemplazar los archivos existentes"), this), "chk_reemplazar");
    m_check = named(new QCheckBox(QStringLiteral("Verificar CUIT"), this), "chk_verificar");
    auto* flags = new QHBoxLayout;
    flags->addWidget(m_replace);
    flags->addSpacing(24);
    flags->addWidget(m_check);
    flags->addStretch();
    choices->addLayout(flags, 3, 1, 1, 2);
    choices->setColumnStretch(1, 1);

    auto* actions = new QHBoxLayout;
    m_count = named(new QPushButton(QStringLiteral("Contar"), this), "btn_contar");
    m_export = named(new QPushButton(QStringLiteral("Exportar"), this), "btn_exportar");
    m_cancel = named(new QPushButton(QStringLiteral("Cancelar"), this), "btn_cancelar");
    m_saveReport = named(new QPushButton(QStringLiteral("Guardar informe"), this), "btn_informe");
    m_cancel->setEnabled(false);
    m_saveReport->setEnabled(false);
    for (QPushButton* button : {m_count, m_export, m_cancel}) actions->addWidget(button);
    actions->addStretch();
    actions->addWidget(m_saveReport);

    m_progress = named(new QProgressBar(this), "prg_avance");
    m_progress->setRange(0, 1);
    m_progress->setValue(0);
    // Taxpayers done out of all, once a run has begun.
    m_progress->setTextVisible(false);
    m_status = named(new QLabel(this), "lbl_estado");
    m_onlyProblems = named(new QCheckBox(QStringLiteral("Solo problemas"), this), "chk_problemas");

    m_model = new BatchResultsModel(this);
    m_filter = new BatchResultsFilter(this);
    m_filter->setSourceModel(m_model);
    m_filter->setSortRole(BatchResultsModel::SortRole);
    m_table = named(new QTableView(this), "tbl_resultados");
    m_table->setModel(m_filter);
    m_table->setSortingEnabled(true);
    m_table->sortByColumn(-1, Qt::AscendingOrder);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setWordWrap(false);
    // Fixed heights and widths: nothing is measured over thousands of rows while they change.
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + 6);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    m_table->horizontalHeader()->setStretchLastSection(true);
    const int widths[] = {130, 260, 100, 420};
    for (int column = 0; column < 4; ++column) m_table->setColumnWidth(column, widths[column]);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(choices);
    layout->addLayout(actions);
    layout->addWidget(m_progress);
    layout->addWidget(m_status);
    layout->addWidget(m_onlyProblems);
    layout->addWidget(m_table, 1);
    resize(1100, 700);
    centerOver(*this, nullptr);

    // The status line's seconds go on while an export takes long.
    m_clock = new QTimer(this);
    m_clock->setInterval(200);

    connect(todoButton, &QPushButton::clicked, this, &AllTaxpayersWindow::todo);
    connect(m_format, &QComboBox::currentIndexChanged, this,
            [this] { m_separators->setEnabled(chosenFormat() == BatchFormat::Csv); });
    connect(m_chooseFolder, &QPushButton::clicked, this, &AllTaxpayersWindow::cambiarCarpeta);
    connect(m_count, &QPushButton::clicked, this, &AllTaxpayersWindow::contar);
    connect(m_export, &QPushButton::clicked, this, &AllTaxpayersWindow::exportar);
    connect(m_cancel, &QPushButton::clicked, this, &AllTaxpayersWindow::cancelar);
    connect(m_saveReport, &QPushButton::clicked, this, &AllTaxpayersWindow::guardarInforme);
    connect(m_onlyProblems, &QCheckBox::toggled, m_filter, &BatchResultsFilter::setOnlyProblems);
    connect(m_clock, &QTimer::timeout, this, &AllTaxpayersWindow::showStatus);
    connect(m_table, &QTableView::doubleClicked, this, [this](const QModelIndex& index) {
        const QString file = m_filter->mapToSource(index).data(BatchResultsModel::WrittenFileRole).toString();
        if (!file.isEmpty()) openFile(file);
    });
}

AllTaxpayersWindow::~AllTaxpayersWindow() {
    // The run goes before the batch it runs.
    m_run.reset();
}

void AllTaxpayersWindow::closeEvent(QCloseEvent* event) {
    if (!m_run) return QWidget::closeEvent(event);
    event->ignore();
    m_closeAfterRun = true;
    cancelar();
}

void AllTaxpayersWindow::contar() { startRun(true); }

void AllTaxpayersWindow::exportar() { startRun(false); }

void AllTaxpayersWindow::todo() {
    m_desde->setText(QStringLiteral("200001"));
    m_hasta->setText(QStringLiteral("222201"));
}

void AllTaxpayersWindow::cancelar() {
    if (m_run) m_run->cancel();
}

void AllTaxpayersWindow::cambiarCarpeta() {
    const QString chosen = askFolder(m_folder->text());
    if (!chosen.isEmpty()) m_folder->setText(chosen);
}

BatchFormat AllTaxpayersWindow::chosenFormat() const { return BatchFormat(m_format->currentData().toInt()); }

void AllTaxpayersWindow::startRun(bool count) {
    if (m_run) return;
    BatchChoices choices;
    choices.desde = m_desde->text().toStdString();
    choices.hasta = m_hasta->text().toStdString();
    choices.format = chosenFormat();
    choices.dialect = m_separators->currentData().toInt();
    choices.folder = m_folder->text().toStdString();
    choices.replace = m_replace->isChecked();
    choices.count = count;
    choices.check = m_check->isChecked();
    std::optional<StartedBatch> started = startWindowBatch(choices, m_appPath, m_messages, createWorkspace);
    if (!started) return;
    const BatchOptions& options = started->options;
    std::vector<BatchTaxpayer>& taxpayers = started->taxpayers;

    std::string format = m_format->currentText().toStdString();
    if (options.format == BatchFormat::Csv)
        format += " (" + m_separators->currentText().simplified().toStdString() + ")";
    if (count) format += ", solo contar";
    m_asked = {};
    m_asked.desde = options.desde;
    m_asked.hasta = options.hasta;
    m_asked.format = format;
    m_asked.options = reportOptions(options.replace, options.check, options.folder);
    m_asked.madeAt = QDateTime::currentDateTime().toString(QStringLiteral("dd/MM/yyyy HH:mm")).toStdString();
    m_model->reset(taxpayers);
    m_batch = std::move(started->batch);
    m_done = 0;
    m_total = taxpayers.size();
    m_totals = {};
    m_waiting = false;
    // The worker has the window's thread called by the method's name (see MainWindow::startExport).
    m_run = std::make_unique<BatchRun>(*m_batch, std::move(taxpayers), m_messages,
                                       [this] { QMetaObject::invokeMethod(this, "serveRun", Qt::QueuedConnection); });
    setRunning(true);
    m_elapsed.start();
    showStatus();
    m_clock->start();
    BatchRun::Events events;
    events.result = [this](std::size_t row, const TaxpayerResult& result) {
        m_model->setResult(row, result);
        m_model->resultsChanged(row, row);
        ++m_done;
        m_totals.add(result);
        m_waiting = false;
        showStatus();
    };
    events.waiting = [this] {
        m_waiting = true;
        showStatus();
    };
    events.ended = [this](const BatchEnd& end) { runEnded(end); };
    m_run->start(std::move(events));
}

void AllTaxpayersWindow::serveRun() {
    if (m_run) m_run->serve();
}

void AllTaxpayersWindow::showStatus() {
    m_progress->setTextVisible(true);
    m_progress->setFormat(count(std::int64_t(m_done)) + QStringLiteral(" de ") + count(std::int64_t(m_total)));
    m_progress->setRange(0, int(std::max<std::size_t>(m_total, 1)));
    m_progress->setValue(int(m_done));
    if (m_waiting)
        m_status->setText(QStringLiteral("Esperando a que la base de datos deje de cambiar..."));
    else
        m_status->setText(QStringLiteral("Contribuyentes: %1 de %2 · movimientos: %3 · %4")
                              .arg(count(std::int64_t(m_done)), count(std::int64_t(m_total)), count(m_totals.movements),
                                   seconds(m_elapsed)));
}

void AllTaxpayersWindow::runEnded(const BatchEnd& end) {
    m_clock->stop();
    m_waiting = false;
    showStatus();
    m_run.reset();
    const std::string stopped = end.stoppedByWrites ? m_batch->stoppedMessage() : std::string();
    m_batch.reset();
    const bool cancelled = end.done < end.total;
    if (cancelled) m_model->markNotExported();
    if (!stopped.empty()) m_messages.MsgBox(stopped, MsgIcon::Critical, MsgButtons::OK);
    if (!end.failure.empty()) m_messages.MsgBox("Error : " + end.failure, MsgIcon::Critical, MsgButtons::OK);
    m_status->setText((cancelled ? QStringLiteral("Cancelado. ") : QStringLiteral("Terminado. ")) + m_status->text());
    setRunning(false);
    if (m_closeAfterRun) close();
}

void AllTaxpayersWindow::setRunning(bool running) {
    for (QWidget* widget : std::initializer_list<QWidget*>{m_desde, m_hasta, m_format, m_folder, m_chooseFolder,
                                                           m_replace, m_check, m_count, m_export})
        widget->setEnabled(!running);
    m_separators->setEnabled(!running && chosenFormat() == BatchFormat::Csv);
    m_cancel->setEnabled(running);
    m_saveReport->setEnabled(!running && m_model->taxpayers() > 0);
}

void AllTaxpayersWindow::guardarInforme() {
    const QString proposed =
        m_folder->text() + QStringLiteral("/informe-%1-%2.csv")
                               .arg(QString::fromStdString(m_asked.desde), QString::fromStdString(m_asked.hasta));
    const QString path = askReportPath(proposed);
    if (path.isEmpty()) return;
    BatchReport report = m_asked;
    report.filter = reportRows(m_onlyProblems->isChecked());
    report.totals = m_totals.describe();
    // The table as the view shows it: its order, its filter.
    for (int row = 0; row < m_filter->rowCount(); ++row) {
        const auto source = std::size_t(m_filter->mapToSource(m_filter->index(row, 0)).row());
        report.rows.push_back(m_model->table().reportRow(source));
    }
    try {
        saveBatchReport(report, path.toStdString());
        m_messages.MsgBox("Informe guardado : " + path.toStdString(), MsgIcon::Information, MsgButtons::OK);
    } catch (const std::exception& e) {
        m_messages.MsgBox("Error al guardar el informe!!\r\rMotivo: " + RuntimeError::describe(e), MsgIcon::Critical,
                          MsgButtons::OK);
    }
}
