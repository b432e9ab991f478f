#pragma once

#include "platform/MessageBoxes.h"

#include <windows.h>

// Message boxes shown with MessageBoxW, owned by (and modal to) the given window when there is one; a box takes
// the program's title unless it is given one.
class WindowsMessageBoxes final : public MessageBoxes {
public:
    explicit WindowsMessageBoxes(HWND owner = nullptr) : m_owner(owner) {}
    void setOwner(HWND owner) noexcept { m_owner = owner; }

    // A Yes/No box answers No when it is closed without choosing.
    MsgAnswer MsgBox(const std::string& text, MsgIcon icon, MsgButtons buttons,
                     const std::optional<std::string>& title = std::nullopt) override;

private:
    HWND m_owner;
};
