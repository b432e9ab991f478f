#pragma once

#include "selection/CuitCheck.h"

#include <cstdint>
#include <string>
#include <vector>

struct ExportState;

enum class ExportFormat { Txt, Csv, Xls, Xlsx };

// What an export does with a file of its name that exists already.
enum class ExistingFile {
    Ask,      // the observer is asked (the window's question), after the existence test
    Replace,  // the file is written over without a test
    Keep,     // the file is left as it is and the export ends there (Kept)
};

// One export, as every front end asks for it: the window's buttons, the command line, the window of every taxpayer.
struct ExportRequest {
    std::string reference;  // the taxpayer as typed into the window's box: its first 13 characters count
    std::string desde;      // the range, as typed
    std::string hasta;
    ExportFormat format = ExportFormat::Txt;
    int dialect = 2;     // the CSV's separator option, 0 to 2 as the window's chk_separador; -1 none chosen
    std::string folder;  // G_CARPETA_GENERACION: the output folder with its trailing separator
    ExistingFile existing = ExistingFile::Ask;
    bool countOnly = false;   // the export runs as it would, and writes nothing
    bool dropEmpty = false;   // an export without a movement leaves no file (Empty)
    bool checkCuits = false;  // the taxpayer's CUIT and the agents' of the movements exported are checked
};

// A CUIT with a problem, as stored: the taxpayer's (CMD_NumRef) or an agent's (Per_CUIT), with the number of
// movements exported that carry it.
struct CuitFinding {
    bool agent = false;
    std::string value;
    std::int64_t movements = 0;
    CuitProblem problem = CuitProblem::None;
};

// How an export ended.
struct ExportOutcome {
    enum class Kind {
        Refused,      // the range or the taxpayer's box was refused (the window's message was shown), or left blank
        NotFound,     // no taxpayer has the reference typed
        Kept,         // the file existed and was left as it was
        Written,      // the file was written
        Counted,      // a count: nothing was written
        Empty,        // no movement, and the request drops an empty export: no file
        Cancelled,    // stopped on the observer's request: no file
        Failed,       // an error: no file
        TooManyRows,  // a workbook would need more rows than its format holds: refused before anything was written
    };
    Kind kind = Kind::Refused;
    std::string reference;       // the taxpayer's CMD_NumRef as stored, once found
    std::string path;            // the file, once its taxpayer is found
    std::int64_t movements = 0;  // the movements written (counted), up to the error for a failed export
    std::string description;     // Failed: the error's description; TooManyRows: what the format holds, in Spanish
    int error = 0;               // Failed: the run-time error's number (0 for another failure)
    // Failed: in the workbook's driver (Generar_XLS) rather than in the command, and whether the workbook had been
    // created then.
    bool inDriver = false;
    bool workbookCreated = false;
    std::vector<CuitFinding> problems;  // with checkCuits: the CUITs with a problem
};

// Runs one export: looks the taxpayer up, names the file, settles an existing one as the request says, and writes
// the file from a reading of the database during which the file did not change. `form` gives the connection (and
// the reading a batch keeps), the output channel, the workbook factory and the observer told of progress and asked
// questions and whether to stop; its form variables G_SC, G_SD and G_TIPO_ARCHIVO are set as the commands set them.
// Shows nothing: what happened is the outcome. Never raises.
ExportOutcome exportTaxpayer(ExportState& form, const ExportRequest& request);

// Whether this build writes `format`: every format on Linux; on Windows all but Xlsx, for want of a writer
// (workbook/XlsxWorkbook.h). An export of a format not offered fails, saying so, before it looks anything up.
bool formatOffered(ExportFormat format) noexcept;

// The output file's name in `folder`: "RET-PERC-IB-", the reference without dashes, "-", the first period, "-",
// the last period and the extension. Raises Bad file name (52) when the system would not take that name as one file
// of the folder (FileSystem::isFileName): on Linux a "/" or a NUL, which would name a file outside the folder; on
// Windows also "\", ":", the other characters it refuses, a trailing dot or blank, a device's name.
std::string outputPath(const std::string& folder, const std::string& reference, const std::string& desde,
                       const std::string& hasta, const std::string& extension);
