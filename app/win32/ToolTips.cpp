// The window's tooltip control and its tips.
#include "app/win32/ToolTips.h"

#include <commctrl.h>

#include "app/win32/WindowText.h"

namespace {

/// A tip's description of control in owner. The size of version 5 of the
/// common controls: the one that the program's manifest, which asks for no
/// other, gets; a larger one is refused there.
TTTOOLINFOW ToolOf(HWND owner, HWND control) {
    TTTOOLINFOW tool{};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = owner;
    tool.uId = reinterpret_cast<UINT_PTR>(control);
    return tool;
}

} // namespace

TToolTips::TToolTips(HWND owner)
    : owner_(owner), tips_(CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                                           WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
                                           CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, owner,
                                           nullptr, GetModuleHandleW(nullptr), nullptr)) {
    // A long status wraps within a tip of this width rather than running
    // across the screen.
    SendMessageW(tips_, TTM_SETMAXTIPWIDTH, 0, 600);
}

void TToolTips::Add(HWND control, const std::string& text) {
    Send(TTM_ADDTOOLW, control, text);
}

void TToolTips::SetText(HWND control, const std::string& text) {
    Send(TTM_UPDATETIPTEXTW, control, text);
}

void TToolTips::Send(UINT message, HWND control, const std::string& text) {
    TTTOOLINFOW tool = ToolOf(owner_, control);
    std::wstring wide = WideText(text);
    tool.lpszText = wide.data();
    SendMessageW(tips_, message, 0, reinterpret_cast<LPARAM>(&tool));
}

std::string TToolTips::Text(HWND control) const {
    TTTOOLINFOW tool = ToolOf(owner_, control);
    std::wstring text(1024, L'\0');
    tool.lpszText = text.data();
    SendMessageW(tips_, TTM_GETTEXTW, text.size(), reinterpret_cast<LPARAM>(&tool));
    text.resize(wcslen(text.c_str()));
    return Utf8Text(text);
}
