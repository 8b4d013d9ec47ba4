// The window's layout on the Windows GUI: the 96-DPI places of
// app/WindowLayout.h scaled to the monitor's DPI, in fonts of that DPI, each
// text given at least the room it is drawn in, and the helpers that make and
// place the controls.
#include "app/win32/Layout.h"

#include <algorithm>
#include <utility>

#include "app/win32/Tftftp_main.h"
#include "app/win32/WindowText.h"

namespace {

/// The width of the frame and margins that an edit draws around its text.
LONG EditFrameWidth(HWND edit) {
    RECT window{};
    RECT client{};
    GetWindowRect(edit, &window);
    GetClientRect(edit, &client);
    const auto margins = static_cast<DWORD>(SendMessageW(edit, EM_GETMARGINS, 0, 0));
    return (window.right - window.left) - client.right + LOWORD(margins) + HIWORD(margins);
}

/// place made at least width wide and height high, growing right and down.
RECT AtLeast(RECT place, LONG width, LONG height) {
    place.right = std::max(place.right, place.left + width);
    place.bottom = std::max(place.bottom, place.top + height);
    return place;
}

/// The work area of monitor: the screen less the task bar and its kin.
RECT WorkArea(HMONITOR monitor) {
    MONITORINFO info{};
    info.cbSize = sizeof info;
    GetMonitorInfoW(monitor, &info);
    return info.rcWork;
}

} // namespace

HFONT TahomaFont(int points, UINT dpi) {
    return CreateFontW(-MulDiv(points, static_cast<int>(dpi), 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE,
                       FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                       DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, L"Tahoma");
}

HWND CreateControl(HWND parent, DWORD exStyle, const wchar_t* windowClass, const std::string& text,
                   DWORD style, RECT place, int id, HFONT font) {
    const HWND control = CreateWindowExW(
        exStyle, windowClass, WideText(text).c_str(), WS_CHILD | style, place.left, place.top,
        place.right - place.left, place.bottom - place.top, parent,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return control;
}

RECT PlaceOf(HWND control) {
    RECT place{};
    GetWindowRect(control, &place);
    MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&place), 2);
    return place;
}

void Move(HWND control, RECT place) {
    SetWindowPos(control, nullptr, place.left, place.top, place.right - place.left,
                 place.bottom - place.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

RECT WorkAreaOf(HWND window) {
    return WorkArea(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST));
}

void CentreOver(HWND window, const RECT& over) {
    const RECT work = WorkArea(MonitorFromRect(&over, MONITOR_DEFAULTTONEAREST));
    RECT place{};
    GetWindowRect(window, &place);
    const LONG width = place.right - place.left, height = place.bottom - place.top;
    const LONG left = (over.left + over.right - width) / 2;
    const LONG top = (over.top + over.bottom - height) / 2;
    SetWindowPos(window, nullptr,
                 std::clamp(left, work.left, std::max(work.left, work.right - width)),
                 std::clamp(top, work.top, std::max(work.top, work.bottom - height)), 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

std::string ItemText(HWND list, UINT getLength, UINT getText, int index) {
    const auto length = SendMessageW(list, getLength, static_cast<WPARAM>(index), 0);
    if (length < 0) // LB_ERR, CB_ERR
        return {};
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    text.resize(static_cast<std::size_t>(SendMessageW(list, getText, static_cast<WPARAM>(index),
                                                      reinterpret_cast<LPARAM>(text.data()))));
    return Utf8Text(text);
}

void Tftftp_main::Layout() {
    const auto dpi = static_cast<UINT>(dpi_);
    const auto scaled = [dpi](int length) { return Scaled(length, dpi); };
    const auto at = [dpi](const TLayoutRect& place) { return Scaled(place, dpi); };

    // The fonts of this DPI on every control first: the texts are measured,
    // and the edits and lists size their lines, in them.
    const HFONT oldFont = std::exchange(font_, TahomaFont(8, dpi));
    const HFONT oldStatusFont = std::exchange(statusFont_, TahomaFont(10, dpi));
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
    const SIZE client{scaled(TWindowLayout::ClientWidth), scaled(TWindowLayout::ClientHeight)};
    RECT frame{0, 0, client.cx, client.cy};
    AdjustWindowRectExForDpi(&frame, Style, FALSE, ExStyle, dpi);
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
    const RECT labelPlace = AtLeast(at(TWindowLayout::AddressLabel), label.cx, label.cy);
    Move(Label1, labelPlace);
    RECT field = at(TWindowLayout::Address);
    OffsetRect(&field, std::max<LONG>(0, labelPlace.right + scaled(4) - field.left), 0);
    ipedit->Place(field, font_);
    std::string blanks = AddressPattern;
    std::replace(blanks.begin(), blanks.end(), TMaskRules::DigitPosition, TMaskRules::BlankShown);
    const LONG text = std::max(TextExtent(ipedit->Handle(), AddressPattern).cx,
                               TextExtent(ipedit->Handle(), blanks).cx);
    field = AtLeast(field, EditFrameWidth(ipedit->Handle()) + text + 2, 0); // and the caret
    ipedit->Place(field, font_);
    RECT connect = at(TWindowLayout::Connect);
    OffsetRect(&connect, std::max<LONG>(0, field.right + scaled(8) - connect.left), 0);
    Move(connectbut, connect);

    Move(ListBox1, at(TWindowLayout::Log));
    log_->FitLines(scaled(TWindowLayout::LogLineHeight));

    Move(filegroup, at(TWindowLayout::FileGroup));
    Move(groupFrame_, at({0, 0, TWindowLayout::FileGroup.Width, TWindowLayout::FileGroup.Height}));
    diredit->Place(at(TWindowLayout::Folder), scaled(TWindowLayout::FolderButtonWidth));
    for (auto [list, place] : {std::pair{file1edit, TWindowLayout::WebPages},
                               std::pair{file2edit, TWindowLayout::Programs}}) {
        RECT open = at(place);
        Move(list, open);
        // The closed field as high as the other fields: its selection line
        // that high less the border the combo box draws around it.
        const LONG height = scaled(place.Height);
        LONG selection = std::max<LONG>(height - 6, lineHeight);
        for (int attempt = 0; attempt < 2; ++attempt) {
            SendMessageW(list, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), selection);
            RECT closed{};
            GetWindowRect(list, &closed);
            selection =
                std::max<LONG>(selection + height - (closed.bottom - closed.top), lineHeight);
        }
        const LONG item = std::max<LONG>(SendMessageW(list, CB_GETITEMHEIGHT, 0, 0), lineHeight);
        SendMessageW(list, CB_SETITEMHEIGHT, 0, item);
        // Open, it shows DropDownRows entries inside its border, and its
        // scroll bar for more: a combo box's height is the closed field's
        // and the open list's together.
        RECT closed{};
        GetWindowRect(list, &closed);
        open.bottom = open.top + (closed.bottom - closed.top) + TWindowLayout::DropDownRows * item +
                      2 * GetSystemMetricsForDpi(SM_CYBORDER, dpi);
        Move(list, open);
    }
    Move(uploadbut, at(TWindowLayout::Upload));

    // The status label grows to the right with its text.
    Move(transferbar, at(TWindowLayout::TransferBar));
    Move(statuslab, at(TWindowLayout::Status));
    PlaceStatus();
    InvalidateRect(handle_, nullptr, TRUE);
}
