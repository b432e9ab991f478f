#include "winapp/Controls.h"

#include "platform/windows/WideText.h"

#include <commctrl.h>

namespace Controls {

std::string text(HWND control) {
    std::wstring buffer(std::size_t(::GetWindowTextLengthW(control)) + 1, L'\0');
    const int length = ::GetWindowTextW(control, buffer.data(), int(buffer.size()));
    buffer.resize(std::size_t(length > 0 ? length : 0));
    return utf8Text(buffer);
}

void setText(HWND control, const std::string& text) { ::SetWindowTextW(control, wideText(text).c_str()); }

int scaled(int value, UINT dpi) { return ::MulDiv(value, int(dpi), 96); }

namespace {

int CALLBACK noteFamily(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
    *reinterpret_cast<bool*>(found) = true;
    return 0;
}

}  // namespace

bool installed(const wchar_t* family) {
    LOGFONTW wanted{};
    wanted.lfCharSet = DEFAULT_CHARSET;
    ::lstrcpynW(wanted.lfFaceName, family, LF_FACESIZE);
    bool found = false;
    HDC screen = ::GetDC(nullptr);
    ::EnumFontFamiliesExW(screen, &wanted, noteFamily, reinterpret_cast<LPARAM>(&found), 0);
    ::ReleaseDC(nullptr, screen);
    return found;
}

HFONT fitCaption(HWND control, int padding, UINT dpi) {
    const std::wstring caption = wideText(text(control));
    RECT place{};
    ::GetClientRect(control, &place);
    const int room = place.right - place.left - padding;
    HFONT own = reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0));
    LOGFONTW face{};
    if (caption.empty() || !own || !::GetObjectW(own, sizeof face, &face)) return nullptr;
    HDC dc = ::GetDC(control);
    const auto width = [&](HFONT font) {
        HGDIOBJ previous = ::SelectObject(dc, font);
        SIZE size{};
        ::GetTextExtentPoint32W(dc, caption.c_str(), int(caption.size()), &size);
        ::SelectObject(dc, previous);
        return size.cx;
    };
    HFONT smaller = nullptr;
    const int smallest = -int(6.0 * double(dpi) / 72.0 + 0.5);
    for (HFONT font = own; width(font) > room && face.lfHeight < smallest;) {
        ++face.lfHeight;  // a negative height: one pixel smaller
        if (smaller) ::DeleteObject(smaller);
        font = smaller = ::CreateFontIndirectW(&face);
    }
    ::ReleaseDC(control, dc);
    if (smaller) ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(smaller), TRUE);
    return smaller;
}

HFONT makeFont(const std::vector<const wchar_t*>& families, double points, UINT dpi, bool bold) {
    const wchar_t* chosen = families.empty() ? L"Segoe UI" : families.front();
    for (const wchar_t* family : families) {
        if (installed(family)) {
            chosen = family;
            break;
        }
    }
    const int height = -int(points * double(dpi) / 72.0 + 0.5);
    return ::CreateFontW(height, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                         OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH, chosen);
}

HWND make(HWND parent, const wchar_t* windowClass, const std::string& caption, DWORD style, int id, RECT place,
          HFONT font, UINT dpi, DWORD extendedStyle) {
    HWND control = ::CreateWindowExW(
        extendedStyle, windowClass, wideText(caption).c_str(), WS_CHILD | WS_VISIBLE | style, scaled(place.left, dpi),
        scaled(place.top, dpi), scaled(place.right - place.left, dpi), scaled(place.bottom - place.top, dpi), parent,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ::GetModuleHandleW(nullptr), nullptr);
    if (control && font) ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return control;
}

void addTooltip(HWND tooltips, HWND control, const std::string& text) {
    std::wstring wide = wideText(text);
    TOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = ::GetParent(control);
    tool.uId = reinterpret_cast<UINT_PTR>(control);
    tool.lpszText = wide.data();
    ::SendMessageW(tooltips, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

void centre(HWND window, HWND over) {
    RECT area{};
    if (over && ::IsWindowVisible(over)) {
        ::GetWindowRect(over, &area);
    } else {
        MONITORINFO monitor{};
        monitor.cbSize = sizeof monitor;
        ::GetMonitorInfoW(::MonitorFromWindow(over ? over : window, MONITOR_DEFAULTTOPRIMARY), &monitor);
        area = monitor.rcWork;
    }
    RECT own{};
    ::GetWindowRect(window, &own);
    const int width = own.right - own.left, height = own.bottom - own.top;
    ::SetWindowPos(window, nullptr, (area.left + area.right - width) / 2, (area.top + area.bottom - height) / 2, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void registerClass(const wchar_t* name, const wchar_t* icon) {
    WNDCLASSEXW type{};
    type.cbSize = sizeof type;
    type.lpfnWndProc = DefWindowProcW;  // each window's own once it is made
    type.hInstance = ::GetModuleHandleW(nullptr);
    if (icon) type.hIcon = ::LoadIconW(::GetModuleHandleW(nullptr), icon);
    type.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    type.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    type.lpszClassName = name;
    // Registered again, a class is refused (ERROR_CLASS_ALREADY_EXISTS) and stays as it was.
    ::RegisterClassExW(&type);
}

}  // namespace Controls
