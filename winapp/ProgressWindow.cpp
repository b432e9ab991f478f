#include "winapp/ProgressWindow.h"

#include "runtime/UserNumbers.h"
#include "winapp/ControlIds.h"
#include "winapp/Controls.h"

#include <commctrl.h>

#include <algorithm>

namespace {

constexpr UINT_PTR kRefreshTimer = 1;
constexpr int kWidth = 340, kHeight = 150;  // the client area, in pixels at 96 dpi

}  // namespace

ProgressWindow::ProgressWindow(HWND owner, UINT dpi, std::function<ExportProgress()> progress,
                               std::function<void()> cancel)
    : m_progress(std::move(progress)), m_onCancel(std::move(cancel)) {
    Controls::registerClass(kProgressWindowClass);
    const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
    RECT frame{0, 0, Controls::scaled(kWidth, dpi), Controls::scaled(kHeight, dpi)};
    ::AdjustWindowRectEx(&frame, style, FALSE, WS_EX_DLGMODALFRAME);
    m_window = ::CreateWindowExW(WS_EX_DLGMODALFRAME, kProgressWindowClass, L"Generando archivo", style, CW_USEDEFAULT,
                                 CW_USEDEFAULT, frame.right - frame.left, frame.bottom - frame.top, owner, nullptr,
                                 ::GetModuleHandleW(nullptr), nullptr);
    Controls::attach<ProgressWindow, &ProgressWindow::handleMessage>(m_window, this);
    m_font = Controls::makeFont({L"Segoe UI", L"Tahoma", L"Microsoft Sans Serif"}, 9, dpi);
    m_taxpayer =
        Controls::make(m_window, L"STATIC", "", SS_LEFT, ControlId::lbl_contribuyente, {12, 10, 328, 28}, m_font, dpi);
    m_declarations =
        Controls::make(m_window, L"STATIC", "", SS_LEFT, ControlId::lbl_declaraciones, {12, 32, 328, 50}, m_font, dpi);
    m_bar =
        Controls::make(m_window, PROGRESS_CLASSW, "", 0, ControlId::prg_declaraciones, {12, 56, 328, 74}, nullptr, dpi);
    m_movements =
        Controls::make(m_window, L"STATIC", "", SS_LEFT, ControlId::lbl_movimientos, {12, 80, 328, 98}, m_font, dpi);
    m_cancel = Controls::make(m_window, L"BUTTON", "Cancelar", BS_PUSHBUTTON | WS_TABSTOP,
                              ControlId::btn_cancelar_exportacion, {236, 110, 328, 138}, m_font, dpi);
    Controls::centre(m_window, owner);
    refresh();
    ::SetTimer(m_window, kRefreshTimer, 100, nullptr);
    ::ShowWindow(m_window, SW_SHOW);
    ::SetFocus(m_cancel);
}

ProgressWindow::~ProgressWindow() {
    const HWND owner = ::GetWindow(m_window, GW_OWNER);
    const bool wasActive = ::GetActiveWindow() == m_window;
    ::KillTimer(m_window, kRefreshTimer);
    ::DestroyWindow(m_window);
    ::DeleteObject(m_font);
    // The main window takes the activation back, and with it the focus it had.
    if (wasActive && owner) ::SetActiveWindow(owner);
}

bool ProgressWindow::takeDialogKey(MSG& message) const {
    if (message.hwnd != m_window && !::IsChild(m_window, message.hwnd)) return false;
    if (message.message == WM_KEYDOWN && message.wParam == VK_ESCAPE) {
        m_onCancel();
        return true;
    }
    return ::IsDialogMessageW(m_window, &message) != 0;
}

void ProgressWindow::refresh() {
    const ExportProgress now = m_progress();
    Controls::setText(m_taxpayer, "Contribuyente: " + now.reference);
    if (now.declarations < 0) {
        Controls::setText(m_declarations, "Declaraciones: …");
        ::SetWindowLongPtrW(m_bar, GWL_STYLE, ::GetWindowLongPtrW(m_bar, GWL_STYLE) | PBS_MARQUEE);
        ::SendMessageW(m_bar, PBM_SETMARQUEE, TRUE, 50);
    } else {
        Controls::setText(m_declarations,
                          "Declaraciones: " + userCount(now.declarationsDone) + " de " + userCount(now.declarations));
        ::SendMessageW(m_bar, PBM_SETMARQUEE, FALSE, 0);
        ::SetWindowLongPtrW(m_bar, GWL_STYLE, ::GetWindowLongPtrW(m_bar, GWL_STYLE) & ~LONG_PTR(PBS_MARQUEE));
        // The bar counts in declarations, which stay far below its int range.
        ::SendMessageW(m_bar, PBM_SETRANGE32, 0, LPARAM(std::max<std::int64_t>(now.declarations, 1)));
        ::SendMessageW(m_bar, PBM_SETPOS, WPARAM(now.declarationsDone), 0);
    }
    Controls::setText(m_movements, "Movimientos escritos: " + userCount(now.movements));
}

LRESULT ProgressWindow::handleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_TIMER:
            if (wParam == kRefreshTimer) refresh();
            return 0;
        case WM_COMMAND:
            if (LOWORD(wParam) == ControlId::btn_cancelar_exportacion || LOWORD(wParam) == IDCANCEL) m_onCancel();
            return 0;
        case WM_CLOSE: m_onCancel(); return 0;
        default: return ::DefWindowProcW(m_window, message, wParam, lParam);
    }
}
