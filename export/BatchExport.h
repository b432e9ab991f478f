#pragma once

#include "export/ExportTaxpayer.h"
#include "extraction/ExportState.h"
#include "selection/Form1Controls.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

enum class BatchFormat { Txt, Csv, Xls, Xlsx };

// What a batch of exports is asked to do: the command line's options.
struct BatchOptions {
    std::string desde;  // the range, as typed into the window's boxes
    std::string hasta;
    std::vector<std::string> taxpayers;  // references as typed into the window's box
    bool all = false;                    // every reference of the window's list instead
    BatchFormat format = BatchFormat::Txt;
    int dialect = 2;       // the CSV separator option, 0 to 2
    std::string database;  // empty: Impuest.mdb of the working folder
    std::string folder;    // the output folder without a trailing separator; empty: RET-PERC of the working folder
    bool replace = false;  // answer Yes to the overwrite question
    bool count = false;    // run every export, write nothing
    bool check = false;    // check the CUITs of the movements exported
};

// One taxpayer to handle: the reference to report, the text typed into the window's box for it and its name
// (empty for a reference given).
struct BatchTaxpayer {
    std::string reference;
    std::string entry;
    std::string name;
    // The names of the list's other taxpayers of the same reference, in the list's order: the lookup exports the
    // first the database holds with it, for all of them.
    std::vector<std::string> sharing;
};

// What the user is told of a reference shared by several taxpayers, in Spanish; empty when it is not shared.
std::string sharedReferenceNote(const BatchTaxpayer& taxpayer);

enum class BatchOutcome { Written, Kept, Counted, None, NotFound, Error, Cancelled };

// How one taxpayer's export ended.
struct TaxpayerResult {
    std::string reference;  // CMD_NumRef as stored; as given when the taxpayer was not found
    std::int64_t movements = 0;
    BatchOutcome outcome = BatchOutcome::Error;
    std::string detail;  // the file for Written and Kept, the error's description for Error
    std::vector<CuitFinding> problems;
};

// The result as the command line prints it: "written PATH", "kept PATH", "counted", "none", "not found",
// "error: REASON" (and "cancelled", which only an export asked to stop gives).
std::string resultWords(const TaxpayerResult& result);
// The result as the window of every taxpayer shows it, in Spanish.
std::string resultDescription(const TaxpayerResult& result);
// The CUIT problems, one after the other, in Spanish; empty when there is none.
std::string cuitDescription(const TaxpayerResult& result);
// Whether the export of the taxpayer did not end as asked, or a CUIT has a problem.
bool hasProblem(const TaxpayerResult& result);
// What a batch's exports came to, counted as their results come.
struct BatchTotals {
    std::size_t written = 0, none = 0, counted = 0, kept = 0, notFound = 0, errors = 0, problems = 0;
    std::int64_t movements = 0;  // movementsDone of each result

    void add(const TaxpayerResult& result);
    // Whether an export did not end as asked (kept, not found, failed or cancelled).
    bool anyFailed() const noexcept { return kept + notFound + errors > 0; }
    // In the user's words: "Archivos generados: 3 · sin movimientos: 1 · ... · problemas de CUIT: 0".
    std::string describe() const;
};

// The movements of the result that count in a batch's total: those of a file written or counted, or of a
// taxpayer without any; an export that failed or was cancelled has none.
std::int64_t movementsDone(const TaxpayerResult& result);

class MessageBoxes;
class Workspace;

// The exports of a batch for many taxpayers, without a window: one open database for all, each export made by the
// core call every front end uses (exportTaxpayer), each result made from the outcome it returns.
class BatchExport {
public:
    // `workingFolder`: where the default database and output folder are.
    BatchExport(BatchOptions options, std::string workingFolder);
    BatchExport(const BatchExport&) = delete;
    BatchExport& operator=(const BatchExport&) = delete;
    ~BatchExport();

    // The message the window's checks give for the range and each reference given (the list's entries stand for
    // themselves when their turn comes), or nothing when every export may go on.
    std::optional<std::string> refusal() const;

    // Opens the database as the window does, then prepares the output folder (created when missing, unless
    // counting) and checks that files can be written into it. Returns false when the database cannot be opened.
    // `messages` gets what the window would say on the way: that it could not connect, or why the output folder
    // cannot be used.
    bool start(std::vector<std::string>& messages);
    // The same, each message shown by `boxes` as the window shows it.
    bool start(MessageBoxes& boxes);
    // After start: whether the output folder is there to write into (when not counting).
    bool outputReady() const noexcept { return m_outputReady; }

    // The taxpayers to handle, in order: the references given, or every distinct reference of the window's list,
    // each typed into the box as stored (a reference the box cannot find, longer than its 13 characters, is not
    // found). Errors of the list's read pass to the caller.
    std::vector<BatchTaxpayer> taxpayers();

    // Makes the export of the chosen format for one taxpayer and tells how it ended. Never raises: a failure is
    // an Error outcome. Before the first export, the batch waits for the database file to settle when another
    // program is writing it, and tells its reading which taxpayers' movements the exports will read; an export
    // that meets a file that keeps changing is made again once the file has settled. When the file does not settle
    // within kSettleBound, the batch stops: see stoppedByWrites(). When `stop` says so, the export stops before its
    // next movement and leaves no file (Cancelled).
    TaxpayerResult run(const BatchTaxpayer& taxpayer, const std::function<bool()>& stop = {});

    // How long the batch waits, at most, for a database file being written to settle.
    static constexpr std::chrono::seconds kSettleBound{5};
    // Called, on the thread running the batch, when the batch starts waiting for the file to settle.
    void onWaiting(std::function<void()> notice) { m_waiting = std::move(notice); }
    // After run(): whether the batch stopped because the database file kept changing: that export's result is
    // none to report, and no export follows.
    bool stoppedByWrites() const noexcept { return m_stoppedByWrites; }
    // Why, in the user's words.
    std::string stoppedMessage() const;

    // The database engine that start() opens the database with; Workspaces0 unless set (tests slow it down).
    void useWorkspace(std::function<std::unique_ptr<Workspace>()> workspace);

private:
    class Progress;

    ExportRequest requestFor(const BatchTaxpayer& taxpayer) const;
    TaxpayerResult runOnce(const BatchTaxpayer& taxpayer, ExportOutcome& outcome);
    // Waits for the database file to settle; false when it did not within kSettleBound.
    bool settle();
    // Tells the batch's reading which taxpayers' movements the exports of `taxpayers` will read, and in which
    // periods, so that it may read them in one pass.
    void readAhead(const std::vector<BatchTaxpayer>& taxpayers);

    BatchOptions m_options;
    std::string m_workingFolder;
    PlainControls m_controls;  // the range, for the walk's choice of periods
    std::unique_ptr<Progress> m_progress;
    ExportState m_state;
    std::function<std::unique_ptr<Workspace>()> m_createWorkspace;
    std::unique_ptr<Workspace> m_workspace;
    std::string m_folder;  // the output folder, with its trailing separator
    bool m_outputReady = false;
    std::vector<BatchTaxpayer> m_upcoming;  // the taxpayers listed, until the first export reads ahead for them
    bool m_begun = false;
    bool m_stoppedByWrites = false;
    std::function<void()> m_waiting;
};
