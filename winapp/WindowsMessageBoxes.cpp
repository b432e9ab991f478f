#include "winapp/WindowsMessageBoxes.h"

#include "platform/windows/WideText.h"

MsgAnswer WindowsMessageBoxes::MsgBox(const std::string& text, MsgIcon icon, MsgButtons buttons,
                                      const std::optional<std::string>& title) {
    UINT style = buttons == MsgButtons::YesNo ? MB_YESNO | MB_DEFBUTTON1 : MB_OK;
    switch (icon) {
        case MsgIcon::Critical: style |= MB_ICONERROR; break;
        case MsgIcon::Question: style |= MB_ICONQUESTION; break;
        case MsgIcon::Information: style |= MB_ICONINFORMATION; break;
        case MsgIcon::None: break;
    }
    // Without an owner the box must still come to the front, over whatever the user has open.
    if (m_owner == nullptr || !::IsWindowVisible(m_owner)) style |= MB_SETFOREGROUND | MB_TOPMOST;
    const std::wstring caption = wideText(title ? *title : std::string(kApplicationTitle));
    const int answer = ::MessageBoxW(m_owner, wideText(text).c_str(), caption.c_str(), style);
    if (buttons == MsgButtons::OK) return MsgAnswer::OK;
    return answer == IDYES ? MsgAnswer::Yes : MsgAnswer::No;
}
