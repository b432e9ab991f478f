#include "winapp/AllTaxpayersWindow.h"

#include "export/BatchStart.h"
#include "platform/FileSystem.h"
#include "platform/windows/WideText.h"
#include "runtime/RuntimeError.h"
#include "runtime/UserNumbers.h"
#include "winapp/ControlIds.h"
#include "winapp/Controls.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <ctime>

namespace {

constexpr int kClientWidth = 1100, kClientHeight = 700;  // pixels at 96 dpi
constexpr UINT_PTR kClockTimer = 1;                      // the status line's seconds, and sorting new results
// While a run goes on, the window delivers what it sent at every tick of this timer. A message posted for each
// result would come before the user's clicks and keys, which Windows hands out only when no posted message waits:
// a run of many small taxpayers would then leave "Cancelar", the list and its scroll bar deaf until it ended.
constexpr UINT_PTR kServeTimer = 2;
constexpr UINT kServeMs = 15;

struct FormatChoice {
    const char* caption;
    BatchFormat format;
};
// .xlsx is written on Linux only.
constexpr FormatChoice kFormats[] = {
    {"TXT para O.R.V.", BatchFormat::Txt}, {"CSV Excel", BatchFormat::Csv}, {"XLS Excel", BatchFormat::Xls}};
struct SeparatorChoice {
    const char* caption;
    int dialect;
};
// The main window's three options, in its order.
constexpr SeparatorChoice kSeparators[] = {
    {"Campo ;  Decimal ,", 2}, {"Campo ;  Decimal .", 1}, {"Campo ,  Decimal .", 0}};

const int kColumnWidths[] = {130, 260, 100, 420, 300};

bool checked(HWND box) { return ::SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED; }

int selected(HWND list) { return int(::SendMessageW(list, CB_GETCURSEL, 0, 0)); }

std::string nowText() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_s(&local, &now);
    char text[32];
    std::strftime(text, sizeof text, "%d/%m/%Y %H:%M", &local);
    return text;
}

}  // namespace

AllTaxpayersWindow::AllTaxpayersWindow(std::string appPath) : m_appPath(std::move(appPath)) {
    Controls::registerClass(kAllTaxpayersWindowClass, L"VELMORA_TODOS");
    const DWORD style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
    m_window = ::CreateWindowExW(WS_EX_CONTROLPARENT, kAllTaxpayersWindowClass,
                                 wideText("Exportación de todos los contribuyentes").c_str(), style, CW_USEDEFAULT,
                                 CW_USEDEFAULT, kClientWidth, kClientHeight, nullptr, nullptr,
                                 ::GetModuleHandleW(nullptr), nullptr);
    Controls::attach<AllTaxpayersWindow, &AllTaxpayersWindow::handleMessage>(m_window, this);
    m_messages.setOwner(m_window);
    m_dpi = ::GetDpiForWindow(m_window);
    m_font = Controls::makeFont({L"Segoe UI", L"Tahoma", L"Microsoft Sans Serif"}, 9, m_dpi);
    build();
    RECT frame{0, 0, Controls::scaled(kClientWidth, m_dpi), Controls::scaled(kClientHeight, m_dpi)};
    ::AdjustWindowRectExForDpi(&frame, style, FALSE, WS_EX_CONTROLPARENT, m_dpi);
    ::SetWindowPos(m_window, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                   SWP_NOMOVE | SWP_NOZORDER);
    Controls::centre(m_window, nullptr);
    layOut();
    setRunning(false);
    ::SetFocus(m_desde);
}

AllTaxpayersWindow::~AllTaxpayersWindow() {
    // The run goes before the batch it runs.
    m_run.reset();
    if (::IsWindow(m_window)) {
        ::SetWindowLongPtrW(m_window, GWLP_USERDATA, 0);
        ::DestroyWindow(m_window);
    }
    ::DeleteObject(m_font);
}

void AllTaxpayersWindow::build() {
    const auto control = [&](const wchar_t* type, const std::string& caption, DWORD style, int id) {
        return Controls::make(m_window, type, caption, style, id, {}, m_font, m_dpi);
    };
    const auto label = [&](const std::string& caption) {
        m_labels.push_back(control(WC_STATICW, caption, SS_LEFT | SS_CENTERIMAGE, -1));
        return m_labels.back();
    };
    // In tab order.
    label("Anticipo DESDE");
    m_desde = control(WC_EDITW, "", ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, ControlId::todos_desde);
    label("HASTA");
    m_hasta = control(WC_EDITW, "", ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, ControlId::todos_hasta);
    for (HWND box : {m_desde, m_hasta}) {
        ::SendMessageW(box, EM_SETLIMITTEXT, 6, 0);
        ::SendMessageW(box, EM_SETCUEBANNER, FALSE, reinterpret_cast<LPARAM>(L"aaaamm"));
    }
    m_todo = control(WC_BUTTONW, "Todo", BS_PUSHBUTTON | WS_TABSTOP, ControlId::todos_todo);
    label("Formato");
    m_format = control(WC_COMBOBOXW, "", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, ControlId::todos_formato);
    for (const FormatChoice& choice : kFormats)
        ::SendMessageW(m_format, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wideText(choice.caption).c_str()));
    ::SendMessageW(m_format, CB_SETCURSEL, 0, 0);
    label("Separadores del CSV");
    m_separators = control(WC_COMBOBOXW, "", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, ControlId::todos_separadores);
    for (const SeparatorChoice& choice : kSeparators)
        ::SendMessageW(m_separators, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wideText(choice.caption).c_str()));
    ::SendMessageW(m_separators, CB_SETCURSEL, 0, 0);
    label("Carpeta de salida");
    m_folder = control(WC_EDITW, FileSystem::childPath(m_appPath, "RET-PERC"), ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP,
                       ControlId::todos_carpeta);
    m_chooseFolder = control(WC_BUTTONW, "Cambiar...", BS_PUSHBUTTON | WS_TABSTOP, ControlId::todos_cambiar);
    m_replace = control(WC_BUTTONW, "Reemplazar los archivos existentes", BS_AUTOCHECKBOX | WS_TABSTOP,
                        ControlId::todos_reemplazar);
    m_check = control(WC_BUTTONW, "Verificar CUIT", BS_AUTOCHECKBOX | WS_TABSTOP, ControlId::todos_verificar);
    m_count = control(WC_BUTTONW, "Contar", BS_PUSHBUTTON | WS_TABSTOP, ControlId::todos_contar);
    m_export = control(WC_BUTTONW, "Exportar", BS_PUSHBUTTON | WS_TABSTOP, ControlId::todos_exportar);
    m_cancel = control(WC_BUTTONW, "Cancelar", BS_PUSHBUTTON | WS_TABSTOP, ControlId::todos_cancelar);
    m_saveReport = control(WC_BUTTONW, "Guardar informe", BS_PUSHBUTTON | WS_TABSTOP, ControlId::todos_informe);
    m_progress = control(PROGRESS_CLASSW, "", 0, ControlId::todos_avance);
    m_status = control(WC_STATICW, "", SS_LEFT | SS_CENTERIMAGE | SS_ENDELLIPSIS, ControlId::todos_estado);
    m_onlyProblems = control(WC_BUTTONW, "Solo problemas", BS_AUTOCHECKBOX | WS_TABSTOP, ControlId::todos_problemas);
    m_table = control(WC_LISTVIEWW, "",
                      LVS_REPORT | LVS_OWNERDATA | LVS_SHOWSELALWAYS | LVS_SINGLESEL | WS_BORDER | WS_TABSTOP,
                      ControlId::todos_tabla);
    ListView_SetExtendedListViewStyle(m_table,
                                      LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES | LVS_EX_DOUBLEBUFFER | LVS_EX_LABELTIP);
    for (int column = 0; column < BatchTable::ColumnCount; ++column) {
        std::wstring heading = wideText(BatchTable::heading(BatchTable::Column(column)));
        LVCOLUMNW description{};
        description.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
        description.fmt = column == BatchTable::Movements ? LVCFMT_RIGHT : LVCFMT_LEFT;
        description.cx = Controls::scaled(kColumnWidths[column], m_dpi);
        description.pszText = heading.data();
        ListView_InsertColumn(m_table, column, &description);
    }
}

void AllTaxpayersWindow::layOut() {
    RECT client{};
    ::GetClientRect(m_window, &client);
    const auto px = [&](int value) { return Controls::scaled(value, m_dpi); };
    const int width = client.right, height = client.bottom;
    const auto put = [&](HWND control, int left, int top, int w, int h) {
        ::SetWindowPos(control, nullptr, left, top, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
    };
    const int margin = px(10), row = px(30), field = px(24), labelWidth = px(115);
    put(m_labels[0], margin, margin, labelWidth, field);
    put(m_desde, margin + labelWidth, margin, px(70), field);
    put(m_labels[1], margin + labelWidth + px(78), margin, px(45), field);
    put(m_hasta, margin + labelWidth + px(125), margin, px(70), field);
    put(m_todo, margin + labelWidth + px(205), margin, px(80), field);
    put(m_labels[2], margin, margin + row, labelWidth, field);
    put(m_format, margin + labelWidth, margin + row, px(170), px(200));
    put(m_labels[3], margin + labelWidth + px(180), margin + row, px(135), field);
    put(m_separators, margin + labelWidth + px(320), margin + row, px(170), px(200));
    put(m_labels[4], margin, margin + 2 * row, labelWidth, field);
    put(m_folder, margin + labelWidth, margin + 2 * row, width - 2 * margin - labelWidth - px(100), field);
    put(m_chooseFolder, width - margin - px(92), margin + 2 * row, px(92), field);
    put(m_replace, margin + labelWidth, margin + 3 * row, px(260), field);
    put(m_check, margin + labelWidth + px(280), margin + 3 * row, px(160), field);
    put(m_count, margin, margin + 4 * row, px(80), field);
    put(m_export, margin + px(88), margin + 4 * row, px(80), field);
    put(m_cancel, margin + px(176), margin + 4 * row, px(80), field);
    put(m_saveReport, width - margin - px(120), margin + 4 * row, px(120), field);
    put(m_progress, margin, margin + 5 * row + px(4), width - 2 * margin, px(18));
    put(m_status, margin, margin + 6 * row, width - 2 * margin, field);
    put(m_onlyProblems, margin, margin + 7 * row, px(200), field);
    const int tableTop = margin + 8 * row;
    put(m_table, margin, tableTop, width - 2 * margin, std::max(height - tableTop - margin, px(60)));
}

bool AllTaxpayersWindow::takeDialogKey(MSG& message) {
    if (message.hwnd != m_window && !::IsChild(m_window, message.hwnd)) return false;
    // Enter and Esc start nothing: a run starts by its button.
    if (message.message == WM_KEYDOWN && (message.wParam == VK_RETURN || message.wParam == VK_ESCAPE)) return true;
    return ::IsDialogMessageW(m_window, &message) != 0;
}

BatchFormat AllTaxpayersWindow::chosenFormat() const {
    const int index = selected(m_format);
    return index >= 0 && index < int(std::size(kFormats)) ? kFormats[index].format : BatchFormat::Txt;
}

void AllTaxpayersWindow::command(int id, int notification) {
    if (id == ControlId::todos_formato && notification == CBN_SELCHANGE) {
        ::EnableWindow(m_separators, chosenFormat() == BatchFormat::Csv);
        return;
    }
    if (notification != BN_CLICKED) return;
    switch (id) {
        case ControlId::todos_todo:
            Controls::setText(m_desde, "200001");
            Controls::setText(m_hasta, "222201");
            break;
        case ControlId::todos_cambiar: chooseFolder(); break;
        case ControlId::todos_contar: startRun(true); break;
        case ControlId::todos_exportar: startRun(false); break;
        case ControlId::todos_cancelar:
            if (m_run) m_run->cancel();
            break;
        case ControlId::todos_informe: saveReport(); break;
        case ControlId::todos_problemas: arrangeRows(); break;
        default: break;
    }
}

void AllTaxpayersWindow::startRun(bool count) {
    if (m_run) return;
    BatchChoices choices;
    choices.desde = Controls::text(m_desde);
    choices.hasta = Controls::text(m_hasta);
    choices.format = chosenFormat();
    const int separator = selected(m_separators);
    choices.dialect = separator >= 0 && separator < 3 ? kSeparators[separator].dialect : 2;
    choices.folder = Controls::text(m_folder);
    choices.replace = checked(m_replace);
    choices.count = count;
    choices.check = checked(m_check);
    std::optional<StartedBatch> started = startWindowBatch(choices, m_appPath, m_messages);
    if (!started) return;

    const int format = selected(m_format);
    std::string formatName = format >= 0 && format < int(std::size(kFormats)) ? kFormats[format].caption : "";
    if (choices.format == BatchFormat::Csv && separator >= 0 && separator < 3)
        formatName += std::string(" (") + kSeparators[separator].caption + ")";
    if (count) formatName += ", solo contar";
    m_asked = {};
    m_asked.desde = started->options.desde;
    m_asked.hasta = started->options.hasta;
    m_asked.format = formatName;
    m_asked.options = reportOptions(choices.replace, choices.check, started->options.folder);
    m_asked.madeAt = nowText();

    m_rows.reset(started->taxpayers);
    arrangeRows();
    m_batch = std::move(started->batch);
    m_done = 0;
    m_totals = {};
    m_waiting = false;
    m_run = std::make_unique<BatchRun>(*m_batch, std::move(started->taxpayers), m_messages, [] {});
    setRunning(true);
    m_started = std::chrono::steady_clock::now();
    showStatus();
    ::SetTimer(m_window, kClockTimer, 200, nullptr);
    ::SetTimer(m_window, kServeTimer, kServeMs, nullptr);
    BatchRun::Events events;
    events.result = [this](std::size_t row, const TaxpayerResult& result) {
        m_rows.setResult(row, result);
        ++m_done;
        m_totals.add(result);
        m_waiting = false;
        // The list reads its cells when it paints, the rows in sight only: it is painted again once the results
        // of this tick are in; a sorted or filtered list is arranged again by the clock, and the status line written
        // by it, not at every result.
        ::InvalidateRect(m_table, nullptr, FALSE);
    };
    events.waiting = [this] {
        m_waiting = true;
        showStatus();
    };
    events.ended = [this](const BatchEnd& end) { runEnded(end); };
    m_run->start(std::move(events));
}

void AllTaxpayersWindow::runEnded(const BatchEnd& end) {
    ::KillTimer(m_window, kClockTimer);
    ::KillTimer(m_window, kServeTimer);
    m_waiting = false;
    showStatus();
    m_run.reset();
    const std::string stopped = end.stoppedByWrites ? m_batch->stoppedMessage() : std::string();
    m_batch.reset();
    const bool cancelled = end.done < end.total;
    if (cancelled) m_rows.markNotExported();
    arrangeRows();
    if (!stopped.empty()) m_messages.MsgBox(stopped, MsgIcon::Critical, MsgButtons::OK);
    if (!end.failure.empty()) m_messages.MsgBox("Error : " + end.failure, MsgIcon::Critical, MsgButtons::OK);
    Controls::setText(m_status, (cancelled ? "Cancelado. " : "Terminado. ") + Controls::text(m_status));
    setRunning(false);
    if (m_closeAfterRun) ::DestroyWindow(m_window);
}

void AllTaxpayersWindow::showStatus() {
    const std::size_t total = m_rows.size();
    ::SendMessageW(m_progress, PBM_SETRANGE32, 0, LPARAM(std::max<std::size_t>(total, 1)));
    ::SendMessageW(m_progress, PBM_SETPOS, WPARAM(m_done), 0);
    if (m_waiting) {
        Controls::setText(m_status, "Esperando a que la base de datos deje de cambiar...");
        return;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - m_started).count();
    Controls::setText(m_status, "Contribuyentes: " + userCount(std::int64_t(m_done)) + " de " +
                                    userCount(std::int64_t(total)) +
                                    " · movimientos: " + userCount(m_totals.movements) + " · " + userSeconds(seconds));
}

void AllTaxpayersWindow::setRunning(bool running) {
    for (HWND control :
         {m_desde, m_hasta, m_todo, m_format, m_folder, m_chooseFolder, m_replace, m_check, m_count, m_export})
        ::EnableWindow(control, !running);
    ::EnableWindow(m_separators, !running && chosenFormat() == BatchFormat::Csv);
    ::EnableWindow(m_cancel, running);
    ::EnableWindow(m_saveReport, !running && m_rows.size() > 0);
}

void AllTaxpayersWindow::arrangeRows() {
    const bool onlyProblems = checked(m_onlyProblems);
    m_shown.clear();
    for (std::size_t row = 0; row < m_rows.size(); ++row)
        if (!onlyProblems || m_rows.problem(row)) m_shown.push_back(row);
    if (m_sortColumn >= 0) {
        const auto column = BatchTable::Column(m_sortColumn);
        std::stable_sort(m_shown.begin(), m_shown.end(), [&](std::size_t a, std::size_t b) {
            return m_sortDescending ? m_rows.before(b, a, column) : m_rows.before(a, b, column);
        });
    }
    ListView_SetItemCountEx(m_table, int(m_shown.size()), LVSICF_NOSCROLL);
    ::InvalidateRect(m_table, nullptr, FALSE);
}

void AllTaxpayersWindow::chooseFolder() {
    BROWSEINFOW browse{};
    browse.hwndOwner = m_window;
    const std::wstring title = wideText("Carpeta de salida");
    browse.lpszTitle = title.c_str();
    browse.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    PIDLIST_ABSOLUTE chosen = ::SHBrowseForFolderW(&browse);
    if (!chosen) return;
    wchar_t path[MAX_PATH * 4] = {};
    if (::SHGetPathFromIDListEx(chosen, path, DWORD(std::size(path)), GPFIDL_DEFAULT))
        Controls::setText(m_folder, utf8Text(path));
    ::CoTaskMemFree(chosen);
}

void AllTaxpayersWindow::saveReport() {
    const std::string proposed = FileSystem::childPath(FileSystem::withoutTrailingSeparators(Controls::text(m_folder)),
                                                       "informe-" + m_asked.desde + "-" + m_asked.hasta + ".csv");
    std::wstring file = wideText(proposed);
    file.resize(32768, L'\0');
    const std::wstring title = wideText("Guardar informe");
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = m_window;
    dialog.lpstrFilter = L"CSV (*.csv)\0*.csv\0";
    dialog.lpstrFile = file.data();
    dialog.nMaxFile = DWORD(file.size());
    dialog.lpstrTitle = title.c_str();
    dialog.lpstrDefExt = L"csv";
    dialog.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
    if (!::GetSaveFileNameW(&dialog)) return;
    const std::string path = utf8Text(file.c_str());
    BatchReport report = m_asked;
    report.filter = reportRows(checked(m_onlyProblems));
    report.totals = m_totals.describe();
    // The table as the list shows it: its order, its filter.
    for (const std::size_t row : m_shown) report.rows.push_back(m_rows.reportRow(row));
    try {
        saveBatchReport(report, path);
        m_messages.MsgBox("Informe guardado : " + path, MsgIcon::Information, MsgButtons::OK);
    } catch (const std::exception& e) {
        m_messages.MsgBox("Error al guardar el informe!!\r\rMotivo: " + RuntimeError::describe(e), MsgIcon::Critical,
                          MsgButtons::OK);
    }
}

LRESULT AllTaxpayersWindow::notify(const NMHDR& header) {
    if (header.hwndFrom != m_table) return 0;
    switch (header.code) {
        case LVN_GETDISPINFOW: {
            auto& info = const_cast<NMLVDISPINFOW&>(reinterpret_cast<const NMLVDISPINFOW&>(header));
            if ((info.item.mask & LVIF_TEXT) == 0 || info.item.iItem < 0 ||
                std::size_t(info.item.iItem) >= m_shown.size())
                return 0;
            m_cellText =
                wideText(m_rows.cell(m_shown[std::size_t(info.item.iItem)], BatchTable::Column(info.item.iSubItem)));
            ::lstrcpynW(info.item.pszText, m_cellText.c_str(), info.item.cchTextMax);
            return 0;
        }
        case LVN_COLUMNCLICK: {
            const int column = reinterpret_cast<const NMLISTVIEW&>(header).iSubItem;
            m_sortDescending = column == m_sortColumn && !m_sortDescending;
            m_sortColumn = column;
            HWND headings = ListView_GetHeader(m_table);
            for (int c = 0; c < BatchTable::ColumnCount; ++c) {
                HDITEMW item{};
                item.mask = HDI_FORMAT;
                Header_GetItem(headings, c, &item);
                item.fmt &= ~(HDF_SORTUP | HDF_SORTDOWN);
                if (c == column) item.fmt |= m_sortDescending ? HDF_SORTDOWN : HDF_SORTUP;
                Header_SetItem(headings, c, &item);
            }
            arrangeRows();
            return 0;
        }
        case NM_DBLCLK: {
            const int item = reinterpret_cast<const NMITEMACTIVATE&>(header).iItem;
            if (item < 0 || std::size_t(item) >= m_shown.size()) return 0;
            const std::string file = m_rows.writtenFile(m_shown[std::size_t(item)]);
            if (!file.empty())
                ::ShellExecuteW(m_window, L"open", wideText(file).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
            return 0;
        }
        default: return 0;
    }
}

LRESULT AllTaxpayersWindow::handleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND: command(LOWORD(wParam), HIWORD(wParam)); return 0;
        case WM_NOTIFY: return notify(*reinterpret_cast<const NMHDR*>(lParam));
        case WM_SIZE: layOut(); return 0;
        case WM_TIMER:
            if (wParam == kClockTimer) {
                showStatus();
                if (m_sortColumn >= 0 || checked(m_onlyProblems)) arrangeRows();
            } else if (wParam == kServeTimer && m_run) {
                m_run->serve();
            }
            return 0;
        case WM_DPICHANGED: {
            m_dpi = HIWORD(wParam);
            ::DeleteObject(m_font);
            m_font = Controls::makeFont({L"Segoe UI", L"Tahoma", L"Microsoft Sans Serif"}, 9, m_dpi);
            for (HWND child = ::GetWindow(m_window, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT))
                ::SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(m_font), TRUE);
            const auto* suggested = reinterpret_cast<const RECT*>(lParam);
            ::SetWindowPos(m_window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                           suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
            return 0;
        }
        case WM_CLOSE:
            // Closing during a run stops it (the taxpayer under way leaves no file) and closes once it ended.
            if (m_run) {
                m_closeAfterRun = true;
                m_run->cancel();
                return 0;
            }
            ::DestroyWindow(m_window);
            return 0;
        case WM_DESTROY: ::PostQuitMessage(0); return 0;
        default: break;
    }
    return ::DefWindowProcW(m_window, message, wParam, lParam);
}
