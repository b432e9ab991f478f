#pragma once

#include "platform/MessageBoxes.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

// Work run off the window's thread, so that the window stays free for its events.
//
// The work runs on a worker thread. What it has the window do (a notice, a box whose answer it waits for) reaches the
// window's thread in the order the work sent it, each when the window serves the job; its end comes last, after all
// it sent, with whatever escaped the work caught and handed over. Cancelling asks the work to stop: it learns it from
// cancelRequested(). One job runs one piece of work.
class BackgroundJob {
public:
    // How the work ended.
    struct End {
        std::exception_ptr escaped;  // what the work threw, if anything
        std::string failure;         // its description, in the user's words; empty when nothing escaped
        bool cancelled = false;      // whether it was asked to stop
    };

    // On the window's thread. `boxes` shows the work's boxes there. `wake` is called on the worker, with no lock
    // held, each time something waits for the window's thread: it must have serve() called there soon after.
    BackgroundJob(MessageBoxes& boxes, std::function<void()> wake);
    BackgroundJob(const BackgroundJob&) = delete;
    BackgroundJob& operator=(const BackgroundJob&) = delete;
    // On the window's thread: the work still under way is cancelled, its boxes answered unseen, and waited for.
    ~BackgroundJob();

    // On the window's thread, once: runs `work` on the worker. `ended` is called on the window's thread, from
    // serve(), once the work has returned or thrown and all it sent was served; the job may be destroyed from it.
    void start(std::function<void()> work, std::function<void(const End&)> ended);

    // On the worker: `notice` runs on the window's thread after what was sent before it.
    void post(std::function<void()> notice);
    // On the worker: the boxes the work shows, each shown on the window's thread in its turn, the worker waiting for
    // the answer. Once the job is closed a box is answered unseen: No to a question, OK otherwise.
    MessageBoxes& boxes() noexcept { return m_relay; }

    // From any thread.
    void cancel() noexcept { m_cancel.store(true, std::memory_order_relaxed); }
    bool cancelRequested() const noexcept { return m_cancel.load(std::memory_order_relaxed); }

    // On the window's thread: runs what waits for it, in order.
    void serve();
    // On the window's thread: nothing the work sends is shown or run from now on, and its boxes are answered
    // unseen; its end is still reported. For a window that goes away while the work runs.
    void close();

private:
    class Relay final : public MessageBoxes {
    public:
        explicit Relay(BackgroundJob& job) : m_job(job) {}
        MsgAnswer MsgBox(const std::string& text, MsgIcon icon, MsgButtons buttons,
                         const std::optional<std::string>& title = std::nullopt) override;

    private:
        BackgroundJob& m_job;
    };

    struct Item {
        std::function<void()> run;
        bool last = false;  // the end: nothing of the job is touched after it runs
    };

    void send(Item item);

    MessageBoxes& m_boxes;
    std::function<void()> m_wake;
    Relay m_relay{*this};
    std::thread m_worker;
    std::atomic<bool> m_cancel{false};

    std::mutex m_mutex;
    std::condition_variable m_answered;
    std::deque<Item> m_waiting;
    std::optional<MsgAnswer> m_answer;
    bool m_closed = false;
};
