#include "app/QtMessageBoxes.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <QString>
#include <QWidget>

namespace {

QMessageBox::Icon toQt(MsgIcon icon) {
    switch (icon) {
        case MsgIcon::Critical: return QMessageBox::Critical;
        case MsgIcon::Question: return QMessageBox::Question;
        case MsgIcon::Information: return QMessageBox::Information;
        case MsgIcon::None: break;
    }
    return QMessageBox::NoIcon;
}

}  // namespace

void centerOver(QWidget& widget, const QWidget* over) {
    const QWidget* window = over ? over->window() : nullptr;
    // A window not shown yet (the start-up messages come before the main window appears) will appear centred on the
    // screen, as the box does.
    QRect area;
    if (window && window->isVisible())
        area = window->frameGeometry();
    else if (const QScreen* screen = window ? window->screen() : QGuiApplication::primaryScreen())
        area = screen->availableGeometry();
    if (area.isValid()) widget.move(area.center() - widget.rect().center());
}

QtMessageBoxes::QtMessageBoxes(QWidget* parent) : m_parent(parent) {}

MsgAnswer QtMessageBoxes::MsgBox(const std::string& text, MsgIcon icon, MsgButtons buttons,
                                 const std::optional<std::string>& title) {
    const QString caption = QString::fromStdString(title ? *title : std::string(kApplicationTitle));
    QMessageBox box(toQt(icon), caption, QString::fromStdString(text), QMessageBox::NoButton, m_parent.data());
    // Messages carry file paths and database texts; a "<" in them must not switch the box to rich text.
    box.setTextFormat(Qt::PlainText);
    if (buttons == MsgButtons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
        box.setDefaultButton(QMessageBox::Ok);
    }
    box.adjustSize();
    centerOver(box, m_parent.data());
    const int answer = box.exec();
    if (buttons == MsgButtons::OK) return MsgAnswer::OK;
    return answer == QMessageBox::Yes ? MsgAnswer::Yes : MsgAnswer::No;
}
