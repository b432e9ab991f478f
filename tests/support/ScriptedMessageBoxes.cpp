#include "support/ScriptedMessageBoxes.h"

#include "support/OldEnglish.h"

#include <gtest/gtest.h>

namespace {

const char* name(MsgIcon icon) {
    switch (icon) {
        case MsgIcon::None: return "None";
        case MsgIcon::Critical: return "Critical";
        case MsgIcon::Question: return "Question";
        case MsgIcon::Information: return "Information";
    }
    return "?";
}

}  // namespace

void PrintTo(const ShownBox& box, std::ostream* os) {
    *os << "{\"" << box.text << "\", " << name(box.icon) << ", " << (box.buttons == MsgButtons::OK ? "OK" : "YesNo")
        << ", " << (box.title ? "\"" + *box.title + "\"" : std::string("no title")) << "}";
}

MsgAnswer ScriptedMessageBoxes::MsgBox(const std::string& text, MsgIcon icon, MsgButtons buttons,
                                       const std::optional<std::string>& title) {
    m_shown.push_back({text, icon, buttons, title});
    // Every box any test has shown is in the users' language.
    if (const std::string english = oldEnglishIn(text); !english.empty())
        ADD_FAILURE() << "English (\"" << english << "\") in a box: " << text;
    if (onShow) onShow();
    if (m_answers.empty()) return buttons == MsgButtons::YesNo ? MsgAnswer::Yes : MsgAnswer::OK;
    const MsgAnswer answer = m_answers.front();
    m_answers.pop_front();
    return answer;
}
