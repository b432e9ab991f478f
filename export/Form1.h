#pragma once

#include "extraction/ExportState.h"
#include "platform/MessageBoxes.h"
#include "selection/Form1Controls.h"

#include <functional>
#include <memory>
#include <string>

// The main form's state and the runtime pieces its procedures use. The window owns one; the command line, tests
// and benchmarks build their own with other controls and message boxes.
struct Form1 : ExportState {
    Form1(Form1Controls& formControls, MessageBoxes& messageBoxes, std::string applicationPath)
        : ExportState(formControls), messages(messageBoxes), appPath(std::move(applicationPath)) {}

    MessageBoxes& messages;
    // The working folder, which holds Impuest.mdb and RET-PERC (the runtime's application path when the program
    // runs from its own folder), without a trailing separator.
    std::string appPath;
    // The database engine; tests may replace it.
    std::function<std::unique_ptr<Workspace>()> createWorkspace = Workspaces0;

    // Form variables besides those of ExportState.
    std::unique_ptr<Workspace> WS;
    std::string G_CARPETA_GENERACION;
};
