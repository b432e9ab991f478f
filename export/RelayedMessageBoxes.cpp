#include "export/RelayedMessageBoxes.h"

namespace {

// What a box nobody sees answers: No stops a command at its question, OK lets it end.
MsgAnswer unseen(MsgButtons buttons) { return buttons == MsgButtons::YesNo ? MsgAnswer::No : MsgAnswer::OK; }

}  // namespace

RelayedMessageBoxes::RelayedMessageBoxes(MessageBoxes& target, std::function<void()> wake)
    : m_target(target), m_wake(std::move(wake)) {}

MsgAnswer RelayedMessageBoxes::MsgBox(const std::string& text, MsgIcon icon, MsgButtons buttons,
                                      const std::optional<std::string>& title) {
    std::unique_lock lock(m_mutex);
    if (m_closed) return unseen(buttons);
    m_asked = Box{text, icon, buttons, title};
    m_answer.reset();
    lock.unlock();
    m_wake();
    lock.lock();
    m_answered.wait(lock, [this] { return m_answer || m_closed; });
    const MsgAnswer answer = m_answer.value_or(unseen(buttons));
    m_answer.reset();
    return answer;
}

void RelayedMessageBoxes::serve() {
    std::unique_lock lock(m_mutex);
    if (!m_asked) return;
    const Box box = std::move(*m_asked);
    m_asked.reset();
    lock.unlock();
    // The box may run an event loop of its own; the worker keeps waiting meanwhile.
    const MsgAnswer answer = m_target.MsgBox(box.text, box.icon, box.buttons, box.title);
    lock.lock();
    if (!m_closed) m_answer = answer;
    m_answered.notify_all();
}

void RelayedMessageBoxes::close() {
    const std::lock_guard lock(m_mutex);
    m_closed = true;
    m_asked.reset();
    m_answered.notify_all();
}
