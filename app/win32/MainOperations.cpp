// The main window's side of the loader and the window controller: the run
// state drawn on the controls, the close question, and the window operations
// (log, status, progress, lists, folder edit, boxes, and the pumps that keep
// the window responsive while a run goes on and raise what a dispatch held).
#include "app/win32/Tftftp_main.h"

#include <algorithm>
#include <commctrl.h>

#include "app/win32/Layout.h"
#include "app/win32/OwnedBox.h"
#include "app/win32/WindowText.h"
#include "runtime/Files.h"

// --- Run state ----------------------------------------------------------------

HWND Tftftp_main::Button(TRunKind button) const {
    return button == TRunKind::rkConnect ? connectbut : uploadbut;
}

void Tftftp_main::ShowRunState() {
    for (const TRunKind kind : {TRunKind::rkConnect, TRunKind::rkUpload})
        SetControlText(Button(kind), std::string(controller_->ButtonCaption(kind)));
    for (const TWindowControl control : WindowControls)
        EnableWindow(controls_[control], controller_->ControlEnabled(control));
    InvalidateRect(statuslab, nullptr, TRUE); // its colour: WM_CTLCOLORSTATIC
}

std::optional<TWindowControl> Tftftp_main::FocusedControl() {
    return controls_.Find(GetFocus());
}

void Tftftp_main::FocusControl(TWindowControl control) {
    SetFocus(controls_[control]);
}

bool Tftftp_main::ControlShown(TWindowControl control) {
    return IsWindowVisible(controls_[control]) != FALSE;
}

bool Tftftp_main::AddressHoldsInvalidChange() {
    return ipedit->HoldsInvalidChange();
}

std::vector<TLogLine> Tftftp_main::LogLines() {
    return log_->Lines();
}

void Tftftp_main::SetClipboardText(const std::string& text) {
    ::SetClipboardText(handle_, text);
}

std::optional<std::string> Tftftp_main::AskSavePath() {
    return TLogView::AskSavePath(handle_);
}

void Tftftp_main::AskToClose(const std::string& question) {
    question_.Ask(handle_, question, WmCloseAnswered);
}

void Tftftp_main::CloseWindow() {
    // Not from inside the handler that asks: the run may still be unwinding
    // through this window.
    PostMessageW(handle_, WM_CLOSE, 0, 0);
}

// --- Window operations ------------------------------------------------------------

void Tftftp_main::LogLine(const std::string& text) {
    log_->Add(text);
}

void Tftftp_main::ClearLog() {
    log_->Clear();
}

void Tftftp_main::SetStatus(const std::string& text) {
    statusText_ = text;
    PlaceStatus();
}

void Tftftp_main::PlaceStatus() {
    SetControlText(statuslab, statusText_);
    // The label grows with its text, to the right and then to the left, as
    // wide as the text needs and the strip under the log allows.
    const auto dpi = static_cast<UINT>(dpi_);
    const SIZE extent = TextExtent(statuslab, statusText_);
    const RECT home = Scaled(TWindowLayout::Status, dpi);
    const bool bar = (GetWindowLongW(transferbar, GWL_STYLE) & WS_VISIBLE) != 0;
    const TStatusPlace place =
        StatusPlace(std::max<int>(home.right - home.left, extent.cx), home.left,
                    bar ? home.left : PlaceOf(transferbar).left, PlaceOf(ListBox1).right);
    SetWindowPos(statuslab, nullptr, place.Left, home.top, place.Width,
                 std::max<LONG>(home.bottom - home.top, extent.cy), SWP_NOZORDER | SWP_NOACTIVATE);
    tips_->SetText(statuslab, place.Elided ? statusText_ : "");
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
            controller_->QuitRequested();
            break;
        }
        controller_->RaiseHeldFailure();
    }
}

void Tftftp_main::WaitForMessages(std::chrono::milliseconds longest) {
    MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(longest.count()), QS_ALLINPUT,
                                MWMO_INPUTAVAILABLE);
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
    diredit->SetText(text); // its change event runs the scan inside this call
    controller_->RaiseHeldFailure();
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

void Tftftp_main::StartFolderPause(std::chrono::milliseconds delay) {
    SetTimer(handle_, FolderPauseTimer, static_cast<UINT>(delay.count()), nullptr);
}

void Tftftp_main::ShowErrorBox(const std::string& text) {
    OwnedBox(handle_, text, MB_OK | MB_ICONERROR);
}
