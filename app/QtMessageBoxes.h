#pragma once

#include "platform/MessageBoxes.h"

#include <QPointer>

class QWidget;

// Message boxes shown with QMessageBox, modal to the given window when there is one.
class QtMessageBoxes : public MessageBoxes {
public:
    explicit QtMessageBoxes(QWidget* parent = nullptr);

    // A Yes/No box answers No when it is closed without choosing (Esc or the window's close control).
    MsgAnswer MsgBox(const std::string& text, MsgIcon icon, MsgButtons buttons,
                     const std::optional<std::string>& title = std::nullopt) override;

private:
    // The window may be destroyed before this object; a guarded pointer then yields no parent.
    QPointer<QWidget> m_parent;
};
