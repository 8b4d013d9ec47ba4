// The log's list box and its menu on the Windows GUI.
#include "app/win32/LogView.h"

#include <commdlg.h>

#include "app/win32/Layout.h"
#include "app/win32/WindowText.h"

TLogView::TLogView(HWND parent, int id, HFONT font)
    : list_(CreateControl(parent, WS_EX_CLIENTEDGE, L"LISTBOX", "",
                          WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | WS_HSCROLL | LBS_NOINTEGRALHEIGHT |
                              LBS_EXTENDEDSEL | LBS_NOTIFY,
                          {}, id, font)) {}

void TLogView::Add(const std::string& line) {
    const auto index =
        SendMessageW(list_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(WideText(line).c_str()));
    SendMessageW(list_, LB_SETTOPINDEX, static_cast<WPARAM>(index), 0);
    Widen(line);
}

void TLogView::Clear() {
    SendMessageW(list_, LB_RESETCONTENT, 0, 0);
    SendMessageW(list_, LB_SETHORIZONTALEXTENT, 0, 0);
}

std::vector<TLogLine> TLogView::Lines() const {
    std::vector<TLogLine> lines;
    const auto count = static_cast<int>(SendMessageW(list_, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i)
        lines.push_back({ItemText(list_, LB_GETTEXTLEN, LB_GETTEXT, i),
                         SendMessageW(list_, LB_GETSEL, static_cast<WPARAM>(i), 0) > 0});
    return lines;
}

void TLogView::FitLines(int lineHeight) {
    SendMessageW(list_, LB_SETITEMHEIGHT, 0,
                 std::max<LONG>(lineHeight, TextExtent(list_, "Ag").cy));
    SendMessageW(list_, LB_SETHORIZONTALEXTENT, 0, 0);
    for (const TLogLine& line : Lines())
        Widen(line.Text);
}

void TLogView::Widen(const std::string& line) {
    // A list box scrolls sideways only as far as it is told; a long reason
    // would end at its edge otherwise. The margin is the one it draws before
    // each line.
    const LONG width = TextExtent(list_, line).cx + Scaled(4, GetDpiForWindow(list_));
    if (width > SendMessageW(list_, LB_GETHORIZONTALEXTENT, 0, 0))
        SendMessageW(list_, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(width), 0);
}

TLogView::TMenuItem TLogView::Menu(POINT at) const {
    if (at.x == -1 && at.y == -1) { // from the keyboard: at the log's corner
        RECT list{};
        GetWindowRect(list_, &list);
        at = {list.left, list.top};
    }
    const HMENU menu = CreatePopupMenu();
    AppendMenuW(menu, MF_STRING, miCopy, L"Copy");
    AppendMenuW(menu, MF_STRING, miSaveAs, L"Save As...");
    const int chosen = TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, at.x, at.y, 0,
                                      GetAncestor(list_, GA_ROOT), nullptr);
    DestroyMenu(menu);
    return chosen == miCopy || chosen == miSaveAs ? static_cast<TMenuItem>(chosen) : miNone;
}

bool TLogView::IsCopyKey(const MSG& msg) const {
    return msg.message == WM_KEYDOWN && msg.hwnd == list_ && msg.wParam == 'C' &&
           GetKeyState(VK_CONTROL) < 0;
}

std::optional<std::string> TLogView::AskSavePath(HWND owner) {
    wchar_t path[MAX_PATH] = {};
    OPENFILENAMEW save{};
    save.lStructSize = sizeof save;
    save.hwndOwner = owner;
    save.lpstrFilter = L"Text files (*.txt)\0*.txt\0All files (*.*)\0*.*\0";
    save.lpstrFile = path;
    save.nMaxFile = MAX_PATH;
    save.lpstrTitle = L"Save As";
    save.lpstrDefExt = L"txt";
    save.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    if (!GetSaveFileNameW(&save))
        return std::nullopt;
    return Utf8Text(path);
}
