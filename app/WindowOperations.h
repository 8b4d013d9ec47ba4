// The operations of the main window that the loader's logic uses, as one
// abstract interface. Each front end (the Qt window, the Win32 window, the
// headless one on a terminal) implements it, so the logic (connect, folder
// scan, upload) runs unchanged under any of them, or under a window with no
// screen at all; it sees nothing else of a window. No toolkit type may
// appear here.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "app/RunOutcome.h"

/// The two drop-down lists of the folder group.
enum class TImageList {
    ilWebPages, // file1edit: web-page images
    ilPrograms  // file2edit: program images
};

/// The share of a transfer that done of total bytes make, in whole percent
/// from 0 to 100; 0 when total is not positive.
inline int ProgressPercent(std::int64_t done, std::int64_t total) {
    if (total <= 0 || done <= 0)
        return 0;
    return done >= total ? 100 : static_cast<int>(done * 100 / total);
}

class TWindowOperations {
public:
    using Clock = std::chrono::steady_clock;

    virtual ~TWindowOperations() = default;

    /// Appends one line at the end of the log.
    virtual void LogLine(const std::string& text) = 0;
    /// Empties the log.
    virtual void ClearLog() = 0;
    /// Replaces the status label's text.
    virtual void SetStatus(const std::string& text) = 0;
    /// Writes the text, whole, to the trace channel.
    virtual void TraceOut(const std::string& text) = 0;
    /// Handles every waiting window message and returns at once; never blocks.
    virtual void PumpMessages() = 0;
    /// Waits for window messages until deadline, handling each as it arrives;
    /// returns no earlier than deadline.
    virtual void PumpMessagesUntil(Clock::time_point deadline) = 0;
    /// The address field's text: 15 characters, unfilled digits as blanks.
    virtual std::string ReadAddress() = 0;

    /// Shows or hides the folder group.
    virtual void SetFileGroupVisible(bool visible) = 0;
    virtual std::string DirEditText() = 0;
    /// Sets the folder edit's text; a change raises its change event, which
    /// runs the folder scan.
    virtual void SetDirEditText(const std::string& text) = 0;

    /// List operations: empty (entries, shown text and selection), append at
    /// the end, count, selected index (-1 for none), entry text.
    virtual void ListClear(TImageList list) = 0;
    virtual void ListAppend(TImageList list, const std::string& text) = 0;
    virtual int ListCount(TImageList list) = 0;
    virtual int ListItemIndex(TImageList list) = 0;
    virtual void SetListItemIndex(TImageList list, int index) = 0;
    virtual std::string ListItem(TImageList list, int index) = 0;

    /// The folder of the running program, ending in "/".
    virtual std::string ProgramFolder() = 0;
    /// Shows the error box with text (the final period already applied).
    virtual void ShowError(const std::string& text) = 0;
    /// While a Connect or an Upload runs (busy true), the address field,
    /// Connect, Upload, the folder edit and both lists are disabled, so that
    /// no second run nests inside it and the run keeps one unit and one pair
    /// of images from start to end.
    virtual void SetBusy(bool busy) = 0;
    /// The transfer under way has sent done of its total bytes: (0, total)
    /// when it starts, then after each block, before the status text that
    /// carries the same count. (0, 0) when it has ended, whether it succeeded
    /// or not, and for an empty transfer, which has no share to show.
    virtual void SetProgress(std::int64_t done, std::int64_t total) = 0;
    /// A Connect or an Upload has ended, and this is how: called once at
    /// the end of every run, before SetBusy(false). A window shows it with
    /// ShowOutcomeInLog and its status label; the headless one prints it.
    virtual void RunEnded(const TRunOutcome& outcome) = 0;
    /// The run under way has reached step: told as each step starts, so
    /// that whoever watches a run from outside knows how far it got even
    /// when it never reaches RunEnded. Nothing by default.
    virtual void StepReached(TRunStep /*step*/) {}
    /// The folder scan stopped at the file name, which cannot be read, for
    /// reason; the entries before it are listed, and the error box with
    /// reason follows. Nothing by default.
    virtual void ScanStopped(const std::string& /*name*/, const std::string& /*reason*/) {}
};

/// A window's part of a run's end that every window shares: after a run that
/// did not succeed, one log line with why (OutcomeLine), so that the reason
/// is seen, copied and saved with the log.
inline void ShowOutcomeInLog(TWindowOperations& window, const TRunOutcome& outcome) {
    if (!outcome.Succeeded())
        window.LogLine(OutcomeLine(outcome));
}
