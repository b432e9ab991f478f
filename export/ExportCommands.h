#pragma once

#include <cstdint>
#include <string>

struct Form1;

// The output path: G_CARPETA_GENERACION, "RET-PERC-IB-", the reference without dashes, "-", the first period,
// "-", the last period and the extension. Raises Bad file name (52) when the file's name would hold a "/" (or a
// NUL), which would name a file outside the output folder.
std::string ruta_salida(const Form1& form, const std::string& reference, const std::string& extension);

// How an export command ended. The window shows the command's boxes and needs nothing more; a batch of exports
// reports from this, whatever the boxes say.
struct ExportOutcome {
    enum class Kind {
        Refused,    // the range or the taxpayer's box was refused (the window's message was shown)
        NotFound,   // no taxpayer has the reference typed
        Kept,       // the file existed and was left as it was
        Written,    // the file was written
        Cancelled,  // stopped on the observer's request: no file
        Failed,     // an error: no file
    };
    Kind kind = Kind::Refused;
    std::string reference;       // the taxpayer's CMD_NumRef as stored, once found
    std::string path;            // the file, once its taxpayer is found
    std::int64_t movements = 0;  // Written: the movements the file holds
    std::string description;     // Failed: the error's description
    int error = 0;               // Failed: the run-time error's number (0 for another failure)
};

// The three export commands, run by their buttons. They run on any one thread at a time, with the form's boxes
// shown from it. An export the form's observer stops leaves no file and an existing one as it was (the workbook
// is discarded unsaved), and ends with one information box instead of the error boxes.
using ExportCommand = ExportOutcome (*)(Form1& form);
ExportOutcome btn_gen_txt_orv_Click(Form1& form);
ExportOutcome btn_gen_csv_Click(Form1& form);
ExportOutcome BTN_XLS_Click(Form1& form);

// The workbook command with the file's extension as a parameter: ".XLS" for the button, ".xlsx" for the command
// line's workbook, which form.createObject then makes. Validates, looks the taxpayer up and runs Generar_XLS,
// showing the button's messages.
ExportOutcome exportWorkbook(Form1& form, const std::string& extension);

// Creates the workbook, fills it by the declaration walk, saves it at `path` and reports the outcome: Written,
// Cancelled or Failed.
ExportOutcome Generar_XLS(Form1& form, std::int32_t& key, const std::string& path);
