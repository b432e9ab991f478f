#pragma once

#include "platform/OutputFile.h"
#include "source/Database.h"
#include "workbook/Spreadsheet.h"

#include <memory>
#include <string>

class Form1Controls;
class Recordset;

// Told what an export does as it goes. The window and the command line use it for progress and counts.
class ExportObserver {
public:
    virtual ~ExportObserver() = default;

    // A movement was written, as a line or a workbook row; `rs` is on its row.
    virtual void movementWritten(const Recordset& rs) = 0;
};

// The part of the form's state an export runs on: the connection, the controls the range is read from, the kind
// of file with its separators, and where the movements go: output channel 1 for "TXT" and "CSV", the workbook for
// "XLS". The form is one; the commands set it up before they call a driver.
struct ExportState {
    explicit ExportState(Form1Controls& formControls) : controls(formControls) {}

    Form1Controls& controls;
    std::unique_ptr<Database> Conn;
    // Output channel 1; tests may replace it.
    std::unique_ptr<OutputFile> file1 = makeOutputFile();
    std::unique_ptr<ExcelSheet> vExcelSheet;
    std::string G_SC;
    std::string G_SD;
    std::string G_TIPO_ARCHIVO;
    // Told of each movement written, when set.
    ExportObserver* observer = nullptr;
};
