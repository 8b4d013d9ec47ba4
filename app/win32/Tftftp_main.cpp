// The main window on the Windows GUI: builds the controls, runs every handler
// through the loader's guard and every run button through the window
// controller, and takes the window's own messages; what it offers the loader
// and the controller is in MainOperations.cpp. No failure may unwind through
// the system's message dispatch: the window procedure gives it to the
// controller to hold, and it is raised again once the dispatch has returned
// (in the pump, or in SetDirEditText for a scan that the loader started
// itself).
#include "app/win32/Tftftp_main.h"

#include <algorithm>
#include <commctrl.h>
#include <ole2.h>
#include <utility>

#include "app/WindowAntiFreeze.h"
#include "app/win32/AccessibleName.h"
#include "app/win32/Layout.h"
#include "app/win32/OwnedBox.h"
#include "app/win32/WindowText.h"
#include "runtime/Files.h"

namespace {

constexpr wchar_t WindowClass[] = L"Tftftp_main";
constexpr wchar_t GroupClass[] = L"Tftftp_group";
/// The program's icon, as tftp-loader.rc declares it.
constexpr int ProgramIcon = 1;
enum TControlId {
    idStatuslab = 100,
    idLabel1,
    idListBox1,
    idIpedit,
    idConnectbut,
    idFilegroup,
    idGroupFrame,
    idDiredit,
    idBrowse,
    idFile1edit,
    idFile2edit,
    idUploadbut,
    idTransferbar
};
void RegisterClasses(WNDPROC window, WNDPROC group) {
    static const bool registered = [&] {
        WNDCLASSEXW c{};
        c.cbSize = sizeof c;
        c.lpfnWndProc = window;
        c.hInstance = GetModuleHandleW(nullptr);
        c.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
        // The program's icon (its resource 1), in the sizes of a title bar
        // and of the task bar's button and Alt+Tab.
        c.hIcon = static_cast<HICON>(LoadImageW(c.hInstance, MAKEINTRESOURCEW(ProgramIcon),
                                                IMAGE_ICON, GetSystemMetrics(SM_CXICON),
                                                GetSystemMetrics(SM_CYICON), LR_SHARED));
        c.hIconSm = static_cast<HICON>(LoadImageW(c.hInstance, MAKEINTRESOURCEW(ProgramIcon),
                                                  IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                                  GetSystemMetrics(SM_CYSMICON), LR_SHARED));
        c.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        c.lpszClassName = WindowClass;
        RegisterClassExW(&c);
        c.lpfnWndProc = group;
        c.hIcon = nullptr;
        c.hIconSm = nullptr;
        c.lpszClassName = GroupClass;
        RegisterClassExW(&c);
        return true;
    }();
    (void)registered;
}

} // namespace

Tftftp_main::Tftftp_main() {
    // The folder chooser is a shell dialog and needs COM on this thread.
    oleInitialized_ = SUCCEEDED(OleInitialize(nullptr));
    INITCOMMONCONTROLSEX controls{sizeof controls,
                                  ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    RegisterClasses(&Tftftp_main::WindowProcedure, &Tftftp_main::GroupProcedure);
    // First, so that a failure in any message of the window has its keeper.
    StartController();

    // A window with no owner and WS_EX_APPWINDOW: the task bar shows it, not
    // some hidden application window. Its size comes with the layout, once
    // the monitor it is on tells the DPI.
    handle_ = CreateWindowExW(ExStyle, WindowClass, WideText(Caption).c_str(), Style, 0, 0,
                              TWindowLayout::ClientWidth, TWindowLayout::ClientHeight, nullptr,
                              nullptr, GetModuleHandleW(nullptr), this);
    dpi_ = static_cast<int>(GetDpiForWindow(handle_));
    font_ = TahomaFont(8, static_cast<UINT>(dpi_));
    statusFont_ = TahomaFont(10, static_cast<UINT>(dpi_));
    CreateControls();
    Layout();
    CentreOver(handle_, WorkAreaOf(handle_)); // on the monitor it opens on
    built_ = true;
    // A transfer waits up to 4 s for each reply without a notification; the
    // window must repaint and take a close meanwhile. One hook per process.
    if (TIdAntiFreezeBase::CurrentAntiFreeze == nullptr)
        IdAntiFreeze1 = std::make_unique<TWindowAntiFreeze>(*this, Loader());
}

Tftftp_main::~Tftftp_main() {
    question_.End();
    IdAntiFreeze1.reset();
    if (handle_ != nullptr) {
        const HWND window = std::exchange(handle_, nullptr); // no quit for this one
        DestroyWindow(window);
    }
    DeleteObject(font_);
    DeleteObject(statusFont_);
    if (oleInitialized_)
        OleUninitialize();
}

void Tftftp_main::CreateControls() {
    const DWORD shown = WS_VISIBLE;
    const RECT unplaced{}; // Layout places each
    // One line, cut short with an ellipsis where the strip ends, and the
    // whole text in its tooltip (which needs the mouse: SS_NOTIFY).
    statuslab = CreateControl(handle_, 0, L"STATIC", "",
                              shown | SS_LEFT | SS_NOPREFIX | SS_ENDELLIPSIS | SS_NOTIFY, unplaced,
                              idStatuslab, statusFont_);
    tips_ = std::make_unique<TToolTips>(handle_);
    tips_->Add(statuslab, "");
    Label1 = CreateControl(handle_, 0, L"STATIC", Label1Text,
                           shown | SS_LEFTNOWORDWRAP | SS_NOPREFIX, unplaced, idLabel1, font_);
    log_ = std::make_unique<TLogView>(handle_, idListBox1, font_);
    ListBox1 = log_->Handle();
    ipedit = std::make_unique<TMaskEdit>(handle_, idIpedit, unplaced, font_, AddressPattern,
                                         DefaultAddress);
    ipedit->OnValidationFailed = [this](const std::string& message) {
        // One box for refusals that come quicker than it opens.
        if (std::exchange(ipeditMessage_, message).empty())
            PostMessageW(handle_, WmValidationFailed, 0, 0);
    };
    // Enter in a complete address connects, as a click on Connect would, but
    // leaves the focus in the field (a click would give it to Connect): the
    // run gives it back there, for the next address.
    ipedit->OnConfirmed = [this] {
        PostMessageW(handle_, WM_COMMAND, MAKEWPARAM(idConnectbut, BN_CLICKED),
                     reinterpret_cast<LPARAM>(connectbut));
    };
    connectbut = CreateControl(handle_, 0, L"BUTTON", "Connect", shown | WS_TABSTOP | BS_PUSHBUTTON,
                               unplaced, idConnectbut, font_);

    // The group is a window of its own, so that hiding it hides what it holds
    // and the tab order walks into it; the frame with its caption is drawn
    // by a group box inside it.
    filegroup = CreateControl(handle_, WS_EX_CONTROLPARENT, GroupClass, "", 0, unplaced,
                              idFilegroup, font_);
    groupFrame_ = CreateControl(filegroup, 0, L"BUTTON", "Select Files", shown | BS_GROUPBOX,
                                unplaced, idGroupFrame, font_);
    diredit = std::make_unique<TAdvDirectoryEdit>(filegroup, idDiredit, idBrowse, unplaced);
    for (auto [list, id] : {std::pair{&file1edit, idFile1edit}, std::pair{&file2edit, idFile2edit}})
        // Drop-down lists without an edit part: only the entries can be chosen.
        *list = CreateControl(filegroup, 0, L"COMBOBOX", "",
                              shown | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST | CBS_HASSTRINGS,
                              unplaced, id, font_);
    uploadbut = CreateControl(filegroup, 0, L"BUTTON", "Upload", shown | WS_TABSTOP | BS_PUSHBUTTON,
                              unplaced, idUploadbut, font_);
    transferbar = CreateControl(handle_, 0, PROGRESS_CLASSW, "", 0, unplaced, idTransferbar, font_);
    SendMessageW(transferbar, PBM_SETRANGE32, 0, 100);
    controls_ = {{ListBox1, ipedit->Handle(), connectbut, diredit->Edit(), diredit->BrowseButton(),
                  file1edit, file2edit, uploadbut}};
    // Screen readers would name the edits and lists by their contents, or
    // by the group's caption, and the browse button by its "...".
    for (const TWindowControl control : WindowControls)
        if (const std::string_view name = AccessibleName(control); !name.empty())
            SetAccessibleName(controls_[control], std::string(name));
    SetAccessibleName(statuslab, StatusName, TTextRole::trDescription);
    tips_->Add(diredit->BrowseButton(), FolderButtonTip);
}

void Tftftp_main::Show() {
    ShowWindow(handle_, SW_SHOW);
    UpdateWindow(handle_);
    SetFocus(ListBox1); // the first in the tab order
}

int Tftftp_main::Run() {
    MSG msg{};
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        Dispatch(msg);
        controller_->RaiseHeldFailure();
    }
    return static_cast<int>(msg.wParam);
}

bool Tftftp_main::Dispatch(MSG& msg) {
    if (msg.message == WM_QUIT)
        return false;
    // The log's Copy key copies what its menu's Copy does, the selected
    // lines (or all).
    if (log_->IsCopyKey(msg)) {
        controller_->CopyLog();
        return true;
    }
    // Tab, the arrow keys and Enter move between and press the controls.
    if (handle_ == nullptr || !IsDialogMessageW(handle_, &msg)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return true;
}

// --- Window procedures --------------------------------------------------------

LRESULT CALLBACK Tftftp_main::WindowProcedure(HWND hwnd, UINT message, WPARAM wParam,
                                              LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<Tftftp_main*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self == nullptr || self->handle_ != hwnd)
        return DefWindowProcW(hwnd, message, wParam, lParam);
    try {
        return self->Message(message, wParam, lParam);
    } catch (...) {
        self->controller_->HoldFailure(std::current_exception());
        return 0;
    }
}

LRESULT CALLBACK Tftftp_main::GroupProcedure(HWND hwnd, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
    // What the group's controls tell their parent is the window's business.
    switch (message) {
    case WM_COMMAND:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
        return SendMessageW(GetParent(hwnd), message, wParam, lParam);
    default:
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

LRESULT Tftftp_main::Message(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        if (lParam != 0) {
            Command(reinterpret_cast<HWND>(lParam), HIWORD(wParam));
        } else if (LOWORD(wParam) == IDOK) {
            // Enter on a focused button presses it; in the folder edit it
            // scans the folder typed.
            const HWND focus = GetFocus();
            if (focus == connectbut || focus == uploadbut)
                SendMessageW(focus, BM_CLICK, 0, 0);
            else if (focus == diredit->Edit())
                controller_->FolderConfirmed();
        } else if (LOWORD(wParam) == IDCANCEL) {
            controller_->Escape(); // the Escape key: ends the run under way
        }
        return 0;
    case WM_CTLCOLORSTATIC:
        if (reinterpret_cast<HWND>(lParam) == statuslab) {
            const auto dc = reinterpret_cast<HDC>(wParam);
            const COLORREF face = GetSysColor(COLOR_BTNFACE);
            const TRgb text = StatusColour(controller_->StatusTone(),
                                           {GetRValue(face), GetGValue(face), GetBValue(face)});
            SetTextColor(dc, RGB(text.Red, text.Green, text.Blue));
            SetBkColor(dc, face);
            return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
        }
        break;
    case WM_CONTEXTMENU:
        if (reinterpret_cast<HWND>(wParam) == ListBox1) {
            switch (log_->Menu(
                {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))})) {
            case TLogView::miCopy:
                controller_->CopyLog();
                break;
            case TLogView::miSaveAs:
                controller_->SaveLogAs();
                break;
            case TLogView::miNone:
                break;
            }
            return 0;
        }
        break;
    case WmValidationFailed:
        SetFocus(ipedit->Handle());
        ShowError(ErrorBoxText(std::exchange(ipeditMessage_, {})));
        // The box gives the focus back to whichever control the system
        // remembers; the field keeps it until it may be left.
        SetFocus(ipedit->Handle());
        return 0;
    case WmCloseAnswered:
        question_.End();
        controller_->CloseAnswered(wParam != FALSE);
        return 0;
    case WM_DPICHANGED: {
        // Moved to a monitor of another DPI, or its DPI changed: the window
        // goes where the system suggests, at the size of the new layout.
        dpi_ = HIWORD(wParam);
        const auto* suggested = reinterpret_cast<const RECT*>(lParam);
        SetWindowPos(handle_, nullptr, suggested->left, suggested->top, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        Layout();
        return 0;
    }
    case WM_TIMER:
        if (wParam == FolderPauseTimer) {
            KillTimer(handle_, FolderPauseTimer);
            controller_->FolderPaused();
            return 0;
        }
        break;
    case WM_CLOSE:
        Close();
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0); // closed by the user: the destructor's own close comes not here
        return 0;
    case WM_NCDESTROY: {
        const HWND window = std::exchange(handle_, nullptr);
        return DefWindowProcW(window, message, wParam, lParam);
    }
    default:
        break;
    }
    return DefWindowProcW(handle_, message, wParam, lParam);
}

void Tftftp_main::Command(HWND control, WORD code) {
    if (!built_)
        return; // the controls' own set-up, while the window is being built
    if (code == BN_CLICKED && (control == connectbut || control == uploadbut)) {
        controller_->Press(control == connectbut ? TRunKind::rkConnect : TRunKind::rkUpload);
    } else if (code == BN_CLICKED && control == diredit->BrowseButton()) {
        diredit->Browse();
    } else if (code == EN_CHANGE && control == diredit->Edit()) {
        controller_->FolderChanged(diredit->Setting() ? TFolderChange::fcSet
                                                      : TFolderChange::fcEdited);
    } else if (code == EN_CHANGE && control == ipedit->Handle()) {
        controller_->AddressChanged();
    }
}

void Tftftp_main::Close() {
    switch (controller_->CloseRequested()) {
    case TCloseAction::caKeepOpen:
        return;
    case TCloseAction::caCloseAfterRun:
        // The running Connect or Upload ends at its next pump; the window is
        // destroyed once it has unwound (the controller closes it again).
        ShowWindow(handle_, SW_HIDE);
        return;
    case TCloseAction::caCloseNow:
        DestroyWindow(handle_);
        return;
    }
}
