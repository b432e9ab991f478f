#pragma once

#include "platform/MessageBoxes.h"

#include <deque>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

// One message box as it was shown.
struct ShownBox {
    std::string text;
    MsgIcon icon = MsgIcon::None;
    MsgButtons buttons = MsgButtons::OK;
    std::optional<std::string> title;

    bool operator==(const ShownBox&) const = default;
};
void PrintTo(const ShownBox& box, std::ostream* os);

// Message boxes answered from a script: every box is recorded, and each takes the next queued answer, or OK (Yes
// for a Yes/No box) when the queue is empty.
class ScriptedMessageBoxes : public MessageBoxes {
public:
    MsgAnswer MsgBox(const std::string& text, MsgIcon icon, MsgButtons buttons,
                     const std::optional<std::string>& title = std::nullopt) override;

    void queueAnswer(MsgAnswer answer) { m_answers.push_back(answer); }
    // Called as each box is shown, to check the state it is shown in.
    std::function<void()> onShow;
    const std::vector<ShownBox>& shown() const noexcept { return m_shown; }
    void clear() { m_shown.clear(); }

private:
    std::deque<MsgAnswer> m_answers;
    std::vector<ShownBox> m_shown;
};
