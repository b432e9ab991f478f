#include "export/BackgroundJob.h"

#include "runtime/RuntimeError.h"

#include <utility>

namespace {

// What a box nobody sees answers: No stops a command at its question, OK lets it end.
MsgAnswer unseen(MsgButtons buttons) { return buttons == MsgButtons::YesNo ? MsgAnswer::No : MsgAnswer::OK; }

}  // namespace

BackgroundJob::BackgroundJob(MessageBoxes& boxes, std::function<void()> wake)
    : m_boxes(boxes), m_wake(std::move(wake)) {}

BackgroundJob::~BackgroundJob() {
    cancel();
    close();
    if (m_worker.joinable()) m_worker.join();
}

void BackgroundJob::start(std::function<void()> work, std::function<void(const End&)> ended) {
    m_worker = std::thread([this, work = std::move(work), ended = std::move(ended)] {
        End end;
        try {
            work();
        } catch (const std::exception& e) {
            end.escaped = std::current_exception();
            end.failure = RuntimeError::describe(e);
        } catch (...) {
            end.escaped = std::current_exception();
            end.failure = "error desconocido";
        }
        end.cancelled = cancelRequested();
        send({[this, ended, end] {
                  if (m_worker.joinable()) m_worker.join();
                  ended(end);
              },
              true});
    });
}

void BackgroundJob::post(std::function<void()> notice) { send({std::move(notice), false}); }

void BackgroundJob::send(Item item) {
    {
        const std::lock_guard lock(m_mutex);
        // A closed job still reports its end, which joins the worker; nothing else is run.
        if (m_closed && !item.last) return;
        m_waiting.push_back(std::move(item));
    }
    m_wake();
}

void BackgroundJob::serve() {
    for (;;) {
        Item item;
        {
            const std::lock_guard lock(m_mutex);
            if (m_waiting.empty()) return;
            item = std::move(m_waiting.front());
            m_waiting.pop_front();
        }
        // A box may run an event loop of its own, and serve() again from it: the worker waits on its answer
        // meanwhile, so nothing it sends later runs first.
        const bool last = item.last;
        item.run();
        if (last) return;
    }
}

void BackgroundJob::close() {
    const std::lock_guard lock(m_mutex);
    m_closed = true;
    std::erase_if(m_waiting, [](const Item& item) { return !item.last; });
    m_answered.notify_all();
}

MsgAnswer BackgroundJob::Relay::MsgBox(const std::string& text, MsgIcon icon, MsgButtons buttons,
                                       const std::optional<std::string>& title) {
    BackgroundJob& job = m_job;
    std::unique_lock lock(job.m_mutex);
    if (job.m_closed) return unseen(buttons);
    job.m_answer.reset();
    job.m_waiting.push_back({[&job, text, icon, buttons, title] {
                                 const MsgAnswer answer = job.m_boxes.MsgBox(text, icon, buttons, title);
                                 const std::lock_guard lock(job.m_mutex);
                                 job.m_answer = answer;
                                 job.m_answered.notify_all();
                             },
                             false});
    lock.unlock();
    job.m_wake();
    lock.lock();
    job.m_answered.wait(lock, [&job] { return job.m_answer || job.m_closed; });
    return std::exchange(job.m_answer, std::nullopt).value_or(unseen(buttons));
}
