// The folder edit and the shell's folder chooser (SHBrowseForFolderW): file
// system folders only, an edit box for typing a path, no button for making
// a folder, captioned like the chooser of every other window.
#include "app/win32/DirectoryEdit.h"
#include "app/win32/WindowText.h"

#include <algorithm>
#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>
#include <utility>

namespace {

constexpr UINT_PTR SubclassId = 1;
// Bottom margin kept above the work area's lower edge (a task bar there).
constexpr int BottomClearance = 64;

} // namespace

TAdvDirectoryEdit::TAdvDirectoryEdit(HWND parent, int editId, int buttonId, RECT place) {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    edit_ = CreateWindowExW(
        WS_EX_CLIENTEDGE, L"EDIT", L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL, 0, 0,
        0, 0, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(editId)), instance, nullptr);
    button_ = CreateWindowExW(
        0, L"BUTTON", L"...", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 0, 0, 0, 0,
        parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(buttonId)), instance, nullptr);
    // The shell's closed-folder picture (its icon resource 4); "..." without it.
    ExtractIconExW(L"shell32.dll", -4, &largeFolderIcon_, &smallFolderIcon_, 1);
    if (smallFolderIcon_ != nullptr)
        SetWindowLongPtrW(button_, GWL_STYLE, GetWindowLongPtrW(button_, GWL_STYLE) | BS_ICON);
    SetWindowSubclass(edit_, &TAdvDirectoryEdit::EditProcedure, SubclassId,
                      reinterpret_cast<DWORD_PTR>(this));
    Place(place, ButtonWidth);
}

TAdvDirectoryEdit::~TAdvDirectoryEdit() {
    for (const HICON icon : {smallFolderIcon_, largeFolderIcon_})
        if (icon != nullptr)
            DestroyIcon(icon);
}

void TAdvDirectoryEdit::Place(RECT place, int buttonWidth) {
    const int height = place.bottom - place.top;
    SetWindowPos(edit_, nullptr, place.left, place.top, place.right - place.left - buttonWidth,
                 height, SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowPos(button_, nullptr, place.right - buttonWidth, place.top, buttonWidth, height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    // The large picture once the button has room for it inside its edges.
    const int room = std::min(buttonWidth, height) - 2 * GetSystemMetrics(SM_CXEDGE);
    const HICON icon = room >= GetSystemMetrics(SM_CXICON) && largeFolderIcon_ != nullptr
                           ? largeFolderIcon_
                           : smallFolderIcon_;
    if (icon != nullptr)
        SendMessageW(button_, BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(icon));
}

std::string TAdvDirectoryEdit::Text() const {
    return WindowText(edit_);
}

void TAdvDirectoryEdit::SetText(const std::string& text) {
    if (text == Text())
        return;
    const bool outer = std::exchange(setting_, true);
    SetControlText(edit_, text);
    setting_ = outer;
}

void TAdvDirectoryEdit::SetEnabled(bool enabled) {
    EnableWindow(edit_, enabled);
    EnableWindow(button_, enabled);
}

POINT TAdvDirectoryEdit::ChooserPosition(POINT anchor, SIZE size, RECT workArea) {
    POINT at = anchor;
    if (at.x + size.cx > workArea.right)
        at.x -= size.cx;
    if (at.y + size.cy >= workArea.bottom)
        at.y = workArea.bottom - BottomClearance - size.cy;
    return at;
}

void TAdvDirectoryEdit::Browse() {
    wchar_t name[MAX_PATH] = {};
    const std::wstring title = WideText(ChooserTitle);
    BROWSEINFOW info{};
    info.hwndOwner = GetAncestor(edit_, GA_ROOT);
    info.pszDisplayName = name;
    info.lpszTitle = title.c_str();
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_EDITBOX | BIF_NEWDIALOGSTYLE | BIF_NONEWFOLDERBUTTON;
    info.lpfn = &TAdvDirectoryEdit::ChooserCallback;
    info.lParam = reinterpret_cast<LPARAM>(this);
    PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&info);
    SetFocus(edit_);
    if (chosen == nullptr)
        return;
    wchar_t path[MAX_PATH] = {};
    const bool named = SHGetPathFromIDListW(chosen, path);
    CoTaskMemFree(chosen);
    if (named)
        SetText(Utf8Text(path)); // the same folder changes nothing
}

int CALLBACK TAdvDirectoryEdit::ChooserCallback(HWND dialog, UINT message, LPARAM, LPARAM self) {
    if (message != BFFM_INITIALIZED)
        return 0;
    const auto* edit = reinterpret_cast<const TAdvDirectoryEdit*>(self);
    SetControlText(dialog, ChooserTitle);
    std::wstring start = WideText(edit->Text());
    if (start.empty()) {
        wchar_t current[MAX_PATH] = {};
        GetCurrentDirectoryW(MAX_PATH, current);
        start = current;
    }
    SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(start.c_str()));
    edit->PlaceChooser(dialog);
    return 0;
}

void TAdvDirectoryEdit::PlaceChooser(HWND dialog) const {
    RECT chooser{};
    RECT field{};
    GetWindowRect(dialog, &chooser);
    GetWindowRect(edit_, &field);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(edit_, MONITOR_DEFAULTTONEAREST), &monitor);
    const POINT at = ChooserPosition({field.left, field.bottom},
                                     {chooser.right - chooser.left, chooser.bottom - chooser.top},
                                     monitor.rcWork);
    SetWindowPos(dialog, nullptr, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

LRESULT CALLBACK TAdvDirectoryEdit::EditProcedure(HWND hwnd, UINT message, WPARAM wParam,
                                                  LPARAM lParam, UINT_PTR /*id*/, DWORD_PTR self) {
    if (message == WM_KEYDOWN && wParam == VK_F4) {
        reinterpret_cast<TAdvDirectoryEdit*>(self)->Browse();
        return 0;
    }
    if (SelectAllKey(hwnd, message, wParam))
        return 0;
    if (message == WM_NCDESTROY)
        RemoveWindowSubclass(hwnd, &TAdvDirectoryEdit::EditProcedure, SubclassId);
    return DefSubclassProc(hwnd, message, wParam, lParam);
}
