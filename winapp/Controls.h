#pragma once

#include <windows.h>

#include <string>
#include <vector>

// What the Windows windows share: their controls' text in UTF-8, fonts by family, and sizes in the units they were
// drawn in, scaled to the monitor's dots per inch.
namespace Controls {

// The control's text, and setting it.
std::string text(HWND control);
void setText(HWND control, const std::string& text);

// `value` pixels at 96 dpi, at `dpi`.
int scaled(int value, UINT dpi);

// Whether the system has a font of `family`.
bool installed(const wchar_t* family);

// A font of the first of `families` that the system has (the first when it has none), `points` high at `dpi`.
// The caller deletes it.
HFONT makeFont(const std::vector<const wchar_t*>& families, double points, UINT dpi, bool bold = false);

// A child control of `parent`, with the font given, at a place in pixels at 96 dpi.
HWND make(HWND parent, const wchar_t* windowClass, const std::string& caption, DWORD style, int id, RECT place,
          HFONT font, UINT dpi, DWORD extendedStyle = 0);

// The caption of `control` (a label on one line, a button) in a font that lets it fit its width less `padding`:
// its own, or the same face made smaller, down to 6 points, for a face standing in for the one it was sized for.
// Returns the smaller font made, which the caller deletes, or null when the caption fits as it is.
HFONT fitCaption(HWND control, int padding, UINT dpi);

// Sets a tooltip on `control`, shown by `tooltips` (a tooltip control of its window).
void addTooltip(HWND tooltips, HWND control, const std::string& text);

// Puts `window` at the centre of `over`'s monitor work area when `over` is null or hidden, else over `over`.
void centre(HWND window, HWND over);

// Registers the top-level window class `name` once, in the dialogs' colour, with the program's icon resource `icon`
// (none when null). Its procedure is each window's own, given by attach() once the window is made.
void registerClass(const wchar_t* name, const wchar_t* icon = nullptr);

// The window procedure that hands every message of a window attached to `owner` to `handle`, and the default
// procedure's answer before the window is attached or once it is let go (its user data null).
template <class Owner, LRESULT (Owner::*handle)(UINT, WPARAM, LPARAM)>
LRESULT CALLBACK forward(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* owner = reinterpret_cast<Owner*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!owner) return ::DefWindowProcW(window, message, wParam, lParam);
    return (owner->*handle)(message, wParam, lParam);
}

// From now on the messages of `window` go to `owner`'s `handle`.
template <class Owner, LRESULT (Owner::*handle)(UINT, WPARAM, LPARAM)>
void attach(HWND window, Owner* owner) {
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(owner));
    ::SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&forward<Owner, handle>));
}

}  // namespace Controls
