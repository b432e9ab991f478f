// The Windows window driven from outside, as a user drives it: velmora.exe started on a copy of a database, its
// controls found by their numbers, text typed and buttons clicked through window messages, each box read (its title
// and text are on its controls) and answered. What the window shows and writes is compared with what the program's
// own commands show and write for the same input, run here on another copy.
#include "export/BatchExport.h"
#include "export/BatchTable.h"
#include "export/ExportCommands.h"
#include "export/Form1.h"
#include "export/StartUp.h"
#include "platform/windows/WideText.h"
#include "support/ScriptedMessageBoxes.h"
#include "support/TestFiles.h"
#include "winapp/ControlIds.h"

#include <gtest/gtest.h>
// windows.h before the headers that build on it.
#include <windows.h>

#include <commctrl.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <thread>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// A box of the program's, as shown.
struct SeenBox {
    HWND window = nullptr;
    std::string title, text;
};

std::string windowText(HWND window) {
    wchar_t buffer[8192] = {};
    ::SendMessageTimeoutW(window, WM_GETTEXT, std::size(buffer), reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG,
                          2000, nullptr);
    return utf8Text(buffer);
}

// velmora.exe running on a folder of its own.
class Program {
public:
    Program(const fs::path& folder, const std::string& arguments, const std::string& pause = "") {
        std::wstring command =
            L"\"" + wideText(VELMORA_WINDOW_EXE) + L"\" --dir \"" + folder.wstring() + L"\" " + wideText(arguments);
        if (!pause.empty()) ::SetEnvironmentVariableW(L"VELMORA_PAUSA_MS", wideText(pause).c_str());
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        m_started = ::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                     &m_process) != 0;
        ::SetEnvironmentVariableW(L"VELMORA_PAUSA_MS", nullptr);
    }
    ~Program() {
        if (!m_started) return;
        if (::WaitForSingleObject(m_process.hProcess, 0) == WAIT_TIMEOUT) ::TerminateProcess(m_process.hProcess, 9);
        ::CloseHandle(m_process.hThread);
        ::CloseHandle(m_process.hProcess);
    }
    bool started() const noexcept { return m_started; }
    DWORD id() const noexcept { return m_process.dwProcessId; }
    // Whether the program ended within `wait`.
    bool ended(std::chrono::milliseconds wait = 10s) const {
        return ::WaitForSingleObject(m_process.hProcess, DWORD(wait.count())) == WAIT_OBJECT_0;
    }

    // The program's visible top-level window of class `type` (#32770 for a box), once there.
    HWND window(const wchar_t* type, std::chrono::milliseconds wait = 10s) const {
        const auto until = std::chrono::steady_clock::now() + wait;
        do {
            struct Search {
                DWORD process;
                const wchar_t* type;
                HWND found;
            } search{id(), type, nullptr};
            ::EnumWindows(
                [](HWND window, LPARAM data) -> BOOL {
                    auto& s = *reinterpret_cast<Search*>(data);
                    DWORD owner = 0;
                    ::GetWindowThreadProcessId(window, &owner);
                    wchar_t name[64] = {};
                    ::GetClassNameW(window, name, int(std::size(name)));
                    if (owner == s.process && ::IsWindowVisible(window) && std::wstring(name) == s.type) {
                        s.found = window;
                        return FALSE;
                    }
                    return TRUE;
                },
                reinterpret_cast<LPARAM>(&search));
            if (search.found) return search.found;
            std::this_thread::sleep_for(20ms);
        } while (std::chrono::steady_clock::now() < until);
        return nullptr;
    }

    // The box the program shows next, read.
    SeenBox box(std::chrono::milliseconds wait = 10s) const {
        SeenBox seen;
        seen.window = window(L"#32770", wait);
        if (!seen.window) return seen;
        seen.title = windowText(seen.window);
        seen.text = windowText(::GetDlgItem(seen.window, 0xFFFF));
        return seen;
    }
    // Answers the box with its button `button` (IDOK, IDYES, IDNO) and waits for it to go.
    static void answer(const SeenBox& box, int button) {
        ::PostMessageW(box.window, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                       reinterpret_cast<LPARAM>(::GetDlgItem(box.window, button)));
        for (int i = 0; i < 250 && ::IsWindow(box.window) && ::IsWindowVisible(box.window); ++i)
            std::this_thread::sleep_for(20ms);
    }

private:
    PROCESS_INFORMATION m_process{};
    bool m_started = false;
};

void type(HWND window, int control, const std::string& text) {
    const std::wstring wide = wideText(text);
    ::SendMessageTimeoutW(::GetDlgItem(window, control), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide.c_str()),
                          SMTO_ABORTIFHUNG, 2000, nullptr);
}

// A click, posted as the button tells its window of one: the click's handler may show a box, which this program
// then reads.
void click(HWND window, int control) {
    ::PostMessageW(window, WM_COMMAND, MAKEWPARAM(control, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(window, control)));
}

// The entries of the window's taxpayer list.
std::vector<std::string> listEntries(HWND window) {
    HWND list = ::GetDlgItem(window, ControlId::lst_contribuyentes);
    std::vector<std::string> entries;
    const auto count = ::SendMessageW(list, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        std::wstring entry(std::size_t(::SendMessageW(list, CB_GETLBTEXTLEN, WPARAM(i), 0)) + 1, L'\0');
        ::SendMessageW(list, CB_GETLBTEXT, WPARAM(i), reinterpret_cast<LPARAM>(entry.data()));
        entries.push_back(utf8Text(entry.c_str()));
    }
    return entries;
}

// The text of a cell of a list view of another program: the text is read into memory of that program's own.
std::string listViewCell(DWORD process, HWND list, int row, int column) {
    HANDLE other = ::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, process);
    constexpr std::size_t kChars = 2048;
    auto* remote = static_cast<char*>(
        ::VirtualAllocEx(other, nullptr, sizeof(LVITEMW) + kChars * sizeof(wchar_t), MEM_COMMIT, PAGE_READWRITE));
    LVITEMW item{};
    item.iSubItem = column;
    item.cchTextMax = int(kChars);
    item.pszText = reinterpret_cast<wchar_t*>(remote + sizeof(LVITEMW));
    ::WriteProcessMemory(other, remote, &item, sizeof item, nullptr);
    ::SendMessageW(list, LVM_GETITEMTEXTW, WPARAM(row), reinterpret_cast<LPARAM>(remote));
    std::wstring text(kChars, L'\0');
    ::ReadProcessMemory(other, remote + sizeof(LVITEMW), text.data(), kChars * sizeof(wchar_t), nullptr);
    ::VirtualFreeEx(other, remote, 0, MEM_RELEASE);
    ::CloseHandle(other);
    return utf8Text(text.c_str());
}

// The program's folder: a copy of a database as its Impuest.mdb.
fs::path programFolder(const TempDir& dir, const std::string& name, const std::string& database) {
    const fs::path folder = dir.path() / name;
    fs::create_directories(folder);
    fs::copy_file(pathOf(database), folder / "Impuest.mdb");
    return folder;
}

// The boxes and the file the program's own command gives for the same input, run on another copy.
struct Expected {
    std::vector<ShownBox> boxes;
    std::string file;  // empty when none is written
};

// The boxes name the program's folder where the command's name its own.
Expected expected(const TempDir& dir, const fs::path& programFolder_, ExportCommand command,
                  const std::string& taxpayer, const std::string& desde, const std::string& hasta, bool existing,
                  bool answerYes, bool folderRefused = false) {
    static int made = 0;
    const fs::path folder =
        programFolder(dir, "expected-" + std::to_string(++made), testData("data/impuest-cases.mdb"));
    if (folderRefused) writeBytes(folder / "RET-PERC", "a file where the output folder goes");
    PlainControls controls;
    ScriptedMessageBoxes boxes;
    Form1 form(controls, boxes, folder.string());
    Form_Load(form);
    controls.combo = taxpayer;
    controls.desde = desde;
    controls.hasta = hasta;
    if (existing) {
        command(form);
        if (!answerYes) boxes.queueAnswer(MsgAnswer::No);
    }
    boxes.clear();
    const ExportOutcome outcome = command(form);
    Expected result{boxes.shown(), {}};
    for (ShownBox& box : result.boxes)
        for (std::size_t at; (at = box.text.find(folder.string())) != std::string::npos;)
            box.text.replace(at, folder.string().size(), programFolder_.string());
    if (outcome.kind == ExportOutcome::Kind::Written) result.file = readBytes(pathOf(outcome.path));
    Command3_Click(form);
    return result;
}

bool haveDisplay() {
    // Wine shows windows only with a display; without one, the window cannot start.
    return ::GetSystemMetrics(SM_CXSCREEN) > 0 && std::getenv("VELMORA_NO_DISPLAY") == nullptr;
}

}  // namespace

// The main window: the list; the range refused (empty, reversed), a taxpayer not found, each export's file and
// boxes, the overwrite question answered No then Yes; each as the program's own commands give them.
TEST(WindowsWindow, MainWindowShowsAndWritesWhatTheCommandsDo) {
    if (!haveDisplay()) GTEST_SKIP() << "skipped: no display for Wine's windows (run under Xvfb)";
    TempDir dir;
    const fs::path folder = programFolder(dir, "program", testData("data/impuest-cases.mdb"));
    Program program(folder, "");
    ASSERT_TRUE(program.started());
    const HWND window = program.window(kMainWindowClass, 20s);
    ASSERT_NE(window, nullptr);

    PlainControls listed;
    {
        ScriptedMessageBoxes boxes;
        const fs::path other = programFolder(dir, "list", testData("data/impuest-cases.mdb"));
        Form1 form(listed, boxes, other.string());
        Form_Load(form);
        Command3_Click(form);
    }
    EXPECT_EQ(listEntries(window), listed.list);

    const struct {
        const char* name;
        ExportCommand command;
        int button;
        std::string taxpayer, desde, hasta;
        const char* extension;
        bool existing;
        bool answerYes;
    } cases[] = {
        {"empty range", btn_gen_txt_orv_Click, ControlId::btn_gen_txt_orv, "20-12345678-3", "", "", "", false, true},
        {"reversed range", btn_gen_csv_Click, ControlId::btn_gen_csv, "20-12345678-3", "200805", "200701", "", false,
         true},
        {"not found", BTN_XLS_Click, ControlId::BTN_XLS, "99-99999999-9", "200001", "222201", "", false, true},
        {"TXT", btn_gen_txt_orv_Click, ControlId::btn_gen_txt_orv, "20-12345678-3", "200001", "222201", ".txt", false,
         true},
        {"CSV", btn_gen_csv_Click, ControlId::btn_gen_csv, "30-71234567-1", "200001", "222201", ".csv", false, true},
        {"XLS", BTN_XLS_Click, ControlId::BTN_XLS, "20-12345678-3", "200001", "222201", ".XLS", false, true},
        {"TXT over the file, No", btn_gen_txt_orv_Click, ControlId::btn_gen_txt_orv, "20-12345678-3", "200001",
         "222201", ".txt", true, false},
        {"TXT over the file, Yes", btn_gen_txt_orv_Click, ControlId::btn_gen_txt_orv, "20-12345678-3", "200001",
         "222201", ".txt", true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Expected wanted = expected(dir, folder, c.command, c.taxpayer, c.desde, c.hasta, c.existing, c.answerYes);
        ::SendMessageW(::GetDlgItem(window, ControlId::lst_contribuyentes), CB_SETCURSEL, WPARAM(-1), 0);
        type(window, ControlId::lst_contribuyentes, c.taxpayer);
        type(window, ControlId::txt_desde, c.desde);
        type(window, ControlId::txt_hasta, c.hasta);
        click(window, c.button);
        for (const ShownBox& box : wanted.boxes) {
            const SeenBox seen = program.box();
            ASSERT_NE(seen.window, nullptr) << "no box: " << box.text;
            EXPECT_EQ(seen.text, box.text);
            EXPECT_EQ(seen.title, box.title.value_or(kApplicationTitle));
            Program::answer(seen, box.buttons == MsgButtons::YesNo ? (c.answerYes ? IDYES : IDNO) : IDOK);
        }
        if (!wanted.file.empty()) {
            std::string digits = c.taxpayer;
            std::erase(digits, '-');
            const fs::path written =
                folder / "RET-PERC" / ("RET-PERC-IB-" + digits + "-" + c.desde + "-" + c.hasta + c.extension);
            EXPECT_EQ(readBytes(written), wanted.file);
        }
    }

    // "Salir" closes the program.
    click(window, ControlId::Command3);
    EXPECT_TRUE(program.ended());
}

// An output folder that cannot be made (a file holds its name): each export says so in the command's box and
// writes nothing.
TEST(WindowsWindow, AnOutputFolderThatCannotBeMadeIsNamed) {
    if (!haveDisplay()) GTEST_SKIP() << "skipped: no display for Wine's windows (run under Xvfb)";
    TempDir dir;
    const fs::path folder = programFolder(dir, "program", testData("data/impuest-cases.mdb"));
    writeBytes(folder / "RET-PERC", "a file where the output folder goes");
    Program program(folder, "");
    const HWND window = program.window(kMainWindowClass, 20s);
    ASSERT_NE(window, nullptr);
    for (const auto& [command, button] : {std::pair{ExportCommand(btn_gen_txt_orv_Click), ControlId::btn_gen_txt_orv},
                                          std::pair{ExportCommand(btn_gen_csv_Click), ControlId::btn_gen_csv},
                                          std::pair{ExportCommand(BTN_XLS_Click), ControlId::BTN_XLS}}) {
        SCOPED_TRACE(button);
        const Expected wanted = expected(dir, folder, command, "20-12345678-3", "200001", "222201", false, true, true);
        ASSERT_FALSE(wanted.boxes.empty());
        type(window, ControlId::lst_contribuyentes, "20-12345678-3");
        type(window, ControlId::txt_desde, "200001");
        type(window, ControlId::txt_hasta, "222201");
        click(window, button);
        for (const ShownBox& box : wanted.boxes) {
            const SeenBox seen = program.box();
            ASSERT_NE(seen.window, nullptr) << "no box: " << box.text;
            EXPECT_EQ(seen.text, box.text);
            EXPECT_EQ(seen.title, box.title.value_or(kApplicationTitle));
            Program::answer(seen, IDOK);
        }
    }
    EXPECT_EQ(readBytes(folder / "RET-PERC"), "a file where the output folder goes");
    click(window, ControlId::Command3);
    EXPECT_TRUE(program.ended());
}

// An export under way: its progress window shows; Cancelar stops it and the file there stays as it was; "Salir"
// clicked while an export runs lets it end, its box shown, and then the program ends.
TEST(WindowsWindow, AnExportUnderWayCanBeCancelledOrLetEnd) {
    if (!haveDisplay()) GTEST_SKIP() << "skipped: no display for Wine's windows (run under Xvfb)";
    TempDir dir;
    const fs::path folder = programFolder(dir, "program", testData("data/impuest-cases.mdb"));
    const fs::path target = folder / "RET-PERC" / "RET-PERC-IB-30712345671-200001-222201.txt";
    Program program(folder, "", "400");  // 0.4 s after each movement
    const HWND window = program.window(kMainWindowClass, 20s);
    ASSERT_NE(window, nullptr);
    fs::create_directories(target.parent_path());
    writeBytes(target, "kept\r\n");
    type(window, ControlId::lst_contribuyentes, "30-71234567-1");
    click(window, ControlId::Command2);  // "Todo"
    click(window, ControlId::btn_gen_txt_orv);
    SeenBox question = program.box();
    EXPECT_NE(question.text.find("El archivo ya existe!"), std::string::npos) << question.text;
    Program::answer(question, IDYES);
    const HWND progress = program.window(kProgressWindowClass, 10s);
    ASSERT_NE(progress, nullptr);
    EXPECT_EQ(windowText(progress), "Generando archivo");
    click(progress, ControlId::btn_cancelar_exportacion);
    const SeenBox cancelled = program.box();
    EXPECT_EQ(cancelled.text, "Exportación cancelada. No se generó el archivo.");
    Program::answer(cancelled, IDOK);
    EXPECT_EQ(readBytes(target), "kept\r\n");

    fs::remove(target);
    // The export ends once its box is answered: a click before then starts nothing, as one export runs at a time.
    std::this_thread::sleep_for(1s);
    click(window, ControlId::btn_gen_txt_orv);
    ASSERT_NE(program.window(kProgressWindowClass, 10s), nullptr) << program.box(100ms).text;
    click(window, ControlId::Command3);  // "Salir" while the progress shows
    const SeenBox done = program.box(30s);
    EXPECT_EQ(done.text.rfind(" Archivo Generado : ", 0), 0u) << done.text;
    EXPECT_TRUE(done.text.ends_with(target.filename().string())) << done.text;
    Program::answer(done, IDOK);
    EXPECT_TRUE(program.ended());
    EXPECT_NE(readBytes(target), "");
}

// The window of every taxpayer counts and exports as the batch of the command line does: its table holds the
// batch's results, cell for cell, and its files are the batch's.
TEST(WindowsWindow, TheWindowOfEveryTaxpayerCountsAndExportsAsTheBatch) {
    if (!haveDisplay()) GTEST_SKIP() << "skipped: no display for Wine's windows (run under Xvfb)";
    TempDir dir;
    const fs::path folder = programFolder(dir, "program", testData("data/impuest-cases.mdb"));
    for (const bool count : {true, false}) {
        SCOPED_TRACE(count ? "count" : "export");
        const fs::path other =
            programFolder(dir, count ? "batch-count" : "batch-export", testData("data/impuest-cases.mdb"));
        BatchOptions options;
        options.desde = "200001";
        options.hasta = "222201";
        options.all = true;
        options.count = count;
        options.check = true;
        BatchExport batch(options, other.string());
        std::vector<std::string> messages;
        ASSERT_TRUE(batch.start(messages));
        BatchTable table;
        const std::vector<BatchTaxpayer> taxpayers = batch.taxpayers();
        table.reset(taxpayers);
        for (std::size_t row = 0; row < taxpayers.size(); ++row) table.setResult(row, batch.run(taxpayers[row]));

        Program program(folder, "--todos");
        const HWND window = program.window(kAllTaxpayersWindowClass, 20s);
        ASSERT_NE(window, nullptr);
        click(window, ControlId::todos_todo);
        ::SendMessageW(::GetDlgItem(window, ControlId::todos_verificar), BM_SETCHECK, BST_CHECKED, 0);
        click(window, count ? ControlId::todos_contar : ControlId::todos_exportar);
        const HWND status = ::GetDlgItem(window, ControlId::todos_estado);
        for (int i = 0; i < 500 && windowText(status).rfind("Terminado", 0) != 0; ++i)
            std::this_thread::sleep_for(20ms);
        ASSERT_EQ(windowText(status).rfind("Terminado", 0), 0u) << windowText(status);
        const HWND list = ::GetDlgItem(window, ControlId::todos_tabla);
        ASSERT_EQ(std::size_t(::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)), table.size());
        for (std::size_t row = 0; row < table.size(); ++row)
            for (int column = 0; column < BatchTable::ColumnCount; ++column) {
                std::string cell = table.cell(row, BatchTable::Column(column));
                // A file's name is the same; its folder is each program's own.
                EXPECT_EQ(listViewCell(program.id(), list, int(row), column), cell) << row << " " << column;
            }
        if (!count) {
            for (const auto& file : fs::directory_iterator(other / "RET-PERC"))
                EXPECT_EQ(readBytes(folder / "RET-PERC" / file.path().filename()), readBytes(file.path()))
                    << file.path().filename();
        }
        ::PostMessageW(window, WM_CLOSE, 0, 0);
        EXPECT_TRUE(program.ended());
    }
}
