#pragma once

#include <optional>
#include <string>

enum class MsgIcon { None, Critical, Question, Information };
enum class MsgButtons { OK, YesNo };
enum class MsgAnswer { OK, Yes, No };

// The application's title: the caption of every message box without a title of its own.
inline constexpr const char* kApplicationTitle = "Velmora";

// Modal message boxes. The window shows them with QMessageBox; tests answer them with a script.
class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;

    // Shows `text` (UTF-8) and waits for the answer. Without a title the box carries the application's title.
    virtual MsgAnswer MsgBox(const std::string& text, MsgIcon icon, MsgButtons buttons,
                             const std::optional<std::string>& title = std::nullopt) = 0;
};
