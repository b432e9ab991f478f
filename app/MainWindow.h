#pragma once

#include "export/ExportRun.h"
#include "export/Form1.h"

#include <QWidget>

#include <array>
#include <memory>
#include <string>

class ExportProgressDialog;
class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTimer;
class QtMessageBoxes;

// The program's only window. It holds the controls and the form's state (m_form); every command is a core
// procedure. The export commands run on a worker thread (ExportRun) while the window keeps taking its events: their
// boxes are brought to the window's thread, and an export that has run half a second shows its progress in a modal
// window that can cancel it. One export at a time.
class MainWindow : public QWidget, public Form1Controls {
    Q_OBJECT

public:
    // `appPath` is the folder holding Impuest.mdb and receiving RET-PERC. Without `messages` the window shows its
    // boxes with QMessageBox; a test passes a fake that must outlive the window.
    explicit MainWindow(std::string appPath, MessageBoxes* messages = nullptr);
    ~MainWindow() override;

    // The start-up sequence (output folder, connection, taxpayer list). Run once, before the window is shown, so
    // that its message boxes come before the window.
    void load();

    Form1& form() noexcept { return m_form; }
    // True while an export command runs; the form's connection is then the export's.
    bool exporting() const noexcept { return m_export != nullptr; }

    std::string lst_contribuyentes_Text() const override;
    void lst_contribuyentes_AddItem(const std::string& entry) override;
    std::string txt_desde() const override;
    std::string txt_hasta() const override;
    void set_txt_desde(const std::string& text) override;
    void set_txt_hasta(const std::string& text) override;
    bool chk_separador(int index) const override;

private slots:
    void btn_gen_txt_orv_Click();
    void btn_gen_csv_Click();
    void BTN_XLS_Click();
    void Command2_Click();
    void btn_borrar_Click();
    void Command3_Click();

protected:
    // Closing during an export lets it end; the window closes then.
    void closeEvent(QCloseEvent* event) override;

private:
    class ExportBoxes;
    enum class AfterExport { Stay, Close, Exit };

    void startExport(ExportRun::Command command);
    // Queued to the window's thread by the export's worker: shows the boxes it waits on and takes its end.
    Q_INVOKABLE void serveExport();
    void exportEnded(const std::string& escaped);
    // "Salir" or the close control while an export runs: the export goes on to its end, as if the click had waited
    // for it, and `after` is done then.
    void endAfterExport(AfterExport after);
    MsgAnswer showExportBox(const std::string& text, MsgIcon icon, MsgButtons buttons,
                            const std::optional<std::string>& title);
    void showProgress();
    void closeProgress();

    void buildTitleBand();
    void buildTaxpayerFrame();
    void buildPeriodFrame();
    void buildCsvFrame();
    void buildExportFrame();
    void arrangeTabOrder();
    void fitCaptions();

    std::unique_ptr<QtMessageBoxes> m_ownMessages;
    MessageBoxes& m_messages;
    Form1 m_form;

    // The export under way, what shows its boxes, and its progress window once shown.
    std::unique_ptr<ExportBoxes> m_exportBoxes;
    std::unique_ptr<ExportRun> m_export;
    QTimer* m_progressDelay = nullptr;
    ExportProgressDialog* m_progress = nullptr;
    AfterExport m_afterExport = AfterExport::Stay;

    // The controls the commands read or run from; the decoration lives on as children only.
    QComboBox* lst_contribuyentes = nullptr;
    QLineEdit* m_txt_desde = nullptr;
    QLineEdit* m_txt_hasta = nullptr;
    std::array<QRadioButton*, 3> m_chk_separador{};
    QPushButton* Command2 = nullptr;
    QPushButton* btn_borrar = nullptr;
    QPushButton* BTN_XLS = nullptr;
    QPushButton* btn_gen_csv = nullptr;
    QPushButton* btn_gen_txt_orv = nullptr;
    QPushButton* Command3 = nullptr;
};
