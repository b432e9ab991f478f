#pragma once

#include "database/Database.h"
#include "platform/OutputFile.h"
#include "runtime/RuntimeError.h"
#include "workbook/Spreadsheet.h"

#include <cstdint>
#include <exception>
#include <memory>
#include <string>

class Form1Controls;

// Told what an export does as it goes. The window shows it as progress and may ask the export to stop; the command
// line counts movements. Every call comes from the thread running the export.
class ExportObserver {
public:
    virtual ~ExportObserver() = default;

    // The command has asked its questions and starts writing the file of the taxpayer `reference` (CMD_NumRef).
    virtual void exportStarted(const std::string& /*reference*/) {}
    // The database file changed while the export read it: what was written is thrown away, and the export starts
    // again from the file as it is (declarationsChosen comes again, and every movement).
    virtual void exportRestarted() {}
    // The walk has chosen the declarations of the range: `count` of them are to be exported. Told once, before
    // the first is exported.
    virtual void declarationsChosen(std::int64_t /*count*/) {}
    // A movement was written, as a line or a workbook row.
    virtual void movementWritten(const Movement& movement) = 0;
    // Every movement of one chosen declaration has been written.
    virtual void declarationDone() {}
    // Asked before each declaration and each movement; true stops the export there with ExportCancelled.
    virtual bool stopRequested() { return false; }
    // Asked when the file to write exists and the export is to ask (the window's question): true replaces it,
    // false leaves it as it is and ends the export there.
    virtual bool replaceExisting(const std::string& /*path*/) { return false; }
    // Told when whether the file to write exists could not be told: the export goes on as if it did.
    virtual void existenceTestFailed(const std::string& /*path*/) {}
};

// Raised by the walk when the observer asked the export to stop. The commands' handlers treat it apart from
// run-time errors: the file is abandoned or the workbook discarded, and one box says so.
class ExportCancelled : public std::exception {
public:
    const char* what() const noexcept override { return "exportación cancelada"; }
};

// The part of the form's state an export runs on: the connection, the controls the range is read from, the kind
// of file with its separators, and where the movements go: output channel 1 for "TXT" and "CSV", the workbook for
// "XLS". The form is one; the commands set it up before they call a driver.
struct ExportState {
    explicit ExportState(Form1Controls& formControls) : controls(formControls) {}

    Form1Controls& controls;
    std::unique_ptr<Database> Conn;
    // The reading of the database file the command under way reads through (readUnchangedFile makes it). A
    // command drops it when it ends, unless `keepsReading`: a batch's exports go on with one reading while the file
    // stays as it was read.
    std::unique_ptr<Reading> reading;
    bool keepsReading = false;
    // Output channel 1; tests may replace it.
    std::unique_ptr<OutputFile> file1 = makeOutputFile();
    std::unique_ptr<ExcelSheet> vExcelSheet;
    // The automation factory the workbook is created with; tests may replace it.
    ObjectFactory createObject = CreateObject;
    std::string G_SC;
    std::string G_SD;
    std::string G_TIPO_ARCHIVO;
    // Told of what the export does, when set.
    ExportObserver* observer = nullptr;
    // The movements the export under way has written, as lines or workbook rows.
    std::int64_t movementsWritten = 0;

    // The command's reading. Raises Object variable not set (91) when there is none: no connection.
    Reading& currentReading() const {
        if (!reading) throw RuntimeError::databaseNotOpen();
        return *reading;
    }

    // Raises ExportCancelled when the observer asks the export to stop.
    void stopWhenAsked() const {
        if (observer && observer->stopRequested()) throw ExportCancelled();
    }
};
