// The window's run state shared by every toolkit.
#include "app/WindowController.h"

#include <algorithm>

#include "app/ImageScan.h"
#include "runtime/Convert.h"
#include "runtime/Exception.h"
#include "runtime/Files.h"

namespace {

/// How many characters the change from before to after brings in: those
/// between what the two texts share at their start and at their end,
/// counted in UTF-8 (a continuation byte is no character of its own).
std::size_t CharactersBrought(std::string_view before, std::string_view after) {
    std::size_t start = 0;
    while (start < before.size() && start < after.size() && before[start] == after[start])
        ++start;
    std::size_t end = 0;
    while (end < before.size() - start && end < after.size() - start &&
           before[before.size() - 1 - end] == after[after.size() - 1 - end])
        ++end;
    const std::string_view brought = after.substr(start, after.size() - start - end);
    return static_cast<std::size_t>(std::count_if(brought.begin(), brought.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

} // namespace

std::string_view AccessibleName(TWindowControl control) noexcept {
    switch (control) {
    case TWindowControl::wcLog:
        return "Log";
    case TWindowControl::wcAddress:
        return "IP address";
    case TWindowControl::wcFolder:
        return "Image folder";
    case TWindowControl::wcFolderButton:
        return "Choose the image folder";
    case TWindowControl::wcWebPages:
        return "Web-page image";
    case TWindowControl::wcPrograms:
        return "Program image";
    case TWindowControl::wcConnect:
    case TWindowControl::wcUpload:
        break;
    }
    return {};
}

bool SameFolder(std::string_view a, std::string_view b) noexcept {
    const auto trimmed = [](std::string_view path) {
        while (path.size() > 1 && (path.back() == '/' || path.back() == '\\'))
            path.remove_suffix(1);
        return path;
    };
    return trimmed(a) == trimmed(b);
}

TWindowController::TWindowController(TWindowOperations& window, TRunView& view)
    : window_(window), view_(view), loader_(window) {
    // A window's user picks a folder, not a list of digests: the folder's
    // own SHA256SUMS, when it holds one, vouches for its images.
    loader_.FolderManifest = true;
}

void TWindowController::Press(TRunKind button) {
    if (view_.AddressHoldsInvalidChange())
        return;
    if (loader_.Busy()) {
        // The run's own button reads Cancel; the other one is disabled, but
        // a click on it may have been on its way.
        if (running_ == button)
            loader_.CancelRun();
        return;
    }
    // An Upload goes with the folder that the edit shows, not the one the
    // lists were filled from before typing paused; a Connect scans it itself.
    if (std::exchange(folderPending_, false) && button == TRunKind::rkUpload)
        ScanFolder();
    // Rebooting the unit twice to send it nothing would end as a success.
    if (button == TRunKind::rkUpload && !Chosen(TImageList::ilWebPages) &&
        !Chosen(TImageList::ilPrograms)) {
        window_.LogLine(NothingToUpload);
        window_.SetStatus(NothingToUpload);
        tone_ = TStatusTone::stError;
        view_.ShowRunState();
        return;
    }
    pressed_ = button;
    try {
        if (button == TRunKind::rkConnect)
            loader_.connectbutClick();
        else
            loader_.uploadbutClick();
    } catch (...) {
        pressed_.reset();
        throw;
    }
    pressed_.reset();
}

bool TWindowController::Escape() {
    if (!loader_.Busy())
        return false;
    loader_.CancelRun();
    return true;
}

TCloseAction TWindowController::CloseRequested() {
    if (!loader_.Busy())
        return TCloseAction::caCloseNow;
    if (stopAndClose_) {
        loader_.Cancel();
        closing_ = true;
        return TCloseAction::caCloseAfterRun;
    }
    // An update cut short leaves the unit without its images: the user says
    // so first. The run goes on while the question is open.
    if (!asking_) {
        asking_ = true;
        view_.AskToClose(CloseQuestion);
    }
    return TCloseAction::caKeepOpen;
}

void TWindowController::CloseAnswered(bool stop) {
    asking_ = false;
    if (!stop)
        return;
    stopAndClose_ = true;
    view_.CloseWindow();
}

void TWindowController::QuitRequested() {
    if (!loader_.Busy())
        return;
    loader_.Cancel();
    closing_ = true;
}

void TWindowController::AddressChanged() {
    // During a run the field is disabled: it reads the run's own unit.
    if (loader_.Busy())
        return;
    const bool other = !loader_.ConnectedAddress().empty() && !UploadOffered();
    if (other != hinting_) {
        hinting_ = other;
        if (other) {
            window_.SetStatus(ConnectHint);
            tone_ = TStatusTone::stNormal;
        } else {
            ShowOutcome(loader_.Outcome());
        }
    }
    view_.ShowRunState();
}

void TWindowController::FolderChanged(TFolderChange how) noexcept {
    std::string text = window_.DirEditText();
    const bool typed = how == TFolderChange::fcEdited && CharactersBrought(folderText_, text) <= 1;
    folderText_ = std::move(text);
    if (!typed) {
        ScanFolder();
        return;
    }
    folderPending_ = true;
    view_.StartFolderPause(FolderPause);
}

void TWindowController::FolderConfirmed() noexcept {
    ScanFolder();
}

void TWindowController::FolderPaused() noexcept {
    if (folderPending_)
        ScanFolder();
}

void TWindowController::ScanFolder() noexcept {
    folderPending_ = false;
    // A scan inside a run (Connect setting the folder) fails into that run,
    // but not through the toolkit's dispatch of the edit's change: the
    // window raises it once the edit has finished its change.
    try {
        loader_.direditChange();
    } catch (...) {
        HoldFailure(std::current_exception());
    }
}

void TWindowController::ShowError(const std::string& text) {
    view_.ShowErrorBox(text);
}

void TWindowController::ScanStopped(const std::string& name, const std::string& reason) {
    // The box tells what stopped the scan ("Read beyond end of file"), not
    // which of the folder's files did: the log does, before the box opens.
    window_.LogLine("Scan stopped at " + EscapeControls(name) + ": " + reason);
}

void TWindowController::HoldFailure(std::exception_ptr failure) noexcept {
    // The first failure is the one the user's action met; one that follows
    // it (a handler unwinding from it, say) must not hide it.
    if (!heldFailure_)
        heldFailure_ = std::move(failure);
}

void TWindowController::RaiseHeldFailure() {
    if (heldFailure_)
        std::rethrow_exception(std::exchange(heldFailure_, nullptr));
}

void TWindowController::SetBusy(bool busy) {
    running_ = busy ? pressed_ : std::nullopt;
    if (busy) {
        // A new run's statuses are its own, not the last run's outcome.
        tone_ = TStatusTone::stNormal;
        hinting_ = false;
        // A control about to be disabled leaves the focus to the log, where
        // Escape cancels: a toolkit would pass it on along the tab order (to
        // the run's Cancel, which a held Enter would press), or leave it on
        // the disabled control, which would take the keys with it.
        focusBeforeRun_ = view_.FocusedControl();
        if (focusBeforeRun_ && !ControlEnabled(*focusBeforeRun_))
            view_.FocusControl(TWindowControl::wcLog);
        view_.ShowRunState();
        return;
    }
    view_.ShowRunState();
    if (closing_) {
        view_.CloseWindow();
        return;
    }
    // The control the run started from takes the keyboard back; one that is
    // gone meanwhile (the group hidden by a Connect that found no unit)
    // leaves it to Connect. A focus outside the window stays there.
    if (const auto focus = std::exchange(focusBeforeRun_, std::nullopt)) {
        const bool usable = view_.ControlShown(*focus) && ControlEnabled(*focus);
        view_.FocusControl(usable ? *focus : TWindowControl::wcConnect);
    }
}

void TWindowController::RunEnded(const TRunOutcome& outcome) {
    ShowOutcomeInLog(window_, outcome);
    ShowOutcome(outcome);
    view_.ShowRunState();
}

void TWindowController::ShowOutcome(const TRunOutcome& outcome) {
    // The label ends on the outcome, never on a step's status ("Wait",
    // "Done", "Connecting to ...") that the run left there.
    window_.SetStatus(StatusOfOutcome(outcome));
    tone_ = outcome.Succeeded() ? TStatusTone::stNormal : TStatusTone::stError;
}

std::string_view TWindowController::ButtonCaption(TRunKind button) const noexcept {
    if (loader_.Busy() && running_ == button)
        return CancelCaption;
    return button == TRunKind::rkConnect ? "Connect" : "Upload";
}

bool TWindowController::ControlEnabled(TWindowControl control) const {
    switch (control) {
    case TWindowControl::wcLog:
        return true;
    case TWindowControl::wcConnect:
        return !loader_.Busy() || running_ == TRunKind::rkConnect;
    case TWindowControl::wcUpload:
        return loader_.Busy() ? running_ == TRunKind::rkUpload : UploadOffered();
    case TWindowControl::wcAddress:
    case TWindowControl::wcFolder:
    case TWindowControl::wcFolderButton:
    case TWindowControl::wcWebPages:
    case TWindowControl::wcPrograms:
        // One unit and one pair of images from the start of a run to its end.
        return !loader_.Busy();
    }
    return false;
}

bool TWindowController::UploadOffered() const {
    const std::string& connected = loader_.ConnectedAddress();
    return !connected.empty() && window_.ReadAddress() == connected;
}

bool TWindowController::Chosen(TImageList list) const {
    const int index = window_.ListItemIndex(list);
    return index >= 0 && index < window_.ListCount(list);
}

std::string TWindowController::LogText(bool selectedOnly) {
    const std::vector<TLogLine> lines = view_.LogLines();
    const bool selection =
        selectedOnly &&
        std::any_of(lines.begin(), lines.end(), [](const TLogLine& line) { return line.Selected; });
    std::string text;
    for (const TLogLine& line : lines)
        if (line.Selected || !selection)
            text.append(line.Text).append(view_.LineEnd());
    return text;
}

void TWindowController::CopyLog() {
    view_.SetClipboardText(LogText());
}

void TWindowController::SaveLogAs() {
    const std::optional<std::string> path = view_.AskSavePath();
    if (!path)
        return;
    try {
        // A log saved over an older one must not leave half of each.
        WriteFileWhole(*path, LogText(false), TSpecialTarget::tgRefuse);
    } catch (const Exception& e) {
        window_.ShowError(ErrorBoxText(e.Message()));
    }
}

void TRunWindow::ShowError(const std::string& text) {
    controller_->ShowError(text);
}

void TRunWindow::SetBusy(bool busy) {
    if (!busy)
        SetProgress(0, 0);
    controller_->SetBusy(busy);
}

void TRunWindow::RunEnded(const TRunOutcome& outcome) {
    controller_->RunEnded(outcome);
}

void TRunWindow::ScanStopped(const std::string& name, const std::string& reason) {
    controller_->ScanStopped(name, reason);
}

void TRunWindow::PumpMessagesUntil(Clock::time_point deadline) {
    while (!controller_->Closing()) {
        const auto left = deadline - Clock::now();
        if (left <= Clock::duration::zero())
            break;
        WaitForMessages(std::chrono::ceil<std::chrono::milliseconds>(left));
        PumpMessages();
    }
    PumpMessages();
}

void TRunWindow::StartController() {
    TRunView& view = *this;
    controller_ = std::make_unique<TWindowController>(*this, view);
}
