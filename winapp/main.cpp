// velmora.exe: the program's window on Windows, or with --todos the window of every taxpayer; --dir DIR names the
// working folder.
#include "platform/FileSystem.h"
#include "platform/WorkingFolder.h"
#include "platform/windows/WideText.h"
#include "runtime/RuntimeError.h"
#include "winapp/AllTaxpayersWindow.h"
#include "winapp/MainWindow.h"
#include "winapp/WindowsMessageBoxes.h"

#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>
#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Arguments {
    std::string dir;
    bool todos = false;
    std::string wrong;  // what was not understood
};

Arguments readArguments() {
    Arguments read;
    int count = 0;
    LPWSTR* words = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::vector<std::string> args;
    for (int i = 1; i < count; ++i) args.push_back(utf8Text(words[i]));
    ::LocalFree(words);
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--todos")
            read.todos = true;
        else if (args[i] == "--dir" && i + 1 < args.size())
            read.dir = args[++i];
        else if (args[i].starts_with("--dir="))
            read.dir = args[i].substr(6);
        else if (read.wrong.empty())
            read.wrong = args[i];
    }
    return read;
}

// Runs the window's messages until it is closed; `takeKey` gives the window its keys first (Tab, Space...).
template <typename Window>
int run(Window& window) {
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (window.takeDialogKey(message)) continue;
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    return int(message.wParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int show) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS |
                                                       ICC_BAR_CLASSES | ICC_TAB_CLASSES};
    ::InitCommonControlsEx(&controls);
    // The folder chooser of the window of every taxpayer is a shell dialog.
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    WindowsMessageBoxes boxes;
    const Arguments arguments = readArguments();
    if (!arguments.wrong.empty()) {
        boxes.MsgBox("No se entiende la opción " + arguments.wrong + ". Uso: velmora.exe [--todos] [--dir CARPETA]",
                     MsgIcon::Critical, MsgButtons::OK);
        return 2;
    }
    std::string folder;
    try {
        folder = workingFolder(FileSystem::executableFolder(), homeFolder(), arguments.dir);
    } catch (const std::exception& e) {
        boxes.MsgBox("Error : " + RuntimeError::describe(e), MsgIcon::Critical, MsgButtons::OK);
        return 1;
    }
    if (arguments.todos) {
        AllTaxpayersWindow window(folder);
        ::ShowWindow(window.handle(), show);
        return run(window);
    }
    MainWindow window(folder);
    // The window's tests slow its exports down, to act while one runs.
    if (const char* pause = std::getenv("VELMORA_PAUSA_MS"))
        window.pauseExports(std::chrono::milliseconds(std::strtol(pause, nullptr, 10)));
    // The start-up messages (output folder, connection) come before the window appears.
    window.load();
    ::ShowWindow(window.handle(), show);
    ::UpdateWindow(window.handle());
    return run(window);
}
