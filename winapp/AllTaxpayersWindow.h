#pragma once

#include "export/BatchExport.h"
#include "export/BatchReport.h"
#include "export/BatchRun.h"
#include "export/BatchTable.h"
#include "winapp/WindowsMessageBoxes.h"

#include <windows.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

// "Exportación de todos los contribuyentes" on Windows: the batch of velmora-export in a window, as on Linux. Every
// taxpayer of the list is counted or exported over one range, in one format, by the same commands as the main
// window's buttons, as a background job (BatchRun); the table (a virtual list view, fluid at any number of rows)
// fills as the exports end, and can be sorted by a column's title, filtered to the problems and saved as a report.
class AllTaxpayersWindow {
public:
    // `appPath` is the working folder, which holds Impuest.mdb and RET-PERC.
    explicit AllTaxpayersWindow(std::string appPath);
    AllTaxpayersWindow(const AllTaxpayersWindow&) = delete;
    AllTaxpayersWindow& operator=(const AllTaxpayersWindow&) = delete;
    ~AllTaxpayersWindow();

    HWND handle() const noexcept { return m_window; }
    bool takeDialogKey(MSG& message);

private:
    LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void build();
    void layOut();
    void command(int id, int notification);
    LRESULT notify(const NMHDR& header);

    void startRun(bool count);
    void runEnded(const BatchEnd& end);
    void showStatus();
    void setRunning(bool running);
    void arrangeRows();
    void chooseFolder();
    void saveReport();
    BatchFormat chosenFormat() const;

    std::string m_appPath;
    HWND m_window = nullptr;
    UINT m_dpi = 96;
    WindowsMessageBoxes m_messages;
    HFONT m_font = nullptr;

    HWND m_desde = nullptr, m_hasta = nullptr, m_todo = nullptr, m_format = nullptr, m_separators = nullptr;
    HWND m_folder = nullptr, m_chooseFolder = nullptr, m_replace = nullptr, m_check = nullptr;
    HWND m_count = nullptr, m_export = nullptr, m_cancel = nullptr, m_saveReport = nullptr;
    HWND m_progress = nullptr, m_status = nullptr, m_onlyProblems = nullptr, m_table = nullptr;
    std::vector<HWND> m_labels;

    BatchTable m_rows;
    std::vector<std::size_t> m_shown;  // the rows the list shows, in its order
    int m_sortColumn = -1;
    bool m_sortDescending = false;

    std::unique_ptr<BatchExport> m_batch;
    std::unique_ptr<BatchRun> m_run;
    std::size_t m_done = 0;
    BatchTotals m_totals;
    bool m_waiting = false;
    std::chrono::steady_clock::time_point m_started;
    BatchReport m_asked;
    bool m_closeAfterRun = false;
    std::wstring m_cellText;  // the text a cell asked for last, kept while the list view reads it
};
