// The text of a window or control and of the clipboard, read and set as the
// program's UTF-8 through the system's 16-bit text (any script, whatever the
// code page), the room a text takes in a control's font, and the select-all
// key that every edit of the window takes.
#pragma once

#include <algorithm>
#include <string>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "runtime/WideText.h"

inline std::string WindowText(HWND hwnd) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
    text.resize(
        static_cast<std::size_t>(GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
    return Utf8Text(text);
}

inline void SetControlText(HWND hwnd, const std::string& text) {
    SetWindowTextW(hwnd, WideText(text).c_str());
}

/// How wide and high text is drawn in control's font.
inline SIZE TextExtent(HWND control, const std::string& text) {
    const HDC dc = GetDC(control);
    const HGDIOBJ old =
        SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0)));
    SIZE extent{};
    const std::wstring wide = WideText(text);
    GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &extent);
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    return extent;
}

/// The clipboard's text; empty when it holds none or is not to be had.
inline std::string ClipboardText(HWND owner) {
    std::string text;
    if (!IsClipboardFormatAvailable(CF_UNICODETEXT) || !OpenClipboard(owner))
        return text;
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        if (const auto* chars = static_cast<const wchar_t*>(GlobalLock(data))) {
            text = Utf8Text(chars);
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return text;
}

/// Puts text on the clipboard; false when the clipboard is not to be had.
inline bool SetClipboardText(HWND owner, const std::string& text) {
    if (!OpenClipboard(owner))
        return false;
    EmptyClipboard();
    const std::wstring wide = WideText(text);
    bool set = false;
    if (const HGLOBAL data = GlobalAlloc(GMEM_MOVEABLE, (wide.size() + 1) * sizeof(wchar_t))) {
        auto* chars = static_cast<wchar_t*>(GlobalLock(data));
        std::copy(wide.c_str(), wide.c_str() + wide.size() + 1, chars);
        GlobalUnlock(data);
        set = SetClipboardData(CF_UNICODETEXT, data) != nullptr;
        if (!set)
            GlobalFree(data);
    }
    CloseClipboard();
    return set;
}

/// Ctrl+A, which the system's edit control takes for nothing, selects all of
/// an edit's text, as it does in the edits of other programs: true when
/// message is that key (the WM_CHAR it arrives as) and was handled.
inline bool SelectAllKey(HWND edit, UINT message, WPARAM wParam) {
    constexpr WPARAM CtrlA = 0x01;
    if (message != WM_CHAR || wParam != CtrlA)
        return false;
    SendMessageW(edit, EM_SETSEL, 0, -1);
    return true;
}
