#pragma once

#include "app/BatchResultsModel.h"
#include "export/BatchExport.h"
#include "export/BatchReport.h"
#include "export/BatchRun.h"

#include <QElapsedTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTableView;
class QTimer;
class QtMessageBoxes;

// "Exportación de todos los contribuyentes": the batch of velmora-export in a window. Every taxpayer of the list is
// counted or exported over one range, in one format, by the same commands as the main window's buttons, on a
// worker thread (BatchRun); the table fills as the exports end, and can be sorted, filtered to the problems and
// saved as a report. The main window stays as it is: this one is started apart (`velmora --todos`).
class AllTaxpayersWindow : public QWidget {
    Q_OBJECT

public:
    // `appPath` is the working folder, which holds Impuest.mdb and RET-PERC. Without `messages` the window shows
    // its boxes with QMessageBox; a test passes a fake that must outlive the window.
    explicit AllTaxpayersWindow(std::string appPath, MessageBoxes* messages = nullptr);
    ~AllTaxpayersWindow() override;

    // True while a count or an export runs.
    bool running() const noexcept { return m_run != nullptr; }
    const BatchResultsModel& results() const noexcept { return *m_model; }

    // What the window does with the desktop, replaced by tests: open a written file with the desktop's default
    // application, ask where a report goes, ask for an output folder (an empty text: the user cancelled).
    std::function<void(const QString& file)> openFile;
    std::function<QString(const QString& proposed)> askReportPath;
    std::function<QString(const QString& current)> askFolder;
    // The database engine the runs open the database with; tests slow it down.
    std::function<std::unique_ptr<Workspace>()> createWorkspace;

protected:
    // Closing during a run stops it (the taxpayer under way leaves no file) and waits for it.
    void closeEvent(QCloseEvent* event) override;

private slots:
    void contar();
    void exportar();
    void cancelar();
    void todo();
    void guardarInforme();
    void cambiarCarpeta();
    void showStatus();

private:
    // Queued to the window's thread by the run's worker: delivers what the run sent.
    Q_INVOKABLE void serveRun();
    void runEnded(const BatchEnd& end);
    void startRun(bool count);
    BatchFormat chosenFormat() const;
    void setRunning(bool running);

    std::string m_appPath;
    std::unique_ptr<QtMessageBoxes> m_ownMessages;
    MessageBoxes& m_messages;

    QLineEdit* m_desde = nullptr;
    QLineEdit* m_hasta = nullptr;
    QComboBox* m_format = nullptr;
    QComboBox* m_separators = nullptr;
    QLineEdit* m_folder = nullptr;
    QPushButton* m_chooseFolder = nullptr;
    QCheckBox* m_replace = nullptr;
    QCheckBox* m_check = nullptr;
    QPushButton* m_count = nullptr;
    QPushButton* m_export = nullptr;
    QPushButton* m_cancel = nullptr;
    QPushButton* m_saveReport = nullptr;
    QProgressBar* m_progress = nullptr;
    QLabel* m_status = nullptr;
    QCheckBox* m_onlyProblems = nullptr;
    QTableView* m_table = nullptr;
    BatchResultsModel* m_model = nullptr;
    BatchResultsFilter* m_filter = nullptr;
    QTimer* m_clock = nullptr;

    // The run under way and its batch; what the report says was asked.
    std::unique_ptr<BatchExport> m_batch;
    std::unique_ptr<BatchRun> m_run;
    std::size_t m_done = 0;  // what the run has done so far, as its results came
    std::size_t m_total = 0;
    BatchTotals m_totals;
    bool m_waiting = false;  // for the database file to settle
    QElapsedTimer m_elapsed;
    BatchReport m_asked;
    bool m_closeAfterRun = false;
};
