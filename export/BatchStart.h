#pragma once

#include "export/BatchExport.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class MessageBoxes;
class Workspace;

// What the window of every taxpayer asks for, as typed into it.
struct BatchChoices {
    std::string desde, hasta;
    BatchFormat format = BatchFormat::Txt;
    int dialect = 2;
    std::string folder;  // as typed: relative to the working folder unless absolute
    bool replace = false, count = false, check = false;
};

// A batch of the window of every taxpayer, started: its exports and the taxpayers to export.
struct StartedBatch {
    std::unique_ptr<BatchExport> batch;
    std::vector<BatchTaxpayer> taxpayers;
    BatchOptions options;
};

// Starts the batch the window's choices ask for, as both windows of every taxpayer do: the range checked as the main
// window checks it, the folder taken in `workingFolder` when named relatively, the database opened and the output
// folder made ready (unless counting), the list read. Every refusal is shown by `boxes` with the main window's
// words; nothing is returned then. `workspace` replaces the database engine when set (tests slow it down).
std::optional<StartedBatch> startWindowBatch(const BatchChoices& choices, const std::string& workingFolder,
                                             MessageBoxes& boxes,
                                             const std::function<std::unique_ptr<Workspace>()>& workspace = {});
