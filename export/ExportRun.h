#pragma once

#include "export/ExportCommands.h"
#include "export/Form1.h"

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

// What an export under way has done so far.
struct ExportProgress {
    bool started = false;            // the command has asked its questions and is writing the file
    std::string reference;           // the taxpayer's, once started
    std::int64_t declarations = -1;  // the declarations of the range; -1 until the walk has chosen them
    std::int64_t declarationsDone = 0;
    std::int64_t movements = 0;
};

// One export command run on a worker thread, so that the window's thread stays free for its events.
//
// The command runs on a form of its own. The controls it reads are copied into plain ones when the run is made,
// since widgets belong to the window's thread; the connection, the output channel and the form variables are
// handed over to that form, and back once the command has returned. The database is thus used by one thread at a
// time: the window's form holds no connection while the run has it.
class ExportRun final : private ExportObserver {
public:
    using Command = ExportCommand;

    // On the window's thread. `boxes` shows the command's boxes and is called from the worker.
    ExportRun(Form1& form, Command command, MessageBoxes& boxes);
    ExportRun(const ExportRun&) = delete;
    ExportRun& operator=(const ExportRun&) = delete;
    // On the window's thread: an export still under way is stopped and waited for, and the form gets its
    // connection back. The boxes must then not wait for the window's thread.
    ~ExportRun();

    // Starts the command on the worker; `ended` is called there once the command has returned.
    void start(std::function<void()> ended);
    // From any thread: the export stops before its next declaration or movement, as a cancelled export does.
    void cancel() noexcept;
    // From any thread.
    ExportProgress progress() const;
    // On the window's thread, after `ended`: waits for the worker and hands the connection, the output channel and
    // the form variables back. What escaped the command, if anything, is raised here.
    void finish();
    // After finish: how the command ended.
    const ExportOutcome& outcome() const noexcept { return m_outcome; }

private:
    void exportStarted(const std::string& reference) override;
    void exportRestarted() override;
    void declarationsChosen(std::int64_t count) override;
    void movementWritten(const Movement& movement) override;
    void declarationDone() override;
    bool stopRequested() override;

    Form1& m_form;
    Command m_command;
    PlainControls m_controls;
    Form1 m_job;
    std::thread m_worker;
    std::exception_ptr m_escaped;
    ExportOutcome m_outcome;
    bool m_handedBack = false;

    std::atomic<bool> m_cancel{false};
    std::atomic<bool> m_started{false};
    std::atomic<std::int64_t> m_declarations{-1};
    std::atomic<std::int64_t> m_declarationsDone{0};
    std::atomic<std::int64_t> m_movements{0};
    mutable std::mutex m_referenceMutex;
    std::string m_reference;
};
