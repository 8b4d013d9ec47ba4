// The text of a window or control as 8-bit text, whatever its length, and
// the select-all key that every edit of the window takes.
#pragma once

#include <string>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

inline std::string WindowText(HWND hwnd) {
    std::string text(static_cast<std::size_t>(GetWindowTextLengthA(hwnd)) + 1, '\0');
    text.resize(
        static_cast<std::size_t>(GetWindowTextA(hwnd, text.data(), static_cast<int>(text.size()))));
    return text;
}

/// Ctrl+A, which the system's edit control takes for nothing, selects all of
/// an edit's text, as it does in the edits of other programs: true when
/// message is that key (the WM_CHAR it arrives as) and was handled.
inline bool SelectAllKey(HWND edit, UINT message, WPARAM wParam) {
    constexpr WPARAM CtrlA = 0x01;
    if (message != WM_CHAR || wParam != CtrlA)
        return false;
    SendMessageA(edit, EM_SETSEL, 0, -1);
    return true;
}
