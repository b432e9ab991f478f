#pragma once

#include "platform/MessageBoxes.h"

#include <QPointer>

class QWidget;

// Puts `widget` (a box or a window, at its size) at the centre of the window `over` belongs to, or of the screen
// while that window is not shown yet or there is none.
void centerOver(QWidget& widget, const QWidget* over);

// Message boxes shown with QMessageBox, modal to the given window when there is one and centred over it.
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
