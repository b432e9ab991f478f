#pragma once

#include "platform/MessageBoxes.h"

#include <string>

// Message boxes answered as a user who wants every file would: Yes to the overwrite question, OK to the rest.
// Counts the boxes that report a failure and keeps the first one's text.
class AnsweringBoxes : public MessageBoxes {
public:
    MsgAnswer MsgBox(const std::string& text, MsgIcon icon, MsgButtons buttons,
                     const std::optional<std::string>&) override {
        if (icon == MsgIcon::Critical || icon == MsgIcon::None) {
            ++failures;
            if (failure.empty()) failure = text;
        }
        return buttons == MsgButtons::YesNo ? MsgAnswer::Yes : MsgAnswer::OK;
    }

    int failures = 0;
    std::string failure;
};
