// The headless front end's window: the window operations of the loader on a
// terminal. The log goes to stdout, the trace and the error box to stderr,
// the status label is one line redrawn in place on a terminal, and Ctrl-C is
// the window's close. Every line it prints has its control characters
// escaped: log lines, traces and errors carry the unit's texts and file
// names. Holds no protocol logic; that is TLoader's.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/MaskRules.h"
#include "app/WindowOperations.h"
#include "app/cli/Report.h"
#include "runtime/Console.h"

class TCliWindow : public TWindowOperations {
public:
    /// trace: show the trace lines on stderr. report: write everything as
    /// the records of a unit's report on stdout, for the fleet run that
    /// started this one. Holds Ctrl-C, so that the pumps take it instead of
    /// the program ending.
    explicit TCliWindow(bool trace, bool report = false);
    ~TCliWindow() override;

    /// The address field's text, 15 characters.
    std::string Address;
    /// The folder edit's change event.
    std::function<void()> OnDirEditChange;
    /// Called from a pump when Ctrl-C was pressed.
    std::function<void()> OnInterrupt;

    /// The number of the signal (SIGINT for Ctrl-C) that asked the run to
    /// end; 0 while none has.
    int InterruptSignal();
    bool ErrorShown() const { return errorShown_; }
    const std::vector<std::string>& Lines() const { return lines_; }
    const std::vector<std::string>& Entries(TImageList list) const { return Of(list).Entries; }
    /// Ends the status line so that nothing else is drawn over it.
    void EndStatus();
    /// Prints text as one line on stream, its control characters escaped,
    /// clear of the status line.
    void WriteLine(TConsoleStream stream, const std::string& text);
    /// Prints "warning: " and text on stderr.
    void Warn(const std::string& text);
    /// Writes a record of the report; nothing unless reporting.
    void Report(TReportKind kind, const std::string& text);

    void LogLine(const std::string& text) override;
    void ClearLog() override;
    void SetStatus(const std::string& text) override;
    void TraceOut(const std::string& text) override;
    void PumpMessages() override;
    void PumpMessagesUntil(Clock::time_point deadline) override;
    std::string ReadAddress() override { return Address; }
    void SetFileGroupVisible(bool visible) override { groupVisible_ = visible; }
    std::string DirEditText() override { return dirEdit_; }
    void SetDirEditText(const std::string& text) override;
    void ListClear(TImageList list) override;
    void ListAppend(TImageList list, const std::string& text) override;
    int ListCount(TImageList list) override;
    int ListItemIndex(TImageList list) override { return Of(list).Index; }
    void SetListItemIndex(TImageList list, int index) override;
    std::string ListItem(TImageList list, int index) override;
    std::string ProgramFolder() override;
    void ShowError(const std::string& text) override;
    void SetBusy(bool) override {}
    void SetProgress(std::int64_t done, std::int64_t total) override;
    /// Shows why a run did not succeed on stderr (the status line shows it
    /// on a terminal already and stays; elsewhere it becomes a line); for
    /// the fleet, reports the outcome.
    void RunEnded(const TRunOutcome& outcome) override;
    /// For the fleet: reports the step, so that a run ended from outside
    /// still tells how far it got.
    void StepReached(TRunStep step) override;

private:
    struct TList {
        std::vector<std::string> Entries;
        int Index = -1;
    };
    TList& Of(TImageList list) { return list == TImageList::ilWebPages ? webPages_ : programs_; }
    const TList& Of(TImageList list) const {
        return list == TImageList::ilWebPages ? webPages_ : programs_;
    }
    /// Takes a pending Ctrl-C, waiting for one up to timeout (none: no wait).
    void PollInterrupt(std::chrono::nanoseconds timeout);
    /// Removes the status line before other output on stderr or stdout.
    void HideStatus();
    void DrawStatus();

    bool trace_;
    bool report_;
    bool statusOnTerminal_;
    bool statusDrawn_ = false;
    int interruptSignal_ = 0;
    bool errorShown_ = false;
    bool groupVisible_ = false;
    std::string status_;
    /// The transfer under way, shown as a share after the status; none
    /// while transferSize_ is 0.
    std::int64_t transferDone_ = 0;
    std::int64_t transferSize_ = 0;
    std::string dirEdit_;
    std::vector<std::string> lines_;
    TList webPages_;
    TList programs_;
};
