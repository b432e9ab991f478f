#pragma once

#include "export/ExportRun.h"
#include "export/Form1.h"
#include "winapp/WindowsMessageBoxes.h"

#include <windows.h>

#include <array>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

class ProgressWindow;

// The program's only window, on Windows. It holds the controls and the form's state (m_form); every command is a
// core procedure. The export commands run as a background job (ExportRun) while the window keeps taking its
// messages: their boxes are brought to the window's thread, and an export that has run half a second shows its
// progress in a window that can cancel it. One export at a time.
class MainWindow final : public Form1Controls {
public:
    // `appPath` is the folder holding Impuest.mdb and receiving RET-PERC.
    explicit MainWindow(std::string appPath);
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;
    ~MainWindow() override;

    HWND handle() const noexcept { return m_window; }
    // The start-up sequence (output folder, connection, taxpayer list). Run once, before the window is shown, so
    // that its message boxes come before the window.
    void load();
    // Each export pauses this long after each movement (VELMORA_PAUSA_MS), so that a test can act while it runs.
    void pauseExports(std::chrono::milliseconds pause) noexcept { m_pause = pause; }
    // Whether `message` was one of the window's keys (Tab between controls, arrows, Space on a button), taken.
    bool takeDialogKey(MSG& message);

    std::string lst_contribuyentes_Text() const override;
    void lst_contribuyentes_AddItem(const std::string& entry) override;
    std::string txt_desde() const override;
    std::string txt_hasta() const override;
    void set_txt_desde(const std::string& text) override;
    void set_txt_hasta(const std::string& text) override;
    bool chk_separador(int index) const override;

private:
    class ExportBoxes;
    enum class AfterExport { Stay, Close, Exit };
    enum Face { Default, Serif, SerifLarge, TextBox, Display, Narrow, Separator, Emblem, AgencySerif, FaceCount };
    // A control and where the form's design put it, in twips.
    struct Placed {
        HWND control;
        RECT twips;
        Face face;
    };

    LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void build();
    HWND add(const wchar_t* windowClass, const std::string& caption, DWORD style, int id, RECT twips, Face face);
    void layOut();
    void makeFonts();
    void fitCaptions();
    void paint(HDC dc);
    void command(int id, int notification);

    void btn_gen_txt_orv_Click();
    void btn_gen_csv_Click();
    void BTN_XLS_Click();
    void Command2_Click();
    void btn_borrar_Click();
    void Command3_Click();
    void chooseSeparator(int index);

    void startExport(ExportRun::Command command);
    void exportEnded(const std::string& escaped);
    void endAfterExport(AfterExport after);
    MsgAnswer showExportBox(const std::string& text, MsgIcon icon, MsgButtons buttons,
                            const std::optional<std::string>& title);
    void showProgress();
    void closeProgress();

    HWND m_window = nullptr;
    UINT m_dpi = 96;
    WindowsMessageBoxes m_messages;
    Form1 m_form;
    std::unique_ptr<ExportBoxes> m_exportBoxes;
    std::unique_ptr<ExportRun> m_export;
    std::unique_ptr<ProgressWindow> m_progress;
    AfterExport m_afterExport = AfterExport::Stay;
    std::chrono::milliseconds m_pause{0};

    std::vector<Placed> m_placed;
    std::array<HFONT, FaceCount> m_fonts{};
    std::vector<HFONT> m_fitted;  // captions' own smaller faces
    HWND m_tooltips = nullptr;
    HBRUSH m_background = nullptr;

    HWND lst_contribuyentes = nullptr;
    HWND m_txt_desde = nullptr;
    HWND m_txt_hasta = nullptr;
    std::array<HWND, 3> m_chk_separador{};
    HWND m_label13 = nullptr;  // drawn in dark grey
    HWND m_label14 = nullptr;  // on its orange band
};
