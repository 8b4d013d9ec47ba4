// The part of a loader's window that is the same in every toolkit: the run
// as the user meets it. The controller owns the loader, starts a Connect or
// an Upload from its button (not while the address field refuses to be
// left), offers Upload only for the unit connected and with an image to
// send, makes that button the run's Cancel while the run goes on and every
// control that chooses the unit or the images disabled, keeps the keyboard
// focus across a run, asks before a close ends a run and knows once the
// window is closing, scans the image folder once typing in its edit pauses
// (and names in the log the file that stopped a scan), holds a failure that
// a toolkit's dispatch cannot let through until the window raises it,
// copies and saves the log, and keeps the status label's tone (a run that
// did not succeed in the error colour until the next run; the label's own
// rules are StatusLabel.h's). Each window draws what it says and asks its
// toolkit for what differs (a question that leaves the run going, a close,
// the clipboard, a file name); no toolkit type belongs here.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <exception>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/Loader.h"
#include "app/RunOutcome.h"
#include "app/StatusLabel.h"
#include "app/WindowOperations.h"

/// What a request to close the window (its close button, Alt+F4) comes to.
enum class TCloseAction {
    caCloseNow,      // no run goes on: the window closes
    caCloseAfterRun, // the run has been told to end for good (TLoader::Cancel):
                     // the window goes, and the program ends once the run has unwound
    caKeepOpen       // a run goes on and the user is asked first: the window stays
};

/// The controls of a loader's window that a run and the keyboard focus touch.
enum class TWindowControl {
    wcLog,          // ListBox1
    wcAddress,      // ipedit
    wcConnect,      // connectbut
    wcFolder,       // diredit's edit
    wcFolderButton, // diredit's browse button
    wcWebPages,     // file1edit
    wcPrograms,     // file2edit
    wcUpload        // uploadbut
};

/// How the folder edit's text came to change.
enum class TFolderChange {
    fcEdited, // by the user in the edit: a key typed, or more at once (a paste, a drop)
    fcSet     // set whole, by the folder chooser or by the loader
};

/// Every control that TWindowControl names, in its order.
inline constexpr TWindowControl WindowControls[] = {
    TWindowControl::wcLog,      TWindowControl::wcAddress,      TWindowControl::wcConnect,
    TWindowControl::wcFolder,   TWindowControl::wcFolderButton, TWindowControl::wcWebPages,
    TWindowControl::wcPrograms, TWindowControl::wcUpload};

/// What a screen reader calls control (its accessible name): what the
/// control is ("IP address", "Image folder", "Choose the image folder",
/// "Web-page image", "Program image", "Log"); empty for Connect and Upload,
/// which their captions name.
std::string_view AccessibleName(TWindowControl control) noexcept;
/// The status label's accessible name; its text is its description.
inline constexpr const char* StatusName = "Status";
/// The tooltip of the folder edit's browse button, with the key that does
/// the same in the edit.
inline constexpr const char* FolderButtonTip = "Choose the image folder (F4)";

/// A window's own handle of each control (a widget, a window handle), in
/// the order of WindowControls.
template <class THandle> struct TControlTable {
    std::array<THandle, std::size(WindowControls)> Handles{};

    THandle operator[](TWindowControl control) const {
        return Handles[static_cast<std::size_t>(control)];
    }
    /// The control whose handle is handle; none for an empty handle or any
    /// other.
    std::optional<TWindowControl> Find(THandle handle) const {
        for (const TWindowControl control : WindowControls)
            if (handle != THandle{} && (*this)[control] == handle)
                return control;
        return std::nullopt;
    }
};

/// A line of the log and whether the user has selected it.
struct TLogLine {
    std::string Text;
    bool Selected = false;
};

/// What a window does for its controller: the drawing, the question, and
/// what only its toolkit knows.
class TRunView {
public:
    virtual ~TRunView() = default;
    /// Draws the run's state anew: each run button's ButtonCaption, whether
    /// each control is enabled (ControlEnabled), the Escape key's cancel on
    /// while a run goes on, and the status label in StatusTone's colour.
    virtual void ShowRunState() = 0;
    /// The window's control that has the keyboard focus; none when the
    /// focus is elsewhere.
    virtual std::optional<TWindowControl> FocusedControl() = 0;
    virtual void FocusControl(TWindowControl control) = 0;
    /// False for a control that the window hides (the folder group's until a
    /// Connect finds a unit).
    virtual bool ControlShown(TWindowControl control) = 0;
    /// True while the user is in the address field with a change that may
    /// not be left yet: a click elsewhere is part of that refused move.
    virtual bool AddressHoldsInvalidChange() = 0;
    /// The log's lines, in order.
    virtual std::vector<TLogLine> LogLines() = 0;
    /// How lines end in text for the clipboard and in a saved file.
    virtual std::string_view LineEnd() const = 0;
    virtual void SetClipboardText(const std::string& text) = 0;
    /// Asks the user where to save the log; none when the user cancels.
    virtual std::optional<std::string> AskSavePath() = 0;
    /// Shows the error box with text (TWindowOperations::ShowError goes
    /// through TWindowController::ShowError), returning once it is closed.
    virtual void ShowErrorBox(const std::string& text) = 0;
    /// Calls TWindowController::FolderPaused once delay has passed, unless
    /// started again before; a start replaces the one before.
    virtual void StartFolderPause(std::chrono::milliseconds delay) = 0;
    /// Opens question with Yes and No (No the default), captioned with the
    /// application title, and returns at once: the run goes on while it is
    /// open. The answer comes back through TWindowController::CloseAnswered.
    virtual void AskToClose(const std::string& question) = 0;
    /// Asks the window to close, as its close button does, once the handler
    /// under way has returned.
    virtual void CloseWindow() = 0;
};

/// True when a and b name the same folder as a folder chooser gives it back:
/// alike but for the separators at their end ("C:\\images\\", "C:\\images").
bool SameFolder(std::string_view a, std::string_view b) noexcept;

class TWindowController {
public:
    static constexpr const char* CancelCaption = "Cancel";
    static constexpr const char* CloseQuestion = "An update is running. Stop it and close?";
    /// The status label's text while the address field reads another unit
    /// than the one connected.
    static constexpr const char* ConnectHint = "Not connected to this address: press Connect";
    /// The log's and the status label's text for an Upload with no image chosen.
    static constexpr const char* NothingToUpload =
        "Nothing to upload: no web-page or program image selected";
    /// How long typing in the folder edit pauses before the folder is scanned.
    static constexpr std::chrono::milliseconds FolderPause{500};

    /// The loader on window; view draws for it.
    TWindowController(TWindowOperations& window, TRunView& view);
    TWindowController(const TWindowController&) = delete;
    TWindowController& operator=(const TWindowController&) = delete;

    TLoader& Loader() noexcept { return loader_; }

    /// A press of the button that starts a run of kind (Connect or Upload):
    /// with no run under way it runs one, returning once it has ended; during
    /// the run that this button started it cancels that run (TLoader::CancelRun);
    /// during another it does nothing. While the address field refuses to be
    /// left, the press is part of that refused move and does nothing. An
    /// Upload with neither image chosen is refused before the unit gets any
    /// command: NothingToUpload in the log and, in the error tone, in the
    /// status label.
    void Press(TRunKind button);
    /// The Escape key: cancels the run under way; false when none goes on.
    bool Escape();
    /// The window is asked to close: what that comes to. While a run goes
    /// on, the first request asks the user (AskToClose) and keeps the window
    /// open, as do those that come while the question is open.
    TCloseAction CloseRequested();
    /// The user's answer to the close question: Yes (stop) closes the window
    /// (CloseWindow), ending a run that still goes on; No leaves it running.
    void CloseAnswered(bool stop);
    /// The program is to end (its message loop was told to quit) while a run
    /// goes on: the run ends for good, as after a close.
    void QuitRequested();
    /// True once the window is closing with a run still unwinding: waits end
    /// early, and the window closes when the run has ended.
    bool Closing() const noexcept { return closing_; }
    /// The address field's text has changed: Upload is offered again once it
    /// reads the connected unit's address (UploadOffered), and while it reads
    /// another the status label says so (ConnectHint), until it reads that
    /// address again or a run starts.
    void AddressChanged();
    /// The folder edit's text has changed. A key typed into it starts the
    /// pause (TRunView::StartFolderPause): the folder is scanned once typing
    /// pauses, so that no box about a folder on the way to the one being
    /// typed takes the keys. A change that brings more than one character at
    /// once (a paste), and a text set whole, scan at once. Throws nothing: a
    /// failure that a scan lets through (one inside a run) is held for
    /// RaiseHeldFailure.
    void FolderChanged(TFolderChange how) noexcept;
    /// Enter in the folder edit: its folder is scanned now.
    void FolderConfirmed() noexcept;
    /// The pause that typing started has passed: the folder typed is scanned.
    void FolderPaused() noexcept;
    /// TWindowOperations::ShowError: the box, over the window.
    void ShowError(const std::string& text);
    /// TWindowOperations::ScanStopped: the log names the file that stopped
    /// the scan, before its box opens; every scan, Connect's own included.
    void ScanStopped(const std::string& name, const std::string& reason);

    /// Keeps a failure that a handler could not let through the toolkit's
    /// dispatch, to be raised by RaiseHeldFailure once the dispatch has
    /// returned. The first one held stays until it is raised: a later one
    /// is dropped rather than let replace it.
    void HoldFailure(std::exception_ptr failure) noexcept;
    /// Raises the failure held, if any, and holds none from then on.
    void RaiseHeldFailure();

    /// The window's TWindowOperations::SetBusy and RunEnded come here: a run
    /// starts in the normal tone with its button as Cancel, the controls
    /// that choose the unit and the images disabled, and the focus taken
    /// from such a control to the log; it ends with its outcome in the log
    /// and the status label (OutcomeStatus), in the error tone unless it
    /// succeeded, and the focus back where it was (on Connect when that
    /// control is hidden or disabled now), or with the window closed when
    /// it is closing.
    void SetBusy(bool busy);
    void RunEnded(const TRunOutcome& outcome);

    /// The log's text, each line ended by the view's LineEnd: with
    /// selectedOnly as Copy takes it (the selected lines, or every line when
    /// none is selected), else every line.
    std::string LogText(bool selectedOnly = true);
    /// Copy in the log's menu, and its key: LogText to the clipboard.
    void CopyLog();
    /// Save As in the log's menu: every line of the log to the file the
    /// user names, whole or not at all; a file that cannot be written is
    /// told in the error box.
    void SaveLogAs();

    /// True while a Connect or an Upload runs.
    bool Running() const noexcept { return loader_.Busy(); }
    /// The button of the run under way, if a button started it.
    std::optional<TRunKind> RunButton() const noexcept { return running_; }
    /// "Connect", "Upload", or "Cancel" for the button of the run under way.
    std::string_view ButtonCaption(TRunKind button) const noexcept;
    /// Without a run, every control but Upload, and Upload while it is
    /// offered; during one, the log and the run's own button only.
    bool ControlEnabled(TWindowControl control) const;
    /// Upload is for the unit the last Connect found, and only while the
    /// address field reads that unit's address: not for an address typed
    /// since, whose unit's revision nobody read and for which the images
    /// were not chosen.
    bool UploadOffered() const;
    TStatusTone StatusTone() const noexcept { return tone_; }

private:
    /// The status label shows how the last run ended, in its tone.
    void ShowOutcome(const TRunOutcome& outcome);
    /// Scans the folder in the edit now, no pause pending any more.
    void ScanFolder() noexcept;
    /// True when list has an entry chosen.
    bool Chosen(TImageList list) const;

    TWindowOperations& window_;
    TRunView& view_;
    TLoader loader_;
    /// The button pressed, while its run starts.
    std::optional<TRunKind> pressed_;
    std::optional<TRunKind> running_;
    /// The control that had the focus when the run under way began.
    std::optional<TWindowControl> focusBeforeRun_;
    std::exception_ptr heldFailure_;
    /// The folder edit's text as the last change left it.
    std::string folderText_;
    /// Typing in the folder edit waits for its pause to be scanned.
    bool folderPending_ = false;
    TStatusTone tone_ = TStatusTone::stNormal;
    bool asking_ = false;
    bool stopAndClose_ = false;
    bool closing_ = false;
    /// The status label shows ConnectHint.
    bool hinting_ = false;
};

/// A window whose runs a TWindowController governs: the window operations
/// that are the controller's to answer, answered once for both windows. A
/// window builds its controls, then starts the controller.
class TRunWindow : public TWindowOperations, protected TRunView {
public:
    /// The logic behind the buttons and the folder edit.
    TLoader& Loader() { return controller_->Loader(); }

    void ShowError(const std::string& text) override;
    /// The transfer bar is hidden as a run ends.
    void SetBusy(bool busy) override;
    void RunEnded(const TRunOutcome& outcome) override;
    void ScanStopped(const std::string& name, const std::string& reason) override;
    /// Sleeps on the window's messages rather than spinning, pumping them as
    /// they come; returns early once the window is closed during a run,
    /// since the loader then only unwinds.
    void PumpMessagesUntil(Clock::time_point deadline) override;

protected:
    /// Creates the controller on this window; once its controls exist.
    void StartController();
    /// Waits until the window has a message to handle, or longest has
    /// passed, handling what comes in the toolkit's own way.
    virtual void WaitForMessages(std::chrono::milliseconds longest) = 0;

    std::unique_ptr<TWindowController> controller_;
};
