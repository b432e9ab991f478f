#pragma once

#include "export/Form1.h"

#include <QWidget>

#include <array>
#include <memory>
#include <string>

class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QtMessageBoxes;

// The program's only window. It holds the controls and the form's state (m_form); every command is a core
// procedure, run to its end on the GUI thread without returning to the event loop.
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

private:
    void buildTitleBand();
    void buildTaxpayerFrame();
    void buildPeriodFrame();
    void buildCsvFrame();
    void buildExportFrame();
    void arrangeTabOrder();
    void fitCaptions();

    std::unique_ptr<QtMessageBoxes> m_ownMessages;
    Form1 m_form;

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
