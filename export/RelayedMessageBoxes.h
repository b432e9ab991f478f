#pragma once

#include "platform/MessageBoxes.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

// Message boxes asked for on a worker thread and shown on the window's thread, whose widgets they are. MsgBox hands
// the box over, has the window's thread woken and waits for the answer, which serve() gives there; the boxes of a
// worker are thus shown one at a time, in the order it asks for them. One worker at a time.
class RelayedMessageBoxes final : public MessageBoxes {
public:
    // `target` shows the boxes on the window's thread. `wake` is called from the worker, without any lock held; it
    // must have serve() called on the window's thread soon after.
    RelayedMessageBoxes(MessageBoxes& target, std::function<void()> wake);

    // On the worker: the answer `target` gave, or No to a question and OK otherwise once the relay is closed.
    MsgAnswer MsgBox(const std::string& text, MsgIcon icon, MsgButtons buttons,
                     const std::optional<std::string>& title = std::nullopt) override;

    // On the window's thread: shows the box the worker waits on, if any, and hands the answer back.
    void serve();
    // From now on no box is shown: the box waited on and every later one are answered at once, as MsgBox says. For
    // a window that goes away while the worker still runs, so that the worker never waits on it.
    void close();

private:
    struct Box {
        std::string text;
        MsgIcon icon;
        MsgButtons buttons;
        std::optional<std::string> title;
    };

    MessageBoxes& m_target;
    std::function<void()> m_wake;
    std::mutex m_mutex;
    std::condition_variable m_answered;
    std::optional<Box> m_asked;  // waiting for serve()
    std::optional<MsgAnswer> m_answer;
    bool m_closed = false;
};
