// The main window on the Windows GUI: builds the controls at their fixed
// places, offers the window operations to the loader, runs every handler
// through the loader's guard and every run button through the window
// controller, and draws what the controller says of the run. No failure may unwind through the
// system's message dispatch: the window procedure holds it, and it is raised again once the
// dispatch has returned (in the pump, or in SetDirEditText for a scan that the loader started
// itself).
#include "app/win32/Tftftp_main.h"
#include "app/win32/WindowText.h"

#include <algorithm>
#include <commctrl.h>
#include <commdlg.h>
#include <filesystem>
#include <fstream>
#include <ole2.h>
#include <tuple>
#include <utility>
#include <vector>

#include "app/WindowAntiFreeze.h"
#include "runtime/Files.h"

namespace {

constexpr wchar_t WindowClass[] = L"Tftftp_main";
constexpr wchar_t GroupClass[] = L"Tftftp_group";
constexpr DWORD WindowStyle = WS_OVERLAPPEDWINDOW;
constexpr DWORD WindowExStyle = WS_EX_APPWINDOW | WS_EX_CONTROLPARENT;
constexpr char Label1Text[] = "IP Address:";
constexpr int LogLineHeight = 13;
/// How far each drop-down list opens below its field.
constexpr int DropDownHeight = 160;
/// The address field refused a key or to be left; the box opens once that
/// key or focus change is over.
constexpr UINT WmValidationFailed = WM_APP + 1;
/// The close question was answered: wParam is TRUE for Yes.
constexpr UINT WmCloseAnswered = WM_APP + 2;
/// The status label's place in the layout of 96 DPI, left and top; it
/// grows right, and left over the transfer bar's strip when it must.
constexpr POINT StatusHome{568, 200};

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
enum TMenuItem { miCopy = 1, miSaveAs };

/// A length of the layout of 96 DPI at dpi.
int Scaled(int length, int dpi) {
    return MulDiv(length, dpi, USER_DEFAULT_SCREEN_DPI);
}

HFONT TahomaFont(int points, int dpi) {
    return CreateFontW(-MulDiv(points, dpi, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                       DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_SWISS, L"Tahoma");
}

HWND Control(HWND parent, DWORD exStyle, const wchar_t* windowClass, const std::string& text,
             DWORD style, RECT place, int id, HFONT font) {
    const HWND control = CreateWindowExW(
        exStyle, windowClass, WideText(text).c_str(), WS_CHILD | style, place.left, place.top,
        place.right - place.left, place.bottom - place.top, parent,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return control;
}

/// The width of the frame and margins that an edit draws around its text.
LONG EditFrameWidth(HWND edit) {
    RECT window{};
    RECT client{};
    GetWindowRect(edit, &window);
    GetClientRect(edit, &client);
    const auto margins = static_cast<DWORD>(SendMessageW(edit, EM_GETMARGINS, 0, 0));
    return (window.right - window.left) - client.right + LOWORD(margins) + HIWORD(margins);
}

/// The place of control in its parent's client area.
RECT PlaceOf(HWND control) {
    RECT place{};
    GetWindowRect(control, &place);
    MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&place), 2);
    return place;
}

/// Moves control to place within its parent and gives it that size.
void Move(HWND control, RECT place) {
    SetWindowPos(control, nullptr, place.left, place.top, place.right - place.left,
                 place.bottom - place.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

/// place made at least width wide and height high, growing right and down.
RECT AtLeast(RECT place, LONG width, LONG height) {
    place.right = std::max(place.right, place.left + width);
    place.bottom = std::max(place.bottom, place.top + height);
    return place;
}

/// The text of a list's or drop-down list's item (getLength and getText its
/// messages for them); empty for an index without an item.
std::string ItemText(HWND list, UINT getLength, UINT getText, int index) {
    const auto length = SendMessageW(list, getLength, static_cast<WPARAM>(index), 0);
    if (length < 0) // LB_ERR, CB_ERR
        return {};
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    text.resize(static_cast<std::size_t>(SendMessageW(list, getText, static_cast<WPARAM>(index),
                                                      reinterpret_cast<LPARAM>(text.data()))));
    return Utf8Text(text);
}

/// left, top, width, height as the window's layout gives them.
RECT Place(int left, int top, int width, int height) {
    return {left, top, left + width, top + height};
}

void RegisterClasses(WNDPROC window, WNDPROC group) {
    static const bool registered = [&] {
        WNDCLASSEXW c{};
        c.cbSize = sizeof c;
        c.lpfnWndProc = window;
        c.hInstance = GetModuleHandleW(nullptr);
        c.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
        c.hIcon = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
        c.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        c.lpszClassName = WindowClass;
        RegisterClassExW(&c);
        c.lpfnWndProc = group;
        c.hIcon = nullptr;
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
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    RegisterClasses(&Tftftp_main::WindowProcedure, &Tftftp_main::GroupProcedure);

    // A window with no owner and WS_EX_APPWINDOW: the task bar shows it, not
    // some hidden application window. Its size comes with the layout, once
    // the monitor it is on tells the DPI.
    handle_ = CreateWindowExW(WindowExStyle, WindowClass, WideText(Caption).c_str(), WindowStyle, 0,
                              0, ClientWidth, ClientHeight, nullptr, nullptr,
                              GetModuleHandleW(nullptr), this);
    dpi_ = static_cast<int>(GetDpiForWindow(handle_));
    font_ = TahomaFont(8, dpi_);
    statusFont_ = TahomaFont(10, dpi_);
    CreateControls();
    Layout();

    TRunView& view = *this;
    controller_ = std::make_unique<TWindowController>(*this, view);
    // A transfer waits up to 4 s for each reply without a notification; the
    // window must repaint and take a close meanwhile. One hook per process.
    if (TIdAntiFreezeBase::CurrentAntiFreeze == nullptr)
        IdAntiFreeze1 = std::make_unique<TWindowAntiFreeze>(*this, Loader());
}

Tftftp_main::~Tftftp_main() {
    EndQuestion();
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
    // One line, cut short with an ellipsis where the strip ends.
    statuslab = Control(handle_, 0, L"STATIC", "", shown | SS_LEFT | SS_NOPREFIX | SS_ENDELLIPSIS,
                        unplaced, idStatuslab, statusFont_);
    Label1 = Control(handle_, 0, L"STATIC", Label1Text, shown | SS_LEFTNOWORDWRAP | SS_NOPREFIX,
                     unplaced, idLabel1, font_);
    ListBox1 = Control(handle_, WS_EX_CLIENTEDGE, L"LISTBOX", "",
                       shown | WS_TABSTOP | WS_VSCROLL | WS_HSCROLL | LBS_NOINTEGRALHEIGHT |
                           LBS_EXTENDEDSEL | LBS_NOTIFY,
                       unplaced, idListBox1, font_);
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
    connectbut = Control(handle_, 0, L"BUTTON", "Connect", shown | WS_TABSTOP | BS_PUSHBUTTON,
                         unplaced, idConnectbut, font_);

    // The group is a window of its own, so that hiding it hides what it holds
    // and the tab order walks into it; the frame with its caption is drawn
    // by a group box inside it.
    filegroup =
        Control(handle_, WS_EX_CONTROLPARENT, GroupClass, "", 0, unplaced, idFilegroup, font_);
    groupFrame_ = Control(filegroup, 0, L"BUTTON", "Select Files", shown | BS_GROUPBOX, unplaced,
                          idGroupFrame, font_);
    diredit = std::make_unique<TAdvDirectoryEdit>(filegroup, idDiredit, idBrowse, unplaced);
    for (auto [list, id] : {std::pair{&file1edit, idFile1edit}, std::pair{&file2edit, idFile2edit}})
        // Drop-down lists without an edit part: only the entries can be chosen.
        *list = Control(filegroup, 0, L"COMBOBOX", "",
                        shown | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST | CBS_HASSTRINGS,
                        unplaced, id, font_);
    uploadbut = Control(filegroup, 0, L"BUTTON", "Upload", shown | WS_TABSTOP | BS_PUSHBUTTON,
                        unplaced, idUploadbut, font_);
    transferbar = Control(handle_, 0, PROGRESS_CLASSW, "", 0, unplaced, idTransferbar, font_);
    SendMessageW(transferbar, PBM_SETRANGE32, 0, 100);
}

void Tftftp_main::Layout() {
    const auto scaled = [this](int length) { return Scaled(length, dpi_); };
    // The layout of 96 DPI: left, top, width, height.
    const auto at = [&](int left, int top, int width, int height) {
        return Place(scaled(left), scaled(top), scaled(width), scaled(height));
    };

    // The fonts of this DPI on every control first: the texts are measured,
    // and the edits and lists size their lines, in them.
    const HFONT oldFont = std::exchange(font_, TahomaFont(8, dpi_));
    const HFONT oldStatusFont = std::exchange(statusFont_, TahomaFont(10, dpi_));
    EnumChildWindows(
        handle_,
        [](HWND control, LPARAM self) -> BOOL {
            const auto* window = reinterpret_cast<const Tftftp_main*>(self);
            const HFONT font = control == window->statuslab ? window->statusFont_ : window->font_;
            SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(this));
    DeleteObject(oldFont);
    DeleteObject(oldStatusFont);
    const LONG lineHeight = TextExtent(ListBox1, "Ag").cy;

    // The frame of this DPI around the client area; where the system draws
    // it otherwise, what it leaves of the client area is made up for.
    const SIZE client{scaled(ClientWidth), scaled(ClientHeight)};
    RECT frame{0, 0, client.cx, client.cy};
    AdjustWindowRectExForDpi(&frame, WindowStyle, FALSE, WindowExStyle, static_cast<UINT>(dpi_));
    for (int attempt = 0; attempt < 2; ++attempt) {
        SetWindowPos(handle_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        RECT got{};
        GetClientRect(handle_, &got);
        frame.right += client.cx - got.right;
        frame.bottom += client.cy - got.bottom;
    }

    // The address row: the label, the field wide enough for a whole address
    // (or all its blanks) beside it, then Connect.
    const SIZE label = TextExtent(Label1, Label1Text);
    const RECT labelPlace = AtLeast(at(16, 12, 56, 13), label.cx, label.cy);
    Move(Label1, labelPlace);
    RECT field = at(78, 8, 98, 21);
    OffsetRect(&field, std::max<LONG>(0, labelPlace.right + scaled(4) - field.left), 0);
    ipedit->Place(field, font_);
    std::string blanks = AddressPattern;
    std::replace(blanks.begin(), blanks.end(), TMaskRules::DigitPosition, TMaskRules::BlankShown);
    const LONG text = std::max(TextExtent(ipedit->Handle(), AddressPattern).cx,
                               TextExtent(ipedit->Handle(), blanks).cx);
    field = AtLeast(field, EditFrameWidth(ipedit->Handle()) + text + 2, 0); // and the caret
    ipedit->Place(field, font_);
    RECT connect = at(200, 8, 89, 25);
    OffsetRect(&connect, std::max<LONG>(0, field.right + scaled(8) - connect.left), 0);
    Move(connectbut, connect);

    Move(ListBox1, at(309, 8, 360, 177));
    SendMessageW(ListBox1, LB_SETITEMHEIGHT, 0, std::max<LONG>(scaled(LogLineHeight), lineHeight));
    SendMessageW(ListBox1, LB_SETHORIZONTALEXTENT, 0, 0);
    const int lines = static_cast<int>(SendMessageW(ListBox1, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < lines; ++i)
        WidenLog(ItemText(ListBox1, LB_GETTEXTLEN, LB_GETTEXT, i));

    Move(filegroup, at(16, 43, 273, 174));
    Move(groupFrame_, at(0, 0, 273, 174));
    diredit->Place(at(6, 32, 251, 21), scaled(TAdvDirectoryEdit::ButtonWidth));
    for (auto [list, top] : {std::pair{file1edit, 64}, std::pair{file2edit, 95}}) {
        Move(list, at(6, top, 251, 21 + DropDownHeight));
        // The closed field as high as the other fields: its selection line
        // that high less the border the combo box draws around it.
        LONG selection = std::max<LONG>(scaled(21) - 6, lineHeight);
        for (int attempt = 0; attempt < 2; ++attempt) {
            SendMessageW(list, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), selection);
            RECT closed{};
            GetWindowRect(list, &closed);
            selection =
                std::max<LONG>(selection + scaled(21) - (closed.bottom - closed.top), lineHeight);
        }
        SendMessageW(list, CB_SETITEMHEIGHT, 0,
                     std::max<LONG>(SendMessageW(list, CB_GETITEMHEIGHT, 0, 0), lineHeight));
    }
    Move(uploadbut, at(96, 133, 75, 25));

    // The free strip between the log's bottom (185) and the window's; ends
    // short of the status label, which grows to the right with its text.
    Move(transferbar, at(309, 203, 251, 10));
    Move(statuslab, at(StatusHome.x, StatusHome.y, 4, 16));
    PlaceStatus();
    InvalidateRect(handle_, nullptr, TRUE);
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
        RaiseHeldFailure();
    }
    return static_cast<int>(msg.wParam);
}

bool Tftftp_main::Dispatch(MSG& msg) {
    if (msg.message == WM_QUIT)
        return false;
    // The log's Copy key copies what its menu's Copy does, the selected
    // lines (or all).
    if (msg.message == WM_KEYDOWN && msg.hwnd == ListBox1 && msg.wParam == 'C' &&
        GetKeyState(VK_CONTROL) < 0) {
        CopyLog();
        return true;
    }
    // Tab, the arrow keys and Enter move between and press the controls.
    if (handle_ == nullptr || !IsDialogMessageW(handle_, &msg)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return true;
}

void Tftftp_main::RaiseHeldFailure() {
    if (heldFailure_)
        std::rethrow_exception(std::exchange(heldFailure_, nullptr));
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
        self->heldFailure_ = std::current_exception();
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
            // Enter on a focused button presses it.
            const HWND focus = GetFocus();
            if (focus == connectbut || focus == uploadbut)
                SendMessageW(focus, BM_CLICK, 0, 0);
        } else if (LOWORD(wParam) == IDCANCEL && controller_) {
            controller_->Escape(); // the Escape key: ends the run under way
        }
        return 0;
    case WM_CTLCOLORSTATIC:
        if (reinterpret_cast<HWND>(lParam) == statuslab) {
            const auto dc = reinterpret_cast<HDC>(wParam);
            const COLORREF face = GetSysColor(COLOR_BTNFACE);
            const TRgb text =
                StatusColour(controller_ ? controller_->StatusTone() : TStatusTone::stNormal,
                             {GetRValue(face), GetGValue(face), GetBValue(face)});
            SetTextColor(dc, RGB(text.Red, text.Green, text.Blue));
            SetBkColor(dc, face);
            return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
        }
        break;
    case WM_CONTEXTMENU:
        if (reinterpret_cast<HWND>(wParam) == ListBox1) {
            ListBox1ContextMenu(
                {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))});
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
        EndQuestion();
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
    if (!controller_)
        return; // the controls' own set-up, while the window is being built
    if (code == BN_CLICKED && (control == connectbut || control == uploadbut)) {
        // A click on a button leaves the address field first; when the field
        // refuses to be left, the click is part of that refused move and
        // runs nothing.
        if (ipedit->HoldsInvalidChange())
            return;
        controller_->Press(control == connectbut ? TRunKind::rkConnect : TRunKind::rkUpload);
    } else if (code == BN_CLICKED && control == diredit->BrowseButton()) {
        diredit->Browse();
    } else if (code == EN_CHANGE && control == diredit->Edit()) {
        Loader().direditChange();
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
        // destroyed once it has unwound (SetBusy posts the close again).
        closing_ = true;
        ShowWindow(handle_, SW_HIDE);
        return;
    case TCloseAction::caCloseNow:
        DestroyWindow(handle_);
        return;
    }
}

// --- Run state ----------------------------------------------------------------

HWND Tftftp_main::Button(TRunKind button) const {
    return button == TRunKind::rkConnect ? connectbut : uploadbut;
}

void Tftftp_main::ShowRunState() {
    for (const TRunKind kind : {TRunKind::rkConnect, TRunKind::rkUpload}) {
        SetControlText(Button(kind), std::string(controller_->ButtonCaption(kind)));
        EnableWindow(Button(kind), controller_->ButtonEnabled(kind));
    }
    InvalidateRect(statuslab, nullptr, TRUE); // its colour: WM_CTLCOLORSTATIC
}

void Tftftp_main::AskToClose(const std::string& question) {
    // A box run on this thread would hold the update in the box's own
    // message loop until the user answers; on a thread of its own it leaves
    // this one running the update, while it disables the window as any box
    // does. The answer comes back as a message.
    EndQuestion();
    questionThread_ = 0;
    questionDone_ = false;
    question_ = std::thread([this, window = handle_, text = WideText(question)] {
        questionThread_ = GetCurrentThreadId();
        const int answer = MessageBoxW(window, text.c_str(), WideText(ApplicationTitleText).c_str(),
                                       MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
        questionDone_ = true;
        PostMessageW(window, WmCloseAnswered, answer == IDYES, 0);
    });
}

void Tftftp_main::EndQuestion() {
    if (!question_.joinable())
        return;
    while (!questionDone_) {
        if (const DWORD thread = questionThread_)
            EnumThreadWindows(
                thread,
                [](HWND box, LPARAM) -> BOOL {
                    char boxClass[16] = {};
                    GetClassNameA(box, boxClass, sizeof boxClass);
                    if (std::string_view(boxClass) == "#32770")
                        PostMessageW(box, WM_COMMAND, IDNO, 0);
                    return TRUE;
                },
                0);
        // The box's thread sends this one messages as it goes (its owner is
        // enabled again): they are taken while waiting.
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_SENDMESSAGE);
        MSG msg{};
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    question_.join();
}

void Tftftp_main::CloseWindow() {
    Close();
}

void Tftftp_main::ListBox1ContextMenu(POINT at) {
    if (at.x == -1 && at.y == -1) { // from the keyboard: at the log's corner
        RECT list{};
        GetWindowRect(ListBox1, &list);
        at = {list.left, list.top};
    }
    const HMENU menu = CreatePopupMenu();
    AppendMenuW(menu, MF_STRING, miCopy, L"Copy");
    AppendMenuW(menu, MF_STRING, miSaveAs, L"Save As...");
    const int chosen =
        TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, at.x, at.y, 0, handle_, nullptr);
    DestroyMenu(menu);
    if (chosen == miCopy)
        CopyLog();
    else if (chosen == miSaveAs)
        SaveLogAs();
}

void Tftftp_main::CopyLog() const {
    SetClipboardText(handle_, LogText());
}

void Tftftp_main::SaveLogAs() {
    wchar_t path[MAX_PATH] = {};
    OPENFILENAMEW save{};
    save.lStructSize = sizeof save;
    save.hwndOwner = handle_;
    save.lpstrFilter = L"Text files (*.txt)\0*.txt\0All files (*.*)\0*.*\0";
    save.lpstrFile = path;
    save.nMaxFile = MAX_PATH;
    save.lpstrTitle = L"Save As";
    save.lpstrDefExt = L"txt";
    save.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    if (GetSaveFileNameW(&save) && !SaveLog(Utf8Text(path)))
        ShowError(ErrorBoxText("Cannot create file \"" + Utf8Text(path) + "\""));
}

std::string Tftftp_main::LogText() const {
    const int count = static_cast<int>(SendMessageW(ListBox1, LB_GETCOUNT, 0, 0));
    std::vector<int> lines(static_cast<std::size_t>(count));
    const auto selected = static_cast<int>(SendMessageW(ListBox1, LB_GETSELITEMS, lines.size(),
                                                        reinterpret_cast<LPARAM>(lines.data())));
    if (selected > 0)
        lines.resize(static_cast<std::size_t>(selected));
    else
        for (int i = 0; i < count; ++i)
            lines[static_cast<std::size_t>(i)] = i;
    std::string text;
    for (const int line : lines)
        text += ItemText(ListBox1, LB_GETTEXTLEN, LB_GETTEXT, line) + "\r\n";
    return text;
}

bool Tftftp_main::SaveLog(const std::string& path) const {
    std::ofstream file(std::filesystem::path(WideText(path)), std::ios::binary | std::ios::trunc);
    const int count = static_cast<int>(SendMessageW(ListBox1, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < count && file; ++i)
        file << ItemText(ListBox1, LB_GETTEXTLEN, LB_GETTEXT, i) << "\r\n";
    file.close();
    return !file.fail();
}

// --- Window operations ------------------------------------------------------------

void Tftftp_main::LogLine(const std::string& text) {
    const auto line =
        SendMessageW(ListBox1, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(WideText(text).c_str()));
    SendMessageW(ListBox1, LB_SETTOPINDEX, static_cast<WPARAM>(line), 0);
    WidenLog(text);
}

void Tftftp_main::WidenLog(const std::string& line) {
    // A list box scrolls sideways only as far as it is told; a long reason
    // would end at its edge otherwise. The margin is the one it draws before
    // each line.
    const LONG width = TextExtent(ListBox1, line).cx + Scaled(4, dpi_);
    if (width > SendMessageW(ListBox1, LB_GETHORIZONTALEXTENT, 0, 0))
        SendMessageW(ListBox1, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(width), 0);
}

void Tftftp_main::ClearLog() {
    SendMessageW(ListBox1, LB_RESETCONTENT, 0, 0);
    SendMessageW(ListBox1, LB_SETHORIZONTALEXTENT, 0, 0);
}

void Tftftp_main::SetStatus(const std::string& text) {
    statusText_ = text;
    PlaceStatus();
}

void Tftftp_main::PlaceStatus() {
    SetControlText(statuslab, statusText_);
    // The label grows with its text, to the right and then to the left, as
    // wide as the text needs and the strip under the log allows.
    const SIZE extent = TextExtent(statuslab, statusText_);
    const int home = Scaled(StatusHome.x, dpi_);
    const bool bar = (GetWindowLongW(transferbar, GWL_STYLE) & WS_VISIBLE) != 0;
    const TStatusPlace place =
        StatusPlace(std::max<int>(Scaled(4, dpi_), extent.cx), home,
                    bar ? home : PlaceOf(transferbar).left, PlaceOf(ListBox1).right);
    SetWindowPos(statuslab, nullptr, place.Left, Scaled(StatusHome.y, dpi_), place.Width,
                 std::max<LONG>(Scaled(16, dpi_), extent.cy), SWP_NOZORDER | SWP_NOACTIVATE);
    InvalidateRect(statuslab, nullptr, TRUE);
}

void Tftftp_main::SetProgress(std::int64_t done, std::int64_t total) {
    const bool shown = (GetWindowLongW(transferbar, GWL_STYLE) & WS_VISIBLE) != 0;
    ShowWindow(transferbar, total > 0 ? SW_SHOWNA : SW_HIDE);
    if (total > 0)
        SendMessageW(transferbar, PBM_SETPOS, static_cast<WPARAM>(ProgressPercent(done, total)), 0);
    // The status reaches left over the strip only while the bar is away.
    if (shown != (total > 0))
        PlaceStatus();
}

void Tftftp_main::TraceOut(const std::string& text) {
    OutputDebugStringW(WideText(text).c_str());
}

void Tftftp_main::PumpMessages() {
    MSG msg{};
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (!Dispatch(msg)) {
            // The quit belongs to the outer message loop; the run only unwinds.
            PostQuitMessage(static_cast<int>(msg.wParam));
            closing_ = true;
            break;
        }
        RaiseHeldFailure();
    }
}

void Tftftp_main::PumpMessagesUntil(Clock::time_point deadline) {
    // Sleeps on the message queue rather than spinning; a close ends the wait
    // early, since the loader then only unwinds.
    while (!closing_) {
        const auto left = deadline - Clock::now();
        if (left <= Clock::duration::zero())
            break;
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(left).count();
        MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(wait), QS_ALLINPUT,
                                    MWMO_INPUTAVAILABLE);
        PumpMessages();
    }
    PumpMessages();
}

std::string Tftftp_main::ReadAddress() {
    return ipedit->Reading();
}

void Tftftp_main::SetFileGroupVisible(bool visible) {
    ShowWindow(filegroup, visible ? SW_SHOWNA : SW_HIDE);
}

std::string Tftftp_main::DirEditText() {
    return diredit->Text();
}

void Tftftp_main::SetDirEditText(const std::string& text) {
    heldFailure_ = nullptr;
    diredit->SetText(text); // its change event runs the scan inside this call
    RaiseHeldFailure();
}

HWND Tftftp_main::List(TImageList list) const {
    return list == TImageList::ilWebPages ? file1edit : file2edit;
}

void Tftftp_main::ListClear(TImageList list) {
    SendMessageW(List(list), CB_RESETCONTENT, 0, 0);
}

void Tftftp_main::ListAppend(TImageList list, const std::string& text) {
    SendMessageW(List(list), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(WideText(text).c_str()));
}

int Tftftp_main::ListCount(TImageList list) {
    return static_cast<int>(SendMessageW(List(list), CB_GETCOUNT, 0, 0));
}

int Tftftp_main::ListItemIndex(TImageList list) {
    return static_cast<int>(SendMessageW(List(list), CB_GETCURSEL, 0, 0));
}

void Tftftp_main::SetListItemIndex(TImageList list, int index) {
    SendMessageW(List(list), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

std::string Tftftp_main::ListItem(TImageList list, int index) {
    return ItemText(List(list), CB_GETLBTEXTLEN, CB_GETLBTEXT, index);
}

std::string Tftftp_main::ProgramFolder() {
    return ::ProgramFolder();
}

void Tftftp_main::ShowError(const std::string& text) {
    MessageBoxW(handle_, WideText(text).c_str(), WideText(ApplicationTitleText).c_str(),
                MB_OK | MB_ICONERROR);
}

void Tftftp_main::SetBusy(bool busy) {
    if (busy) {
        const HWND focus = GetFocus();
        focusBeforeRun_ = focus != nullptr && IsChild(handle_, focus) ? focus : nullptr;
    }
    // The run's button becomes its Cancel, the other one is disabled.
    controller_->SetBusy(busy);
    if (busy) {
        // A control about to be disabled leaves the focus to the log, where
        // Escape cancels; a disabled control would take the keys with it.
        const auto button = controller_->RunButton();
        if (focusBeforeRun_ != nullptr && (!button || focusBeforeRun_ != Button(*button)))
            SetFocus(ListBox1);
    }
    for (const HWND control : {ipedit->Handle(), file1edit, file2edit})
        EnableWindow(control, !busy);
    diredit->SetEnabled(!busy);
    if (busy)
        return;
    SetProgress(0, 0);
    if (closing_) {
        PostMessageW(handle_, WM_CLOSE, 0, 0);
        return;
    }
    // Disabling took the keyboard from the control the run started from.
    if (focusBeforeRun_ != nullptr && IsWindowVisible(focusBeforeRun_))
        SetFocus(focusBeforeRun_);
}

void Tftftp_main::RunEnded(const TRunOutcome& outcome) {
    controller_->RunEnded(outcome);
}
