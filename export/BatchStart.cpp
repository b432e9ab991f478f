#include "export/BatchStart.h"

#include "platform/FileSystem.h"
#include "platform/MessageBoxes.h"
#include "runtime/RuntimeError.h"
#include "runtime/Text.h"
#include "selection/Form1Controls.h"
#include "selection/RangeValidation.h"

#include <filesystem>

std::optional<StartedBatch> startWindowBatch(const BatchChoices& choices, const std::string& workingFolder,
                                             MessageBoxes& boxes,
                                             const std::function<std::unique_ptr<Workspace>()>& workspace) {
    // The main window's checks of the range, with its messages; every taxpayer stands for the one chosen there.
    PlainControls controls;
    controls.combo = "-";
    controls.desde = choices.desde;
    controls.hasta = choices.hasta;
    if (!Validar_Datos(controls, boxes)) return std::nullopt;

    BatchOptions options;
    options.desde = choices.desde;
    options.hasta = choices.hasta;
    options.all = true;
    options.format = choices.format;
    options.dialect = choices.dialect;
    options.folder = FileSystem::withoutTrailingSeparators(std::string(trimBlanks(choices.folder)));
    // A folder named relatively is in the working folder, where RET-PERC is.
    if (!options.folder.empty() && std::filesystem::path(options.folder).is_relative())
        options.folder = FileSystem::childPath(workingFolder, options.folder);
    options.replace = choices.replace;
    options.count = choices.count;
    options.check = choices.check;
    if (options.folder.empty()) {
        boxes.MsgBox("Indique la carpeta de salida!", MsgIcon::Critical, MsgButtons::OK);
        return std::nullopt;
    }

    StartedBatch started{std::make_unique<BatchExport>(options, workingFolder), {}, options};
    if (workspace) started.batch->useWorkspace(workspace);
    // The connection's and the folder's own boxes say why a run cannot start.
    if (!started.batch->start(boxes) || (!options.count && !started.batch->outputReady())) return std::nullopt;
    try {
        started.taxpayers = started.batch->taxpayers();
    } catch (const std::exception& e) {
        boxes.MsgBox("Error : " + RuntimeError::describe(e), MsgIcon::Critical, MsgButtons::OK);
        return std::nullopt;
    }
    return started;
}
