#pragma once

#include "export/ExportRun.h"

#include <QDialog>

#include <functional>

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

// The modal window over the main window while a long export runs: the taxpayer's reference, the declarations done
// out of those in the range, the movements written so far, and "Cancelar", which Esc presses too. It has no close
// control: it closes when the export ends.
class ExportProgressDialog : public QDialog {
    Q_OBJECT

public:
    // `progress` is read when the window shows and then every tenth of a second; `cancel` is called for Cancelar.
    ExportProgressDialog(QWidget* parent, std::function<ExportProgress()> progress, std::function<void()> cancel);

    // Esc presses Cancelar; the window stays until the export has ended.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void refresh();

    std::function<ExportProgress()> m_progress;
    QLabel* m_taxpayer;
    QLabel* m_declarations;
    QLabel* m_movements;
    QProgressBar* m_bar;
    QPushButton* m_cancelar;
    QTimer* m_refresh;
};
