#include "winapp/MainWindow.h"

#include "export/ExportCommands.h"
#include "export/StartUp.h"
#include "platform/windows/WideText.h"
#include "winapp/ControlIds.h"
#include "winapp/Controls.h"
#include "winapp/ProgressWindow.h"

#include <commctrl.h>

#include <utility>

namespace {

constexpr const char* kVersion = VELMORA_VERSION;
constexpr const char* kAgency = "Dirección General de Rentas";

// The layout was drawn in twips at 96 dpi; the window's client area is 438 by 409 pixels there.
constexpr int kTwipsPerPixel = 15;
constexpr int kClientWidth = 438, kClientHeight = 409;

// An export that has run this long shows its progress window; a shorter one shows none.
constexpr UINT kProgressDelayMs = 500;
constexpr UINT_PTR kProgressTimer = 1;
// Posted by the export's worker: the window serves what the export sent.
constexpr UINT kServeExport = WM_APP + 1;

RECT twips(int left, int top, int width, int height) { return {left, top, left + width, top + height}; }

// The frames' contents are placed relative to their frame.
RECT within(RECT frame, int left, int top, int width, int height) {
    return twips(frame.left + left, frame.top + top, width, height);
}

const RECT kFrame1 = twips(120, 840, 6375, 870);
const RECT kFrame4 = twips(120, 1800, 6375, 1020);
const RECT kFrame2 = twips(120, 3480, 2655, 2535);
const RECT kFrame5 = twips(2880, 3510, 2415, 2505);

// The grid of separator options: a heading row of 495 twips, then three rows of 480; columns of 495, 960 and 960.
constexpr int kGridLeft = 120, kGridTop = 480, kGridWidth = 2415, kGridHeight = 1935;
constexpr int kOptionColumn = 495, kColumnWidth = 960, kHeadingRow = 495, kRowHeight = 480;

const COLORREF kTitleGreen = RGB(192, 255, 192);
const COLORREF kBandGrey = RGB(224, 224, 224);
const COLORREF kCsvOrange = RGB(255, 192, 128);
const COLORREF kGridGrey = RGB(128, 128, 128);

}  // namespace

// The boxes of an export, which the job brings to the window's thread: the window shows them.
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

MainWindow::MainWindow(std::string appPath)
    : m_form(*this, m_messages, std::move(appPath)), m_exportBoxes(std::make_unique<ExportBoxes>(*this)) {
    Controls::registerClass(kMainWindowClass, L"VELMORA");
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    m_window = ::CreateWindowExW(WS_EX_CONTROLPARENT, kMainWindowClass, L"O.R.V. - Velmora", style, CW_USEDEFAULT,
                                 CW_USEDEFAULT, kClientWidth, kClientHeight, nullptr, nullptr,
                                 ::GetModuleHandleW(nullptr), nullptr);
    Controls::attach<MainWindow, &MainWindow::handleMessage>(m_window, this);
    m_messages.setOwner(m_window);
    m_dpi = ::GetDpiForWindow(m_window);
    m_background = ::GetSysColorBrush(COLOR_BTNFACE);
    makeFonts();
    build();
    layOut();
    Controls::centre(m_window, nullptr);
    ::SetFocus(lst_contribuyentes);
}

MainWindow::~MainWindow() {
    // A window destroyed during an export stops it, lets its boxes go unseen and waits for it.
    closeProgress();
    m_export.reset();
    if (::IsWindow(m_window)) {
        ::SetWindowLongPtrW(m_window, GWLP_USERDATA, 0);
        ::DestroyWindow(m_window);
    }
    for (HFONT font : m_fonts) ::DeleteObject(font);
    for (HFONT font : m_fitted) ::DeleteObject(font);
}

void MainWindow::makeFonts() {
    for (HFONT& font : m_fonts) {
        if (font) ::DeleteObject(font);
        font = nullptr;
    }
    // The faces the form was drawn with, then those that stand in for them where they are missing (under Wine).
    const std::vector<const wchar_t*> serif = {L"Georgia", L"Times New Roman", L"Liberation Serif", L"DejaVu Serif"};
    const std::vector<const wchar_t*> sans = {L"Microsoft Sans Serif", L"MS Sans Serif", L"Tahoma", L"Liberation Sans",
                                              L"DejaVu Sans"};
    m_fonts[Default] = Controls::makeFont(sans, 8.25, m_dpi);
    m_fonts[Serif] = Controls::makeFont(serif, 9.75, m_dpi);
    m_fonts[SerifLarge] = Controls::makeFont(serif, 12, m_dpi);
    m_fonts[AgencySerif] = Controls::makeFont(serif, 8.25, m_dpi);
    m_fonts[TextBox] = Controls::makeFont(sans, 9.75, m_dpi);
    // The headings' heavy condensed face; without it a bold condensed sans keeps their weight.
    const bool heavy = Controls::installed(L"Haettenschweiler") || Controls::installed(L"Impact");
    m_fonts[Display] = Controls::makeFont(
        {L"Haettenschweiler", L"Impact", L"Arial Narrow", L"Liberation Sans Narrow", L"DejaVu Sans Condensed"}, 14.25,
        m_dpi, !heavy);
    m_fonts[Narrow] =
        Controls::makeFont({L"Arial Narrow", L"Liberation Sans Narrow", L"DejaVu Sans Condensed"}, 8.25, m_dpi);
    m_fonts[Separator] =
        Controls::makeFont({L"Arial Black", L"Arial", L"Liberation Sans", L"DejaVu Sans"}, 15.75, m_dpi, true);
    m_fonts[Emblem] = Controls::installed(L"Wingdings")
                          ? Controls::makeFont({L"Wingdings"}, 36, m_dpi, true)
                          : Controls::makeFont({L"Segoe UI Symbol", L"DejaVu Sans"}, 27, m_dpi, true);
}

HWND MainWindow::add(const wchar_t* windowClass, const std::string& caption, DWORD style, int id, RECT place,
                     Face face) {
    HWND control = Controls::make(m_window, windowClass, caption, style, id, {}, nullptr, m_dpi);
    m_placed.push_back({control, place, face});
    return control;
}

void MainWindow::build() {
    m_tooltips =
        ::CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT, CW_USEDEFAULT,
                          CW_USEDEFAULT, CW_USEDEFAULT, m_window, nullptr, ::GetModuleHandleW(nullptr), nullptr);

    // The controls that take the focus, in their tab order; the window's order of children is the order Tab
    // follows.
    lst_contribuyentes = add(WC_COMBOBOXW, "", CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL | WS_TABSTOP,
                             ControlId::lst_contribuyentes, within(kFrame1, 240, 360, 6015, 330), TextBox);
    m_txt_desde = add(WC_EDITW, "", ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, ControlId::txt_desde,
                      within(kFrame4, 945, 420, 1200, 330), TextBox);
    m_txt_hasta = add(WC_EDITW, "", ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, ControlId::txt_hasta,
                      within(kFrame4, 3045, 420, 1200, 330), TextBox);
    for (HWND box : {m_txt_desde, m_txt_hasta}) ::SendMessageW(box, EM_SETLIMITTEXT, 6, 0);
    add(WC_BUTTONW, "Borrar", BS_PUSHBUTTON | WS_TABSTOP, ControlId::btn_borrar, within(kFrame4, 5385, 405, 855, 360),
        Default);
    // Each option its own group: Tab visits every one, as the form's tab order does; a click selects it alone.
    for (int index = 0; index <= 2; ++index) {
        const int row = 2 - index;  // options 2, 1, 0 from the top
        const int rowTop = kGridTop + kHeadingRow + row * kRowHeight;
        m_chk_separador[std::size_t(index)] =
            add(WC_BUTTONW, "", BS_RADIOBUTTON | WS_TABSTOP | WS_GROUP, ControlId::chk_separador_0 + index,
                within(kFrame2, kGridLeft + 105, rowTop + 105, 300, 300), Default);
    }
    add(WC_BUTTONW, " .TXT para O.R.V.", BS_PUSHBUTTON | WS_TABSTOP | WS_GROUP, ControlId::btn_gen_txt_orv,
        within(kFrame5, 120, 1680, 2175, 735), Serif);
    add(WC_BUTTONW, "  .XLS  Excel", BS_PUSHBUTTON | WS_TABSTOP, ControlId::BTN_XLS,
        within(kFrame5, 120, 90, 2175, 735), Serif);
    add(WC_BUTTONW, "Todo", BS_PUSHBUTTON | WS_TABSTOP, ControlId::Command2, within(kFrame4, 4440, 405, 855, 360),
        Default);
    add(WC_BUTTONW, " .CSV Excel", BS_PUSHBUTTON | WS_TABSTOP, ControlId::btn_gen_csv,
        within(kFrame5, 120, 885, 2175, 735), Serif);
    add(WC_BUTTONW, "Salir", BS_PUSHBUTTON | WS_TABSTOP, ControlId::Command3, twips(5400, 3600, 1095, 2415),
        SerifLarge);
    ::SendMessageW(m_chk_separador[2], BM_SETCHECK, BST_CHECKED, 0);

    Controls::addTooltip(m_tooltips, lst_contribuyentes,
                         "Seleccione el contribuyente al cual desea generar las Percepciones y Retenciones");
    Controls::addTooltip(m_tooltips, m_txt_desde, "Ingrese el anticipo DESDE a generar");
    Controls::addTooltip(m_tooltips, m_txt_hasta, "Ingrese el anticipo HASTA a generar");

    // The captions, then the frames around them.
    const bool wingdings = Controls::installed(L"Wingdings");
    add(WC_STATICW, wingdings ? "=" : "\u2709", SS_CENTER | SS_CENTERIMAGE, -1, twips(180, 45, 720, 735), Emblem);
    add(WC_STATICW, std::string("Velmora ") + kVersion, SS_LEFT | SS_CENTERIMAGE, -1, twips(960, 60, 5475, 405),
        Display);
    add(WC_STATICW, kAgency, SS_LEFT | SS_CENTERIMAGE, -1, twips(960, 480, 5475, 270), AgencySerif);
    add(WC_STATICW, "Desde", SS_LEFT | SS_CENTERIMAGE, -1, within(kFrame4, 240, 420, 690, 330), Serif);
    add(WC_STATICW, "Hasta", SS_LEFT | SS_CENTERIMAGE, -1, within(kFrame4, 2340, 420, 690, 330), Serif);
    m_label13 = add(WC_STATICW, "Generar Archivos  de Retenciones y Percepciones ", SS_CENTER | SS_CENTERIMAGE, -1,
                    twips(240, 2970, 6135, 465), Display);
    m_label14 = add(WC_STATICW, "Configuración archivo CSV", SS_CENTER | SS_CENTERIMAGE, -1,
                    within(kFrame2, 120, 150, 2415, 270), Narrow);
    const int fieldLeft = kGridLeft + kOptionColumn, decimalLeft = fieldLeft + kColumnWidth;
    add(WC_STATICW, "Separador de Campo", SS_CENTER, -1,
        within(kFrame2, fieldLeft + 15, kGridTop + 30, kColumnWidth - 15, kHeadingRow - 30), Default);
    add(WC_STATICW, "Separador Decimal", SS_CENTER, -1,
        within(kFrame2, decimalLeft + 15, kGridTop + 30, kColumnWidth - 30, kHeadingRow - 30), Default);
    const char* const fields[] = {";", ";", ","};
    const char* const decimals[] = {",", ".", "."};
    for (int row = 0; row < 3; ++row) {
        const int rowTop = kGridTop + kHeadingRow + row * kRowHeight;
        add(WC_STATICW, fields[row], SS_CENTER | SS_CENTERIMAGE, -1,
            within(kFrame2, fieldLeft + 255, rowTop + 15, 450, 450), Separator);
        add(WC_STATICW, decimals[row], SS_CENTER | SS_CENTERIMAGE, -1,
            within(kFrame2, decimalLeft + 255, rowTop + 15, 450, 450), Separator);
    }
    add(WC_BUTTONW, "Seleccione el Contribuyente", BS_GROUPBOX, -1, kFrame1, Serif);
    add(WC_BUTTONW, "Anticipos  - Utilice el siguiente formato :  aaaamm   (Ej: 200501)", BS_GROUPBOX, -1, kFrame4,
        Serif);
    add(WC_BUTTONW, "", BS_GROUPBOX, -1, kFrame2, Default);
    add(WC_BUTTONW, "", BS_GROUPBOX, -1, kFrame5, Default);
}

void MainWindow::layOut() {
    const DWORD style = DWORD(::GetWindowLongPtrW(m_window, GWL_STYLE));
    const DWORD extended = DWORD(::GetWindowLongPtrW(m_window, GWL_EXSTYLE));
    RECT frame{0, 0, Controls::scaled(kClientWidth, m_dpi), Controls::scaled(kClientHeight, m_dpi)};
    ::AdjustWindowRectExForDpi(&frame, style, FALSE, extended, m_dpi);
    ::SetWindowPos(m_window, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    for (const Placed& placed : m_placed) {
        const RECT& r = placed.twips;
        int height = Controls::scaled((r.bottom - r.top) / kTwipsPerPixel, m_dpi);
        // A drop-down list's height includes its open list.
        if (placed.control == lst_contribuyentes) height += Controls::scaled(200, m_dpi);
        ::SetWindowPos(placed.control, nullptr, Controls::scaled(r.left / kTwipsPerPixel, m_dpi),
                       Controls::scaled(r.top / kTwipsPerPixel, m_dpi),
                       Controls::scaled((r.right - r.left) / kTwipsPerPixel, m_dpi), height,
                       SWP_NOZORDER | SWP_NOACTIVATE);
        ::SendMessageW(placed.control, WM_SETFONT, reinterpret_cast<WPARAM>(m_fonts[placed.face]), TRUE);
    }
    fitCaptions();
}

void MainWindow::fitCaptions() {
    for (HFONT font : m_fitted) ::DeleteObject(font);
    m_fitted.clear();
    // The captions were sized for the faces named in makeFonts; a wider face standing in for one of them would clip
    // its caption, so the caption's size comes down until it fits its control.
    for (const Placed& placed : m_placed) {
        wchar_t type[32] = {};
        ::GetClassNameW(placed.control, type, int(std::size(type)));
        const LONG_PTR style = ::GetWindowLongPtrW(placed.control, GWL_STYLE);
        const bool label = std::wstring(type) == WC_STATICW && (style & SS_CENTERIMAGE) != 0;
        const bool buttonClass = std::wstring(type) == WC_BUTTONW;
        const bool button = buttonClass && (style & BS_TYPEMASK) == BS_PUSHBUTTON;
        const bool frame = buttonClass && (style & BS_TYPEMASK) == BS_GROUPBOX;
        if (!label && !button && !frame) continue;
        const int padding = frame ? 20 : button ? 12 : 2;  // a frame's caption sits between its corners
        if (HFONT smaller = Controls::fitCaption(placed.control, Controls::scaled(padding, m_dpi), m_dpi))
            m_fitted.push_back(smaller);
    }
}

void MainWindow::load() { Form_Load(m_form); }

bool MainWindow::takeDialogKey(MSG& message) {
    if (m_progress && m_progress->takeDialogKey(message)) return true;
    if (message.hwnd != m_window && !::IsChild(m_window, message.hwnd)) return false;
    // A command starts only by a click or by Space on the focused button: never by Enter, never by Esc.
    if (message.message == WM_KEYDOWN && (message.wParam == VK_RETURN || message.wParam == VK_ESCAPE)) {
        const bool listOpen = ::SendMessageW(lst_contribuyentes, CB_GETDROPPEDSTATE, 0, 0) != 0;
        if (!listOpen) return true;
    }
    return ::IsDialogMessageW(m_window, &message) != 0;
}

std::string MainWindow::lst_contribuyentes_Text() const { return Controls::text(lst_contribuyentes); }

void MainWindow::lst_contribuyentes_AddItem(const std::string& entry) {
    // The text field keeps what it held: adding to the list selects nothing.
    ::SendMessageW(lst_contribuyentes, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wideText(entry).c_str()));
}

std::string MainWindow::txt_desde() const { return Controls::text(m_txt_desde); }

std::string MainWindow::txt_hasta() const { return Controls::text(m_txt_hasta); }

void MainWindow::set_txt_desde(const std::string& text) { Controls::setText(m_txt_desde, text); }

void MainWindow::set_txt_hasta(const std::string& text) { Controls::setText(m_txt_hasta, text); }

bool MainWindow::chk_separador(int index) const {
    if (index < 0 || index > 2) return false;
    return ::SendMessageW(m_chk_separador[std::size_t(index)], BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void MainWindow::chooseSeparator(int index) {
    for (int option = 0; option <= 2; ++option)
        ::SendMessageW(m_chk_separador[std::size_t(option)], BM_SETCHECK, option == index ? BST_CHECKED : BST_UNCHECKED,
                       0);
}

void MainWindow::btn_gen_txt_orv_Click() { startExport(::btn_gen_txt_orv_Click); }

void MainWindow::btn_gen_csv_Click() { startExport(::btn_gen_csv_Click); }

void MainWindow::BTN_XLS_Click() { startExport(::BTN_XLS_Click); }

void MainWindow::Command2_Click() { ::Command2_Click(m_form); }

void MainWindow::btn_borrar_Click() { ::btn_borrar_Click(m_form); }

void MainWindow::Command3_Click() {
    if (m_export) return endAfterExport(AfterExport::Exit);
    ::Command3_Click(m_form);
    ::DestroyWindow(m_window);
}

void MainWindow::command(int id, int notification) {
    if (notification != BN_CLICKED) return;
    switch (id) {
        case ControlId::btn_gen_txt_orv: btn_gen_txt_orv_Click(); break;
        case ControlId::btn_gen_csv: btn_gen_csv_Click(); break;
        case ControlId::BTN_XLS: BTN_XLS_Click(); break;
        case ControlId::Command2: Command2_Click(); break;
        case ControlId::btn_borrar: btn_borrar_Click(); break;
        case ControlId::Command3: Command3_Click(); break;
        case ControlId::chk_separador_0:
        case ControlId::chk_separador_0 + 1:
        case ControlId::chk_separador_0 + 2: chooseSeparator(id - ControlId::chk_separador_0); break;
        default: break;
    }
}

void MainWindow::startExport(ExportRun::Command command) {
    // A click during an export starts nothing: the database is the running export's.
    if (m_export) return;
    HWND window = m_window;
    m_export = std::make_unique<ExportRun>(m_form, command, *m_exportBoxes,
                                           [window] { ::PostMessageW(window, kServeExport, 0, 0); });
    m_export->pauseAfterEachMovement(m_pause);
    ::SetTimer(m_window, kProgressTimer, kProgressDelayMs, nullptr);
    m_export->start([this](const ExportOutcome&, const std::string& escaped) { exportEnded(escaped); });
}

void MainWindow::exportEnded(const std::string& escaped) {
    ::KillTimer(m_window, kProgressTimer);
    closeProgress();
    m_export.reset();
    // The command shows how it ended; what escaped it did not end as a command does.
    if (!escaped.empty()) m_messages.MsgBox("Error : " + escaped, MsgIcon::Critical, MsgButtons::OK);
    const AfterExport after = std::exchange(m_afterExport, AfterExport::Stay);
    if (after == AfterExport::Exit)
        Command3_Click();
    else if (after == AfterExport::Close)
        ::DestroyWindow(m_window);
}

void MainWindow::endAfterExport(AfterExport after) {
    // "Salir" outranks the close control: it also closes the database.
    if (after == AfterExport::Exit || m_afterExport == AfterExport::Stay) m_afterExport = after;
}

MsgAnswer MainWindow::showExportBox(const std::string& text, MsgIcon icon, MsgButtons buttons,
                                    const std::optional<std::string>& title) {
    // The progress window closes before every box, and the time a box waits for the user is not the export's.
    ::KillTimer(m_window, kProgressTimer);
    closeProgress();
    const MsgAnswer answer = m_messages.MsgBox(text, icon, buttons, title);
    // Once the file is being written, a box comes only at the end: no progress window after it.
    if (m_export && !m_export->progress().started) ::SetTimer(m_window, kProgressTimer, kProgressDelayMs, nullptr);
    return answer;
}

void MainWindow::showProgress() {
    if (!m_export || m_progress) return;
    ExportRun* run = m_export.get();
    m_progress = std::make_unique<ProgressWindow>(
        m_window, m_dpi, [run] { return run->progress(); }, [run] { run->cancel(); });
}

void MainWindow::closeProgress() { m_progress.reset(); }

void MainWindow::paint(HDC dc) {
    const auto pixels = [&](const RECT& r) {
        return RECT{Controls::scaled(r.left / kTwipsPerPixel, m_dpi), Controls::scaled(r.top / kTwipsPerPixel, m_dpi),
                    Controls::scaled(r.right / kTwipsPerPixel, m_dpi),
                    Controls::scaled(r.bottom / kTwipsPerPixel, m_dpi)};
    };
    const auto fillWith = [&](RECT r, COLORREF colour) {
        HBRUSH brush = ::CreateSolidBrush(colour);
        const RECT p = pixels(r);
        ::FillRect(dc, &p, brush);
        ::DeleteObject(brush);
    };
    fillWith(twips(120, 45, 6375, 735), kTitleGreen);
    fillWith(twips(960, 465, 5475, 15), RGB(0, 0, 0));
    fillWith(twips(135, 2940, 6345, 525), kBandGrey);
    fillWith(within(kFrame2, 120, 150, 2415, 270), kCsvOrange);
    // The grid of separator options: its box, the rule under the headings and between rows, and the columns.
    const RECT grid = within(kFrame2, kGridLeft, kGridTop, kGridWidth, kGridHeight);
    const int line = 15;
    fillWith(twips(grid.left, grid.top, kGridWidth, line), kGridGrey);
    fillWith(twips(grid.left, grid.bottom - line, kGridWidth, line), kGridGrey);
    fillWith(twips(grid.left, grid.top, line, kGridHeight), kGridGrey);
    fillWith(twips(grid.right - line, grid.top, line, kGridHeight), kGridGrey);
    for (int row = 0; row < 3; ++row)
        fillWith(twips(grid.left, grid.top + kHeadingRow + row * kRowHeight, kGridWidth, line), kGridGrey);
    fillWith(twips(grid.left + kOptionColumn, grid.top, line, kGridHeight), kGridGrey);
    fillWith(twips(grid.left + kOptionColumn + kColumnWidth, grid.top, line, kGridHeight), kGridGrey);
}

LRESULT MainWindow::handleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND: command(LOWORD(wParam), HIWORD(wParam)); return 0;
        case WM_TIMER:
            if (wParam == kProgressTimer) {
                ::KillTimer(m_window, kProgressTimer);
                showProgress();
            }
            return 0;
        case kServeExport:
            if (m_export) m_export->serve();
            return 0;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = ::BeginPaint(m_window, &ps);
            paint(dc);
            ::EndPaint(m_window, &ps);
            return 0;
        }
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN: {
            // Captions and options lie on the form or on its bands: no background of their own.
            HDC dc = reinterpret_cast<HDC>(wParam);
            const HWND control = reinterpret_cast<HWND>(lParam);
            if (control == m_txt_desde || control == m_txt_hasta) break;
            ::SetBkMode(dc, TRANSPARENT);
            ::SetTextColor(dc, control == m_label13 ? RGB(64, 64, 64) : ::GetSysColor(COLOR_BTNTEXT));
            return reinterpret_cast<LRESULT>(::GetStockObject(NULL_BRUSH));
        }
        case WM_DPICHANGED: {
            m_dpi = HIWORD(wParam);
            makeFonts();
            layOut();
            const auto* suggested = reinterpret_cast<const RECT*>(lParam);
            ::SetWindowPos(m_window, nullptr, suggested->left, suggested->top, 0, 0,
                           SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
            ::InvalidateRect(m_window, nullptr, TRUE);
            return 0;
        }
        case WM_CLOSE:
            // Closing during an export lets it end; the window closes then.
            if (m_export) {
                endAfterExport(AfterExport::Close);
                return 0;
            }
            ::DestroyWindow(m_window);
            return 0;
        case WM_DESTROY: ::PostQuitMessage(0); return 0;
        default: break;
    }
    return ::DefWindowProcW(m_window, message, wParam, lParam);
}
