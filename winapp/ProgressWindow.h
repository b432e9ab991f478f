#pragma once

#include "export/ExportRun.h"

#include <windows.h>

#include <functional>

// "Generando archivo": what an export under way has done (its taxpayer, its declarations done out of all, on a bar,
// and the movements written), read ten times a second, and "Cancelar", which stops it. Esc and the close control
// cancel as well. Not modal: the main window's "Salir" stays at hand.
class ProgressWindow {
public:
    ProgressWindow(HWND owner, UINT dpi, std::function<ExportProgress()> progress, std::function<void()> cancel);
    ProgressWindow(const ProgressWindow&) = delete;
    ProgressWindow& operator=(const ProgressWindow&) = delete;
    ~ProgressWindow();

    HWND handle() const noexcept { return m_window; }
    // Whether `message` was the window's own key (Tab, Esc, Space on its button), taken.
    bool takeDialogKey(MSG& message) const;

private:
    LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void refresh();

    HWND m_window = nullptr;
    HWND m_taxpayer = nullptr, m_declarations = nullptr, m_bar = nullptr, m_movements = nullptr, m_cancel = nullptr;
    HFONT m_font = nullptr;
    std::function<ExportProgress()> m_progress;
    std::function<void()> m_onCancel;
};
