#pragma once

#include "export/BackgroundJob.h"
#include "export/ExportCommands.h"
#include "export/Form1.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

// What an export under way has done so far.
struct ExportProgress {
    bool started = false;            // the command has asked its questions and is writing the file
    std::string reference;           // the taxpayer's, once started
    std::int64_t declarations = -1;  // the declarations of the range; -1 until the walk has chosen them
    std::int64_t declarationsDone = 0;
    std::int64_t movements = 0;
};

// One export command run as a background job, so that the window's thread stays free for its events.
//
// The command runs on a form of its own. The controls it reads are copied into plain ones when the run is made,
// since widgets belong to the window's thread; the connection, the output channel and the form variables are
// handed over to that form, and back once the command has returned. The database is thus used by one thread at a
// time: the window's form holds no connection while the run has it.
class ExportRun final : private ExportObserver {
public:
    using Command = ExportCommand;
    // How the command ended, and what escaped it (its description; empty when nothing did).
    using Ended = std::function<void(const ExportOutcome& outcome, const std::string& escaped)>;

    // On the window's thread. `boxes` shows the command's boxes there; `wake`, called from the worker, must have
    // serve() called on the window's thread soon after.
    ExportRun(Form1& form, Command command, MessageBoxes& boxes, std::function<void()> wake);
    ExportRun(const ExportRun&) = delete;
    ExportRun& operator=(const ExportRun&) = delete;
    // On the window's thread: an export still under way is stopped, its boxes answered unseen, and waited for; the
    // form gets its connection back.
    ~ExportRun();

    // Starts the command. `ended` is called on the window's thread, from serve(), once the command has returned and
    // its boxes were shown, the form holding its connection again; the run may be destroyed from it.
    void start(Ended ended);
    // On the window's thread: shows the boxes the command waits on, and reports its end.
    void serve() { m_job->serve(); }
    // From any thread: the export stops before its next declaration or movement, as a cancelled export does.
    void cancel() noexcept { m_job->cancel(); }
    // From any thread.
    ExportProgress progress() const;
    // Before start: the worker pauses this long after each movement written. For driving a window while its
    // export runs (the Windows window's tests under Wine, where no database can be slowed from inside).
    void pauseAfterEachMovement(std::chrono::milliseconds pause) noexcept { m_pause = pause; }

private:
    void exportStarted(const std::string& reference) override;
    void exportRestarted() override;
    void declarationsChosen(std::int64_t count) override;
    void movementWritten(const Movement& movement) override;
    void declarationDone() override;
    bool stopRequested() override;
    void handBack();

    Form1& m_form;
    Command m_command;
    PlainControls m_controls;
    std::unique_ptr<BackgroundJob> m_job;
    Form1 m_commandForm;
    ExportOutcome m_outcome;
    bool m_handedBack = false;
    std::chrono::milliseconds m_pause{0};

    std::atomic<bool> m_started{false};
    std::atomic<std::int64_t> m_declarations{-1};
    std::atomic<std::int64_t> m_declarationsDone{0};
    std::atomic<std::int64_t> m_movements{0};
    mutable std::mutex m_referenceMutex;
    std::string m_reference;
};
