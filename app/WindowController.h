// The part of a loader's window that is the same in every toolkit: the run
// as the user meets it. The controller owns the loader, starts a Connect or
// an Upload from its button, offers Upload only for the unit connected and
// with an image to send, makes that button the run's Cancel while the run
// goes on, asks before a close ends a run, and keeps the status label's tone
// (a run that did not succeed in the error colour until the next run) and
// its place in the strip under the log. Each window draws what it says and
// asks its toolkit for what differs (a question that leaves the run going, a
// close); no toolkit type belongs here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "app/Loader.h"
#include "app/RunOutcome.h"
#include "app/WindowOperations.h"

/// The status label's colour: normal, or the error colour of a run that
/// did not succeed.
enum class TStatusTone { stNormal, stError };

/// What a request to close the window (its close button, Alt+F4) comes to.
enum class TCloseAction {
    caCloseNow,      // no run goes on: the window closes
    caCloseAfterRun, // the run has been told to end for good (TLoader::Cancel):
                     // the window goes, and the program ends once the run has unwound
    caKeepOpen       // a run goes on and the user is asked first: the window stays
};

/// What a window does for its controller: the drawing and the question.
class TRunView {
public:
    virtual ~TRunView() = default;
    /// Draws the run's state anew: each run button's ButtonCaption and
    /// whether it is enabled (ButtonEnabled), the Escape key's cancel on
    /// while a run goes on, and the status label in StatusTone's colour.
    virtual void ShowRunState() = 0;
    /// Opens question with Yes and No (No the default), captioned with the
    /// application title, and returns at once: the run goes on while it is
    /// open. The answer comes back through TWindowController::CloseAnswered.
    virtual void AskToClose(const std::string& question) = 0;
    /// Asks the window to close, as its close button does.
    virtual void CloseWindow() = 0;
};

/// A colour as its red, green and blue parts.
struct TRgb {
    std::uint8_t Red = 0, Green = 0, Blue = 0;
    friend bool operator==(const TRgb&, const TRgb&) = default;
};

/// The status label's colour in tone on a window of colour background, one
/// that reads there (a WCAG 2 contrast of 4.5 at least) on a light palette
/// and on a dark one alike. The normal tone is link, the palette's own link
/// colour, where it reads, else the blue that reads best; the error tone is
/// the red that reads best.
TRgb StatusColour(TStatusTone tone, TRgb background, std::optional<TRgb> link = std::nullopt);

/// The status label's place in the strip under the log, in the window's
/// units: Left and Width, and whether its text is cut short (the window
/// elides it, the log holding every outcome whole).
struct TStatusPlace {
    int Left = 0;
    int Width = 0;
    bool Elided = false;
};

/// Where a status textWidth wide goes: at home, its place in the layout,
/// when it fits between home and right, the strip's right end; else ending
/// at right and reaching as far left as it needs, but never left of
/// farthestLeft (the strip's start, or home while the transfer bar is shown
/// to its left).
TStatusPlace StatusPlace(int textWidth, int home, int farthestLeft, int right);

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

    /// The loader on window; view draws for it.
    TWindowController(TWindowOperations& window, TRunView& view);
    TWindowController(const TWindowController&) = delete;
    TWindowController& operator=(const TWindowController&) = delete;

    TLoader& Loader() noexcept { return loader_; }

    /// A press of the button that starts a run of kind (Connect or Upload):
    /// with no run under way it runs one, returning once it has ended; during
    /// the run that this button started it cancels that run (TLoader::CancelRun);
    /// during another it does nothing. An Upload with neither image chosen
    /// is refused before the unit gets any command: NothingToUpload in the
    /// log and, in the error tone, in the status label.
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
    /// The address field's text has changed: Upload is offered again once it
    /// reads the connected unit's address (UploadOffered), and while it reads
    /// another the status label says so (ConnectHint), until it reads that
    /// address again or a run starts.
    void AddressChanged();

    /// The window's TWindowOperations::SetBusy and RunEnded come here: a run
    /// starts in the normal tone with its button as Cancel; it ends with its
    /// outcome in the log and the status label (OutcomeStatus), in the error
    /// tone unless it succeeded.
    void SetBusy(bool busy);
    void RunEnded(const TRunOutcome& outcome);

    /// True while a Connect or an Upload runs.
    bool Running() const noexcept { return loader_.Busy(); }
    /// The button of the run under way, if a button started it.
    std::optional<TRunKind> RunButton() const noexcept { return running_; }
    /// "Connect", "Upload", or "Cancel" for the button of the run under way.
    std::string_view ButtonCaption(TRunKind button) const noexcept;
    /// Without a run, Connect, and Upload while it is offered; during one,
    /// only the run's own.
    bool ButtonEnabled(TRunKind button) const;
    /// Upload is for the unit the last Connect found, and only while the
    /// address field reads that unit's address: not for an address typed
    /// since, whose unit's revision nobody read and for which the images
    /// were not chosen.
    bool UploadOffered() const;
    TStatusTone StatusTone() const noexcept { return tone_; }

private:
    /// The status label shows how the last run ended, in its tone.
    void ShowOutcome(const TRunOutcome& outcome);
    /// True when list has an entry chosen.
    bool Chosen(TImageList list) const;

    TWindowOperations& window_;
    TRunView& view_;
    TLoader loader_;
    /// The button pressed, while its run starts.
    std::optional<TRunKind> pressed_;
    std::optional<TRunKind> running_;
    TStatusTone tone_ = TStatusTone::stNormal;
    bool asking_ = false;
    bool stopAndClose_ = false;
    /// The status label shows ConnectHint.
    bool hinting_ = false;
};
