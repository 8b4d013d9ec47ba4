// The folder edit and the system's folder picker (IFileOpenDialog picking
// folders): file system folders only, a box for typing a path, captioned
// like the chooser of every other window and placed below the edit.
#include "app/win32/DirectoryEdit.h"
#include "app/WindowController.h"
#include "app/win32/WindowText.h"

#include <algorithm>
#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>
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

/// Places the picker once it has a window: its first folder change.
class TAdvDirectoryEdit::TChooserEvents final : public IFileDialogEvents {
public:
    explicit TChooserEvents(const TAdvDirectoryEdit& edit) : edit_(edit) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override {
        if (object == nullptr)
            return E_POINTER;
        if (id == __uuidof(IUnknown) || id == __uuidof(IFileDialogEvents)) {
            *object = static_cast<IFileDialogEvents*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    // Lives on Browse's stack, for the picker's Show.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE OnFolderChange(IFileDialog* dialog) override {
        IOleWindow* window = nullptr;
        if (placed_ ||
            FAILED(dialog->QueryInterface(__uuidof(IOleWindow), reinterpret_cast<void**>(&window))))
            return S_OK;
        HWND handle = nullptr;
        if (SUCCEEDED(window->GetWindow(&handle)) && handle != nullptr) {
            edit_.PlaceChooser(handle);
            placed_ = true;
        }
        window->Release();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnFileOk(IFileDialog*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnFolderChanging(IFileDialog*, IShellItem*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnSelectionChange(IFileDialog*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnShareViolation(IFileDialog*, IShellItem*,
                                               FDE_SHAREVIOLATION_RESPONSE*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE OnTypeChange(IFileDialog*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnOverwrite(IFileDialog*, IShellItem*,
                                          FDE_OVERWRITE_RESPONSE*) override {
        return E_NOTIMPL;
    }

private:
    const TAdvDirectoryEdit& edit_;
    bool placed_ = false;
};

void TAdvDirectoryEdit::Browse() {
    // The system's current picker: folders only, with its path edit. The
    // shell's older chooser, given a path on a drive mapped to another file
    // system, opened at the drive's root and gave that back.
    IFileOpenDialog* chooser = nullptr;
    if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER,
                                __uuidof(IFileOpenDialog), reinterpret_cast<void**>(&chooser))))
        return;
    FILEOPENDIALOGOPTIONS options = 0;
    chooser->GetOptions(&options);
    chooser->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST |
                        FOS_NOCHANGEDIR);
    chooser->SetTitle(WideText(ChooserTitle).c_str());
    std::wstring start = WideText(Text());
    if (start.empty()) {
        wchar_t current[MAX_PATH] = {};
        GetCurrentDirectoryW(MAX_PATH, current);
        start = current;
    }
    IShellItem* folder = nullptr;
    if (SUCCEEDED(SHCreateItemFromParsingName(start.c_str(), nullptr, __uuidof(IShellItem),
                                              reinterpret_cast<void**>(&folder)))) {
        chooser->SetFolder(folder);
        folder->Release();
    }
    TChooserEvents events(*this);
    DWORD cookie = 0;
    const bool advised = SUCCEEDED(chooser->Advise(&events, &cookie));
    const HRESULT shown = chooser->Show(GetAncestor(edit_, GA_ROOT));
    if (advised)
        chooser->Unadvise(cookie);
    IShellItem* chosen = nullptr;
    std::string path;
    if (SUCCEEDED(shown) && SUCCEEDED(chooser->GetResult(&chosen))) {
        wchar_t* name = nullptr;
        if (SUCCEEDED(chosen->GetDisplayName(SIGDN_FILESYSPATH, &name))) {
            path = Utf8Text(name);
            CoTaskMemFree(name);
        }
        chosen->Release();
    }
    chooser->Release();
    SetFocus(edit_);
    // The same folder changes nothing, however its end is written.
    if (!path.empty() && !SameFolder(path, Text()))
        SetText(path);
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
