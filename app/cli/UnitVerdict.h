// What the fleet makes of one unit's run: the records of its report read
// into what it said (TUnitReport), and the verdict on the unit, one pure
// function of that, the run's exit status and whether the fleet was
// interrupted. A unit's run is a Connect and then an Upload, each ending in
// an outcome of its own; only the Upload's (or a Connect that did not
// succeed) is the unit's. No process, console or file belongs here.
#pragma once

#include <optional>
#include <string>

#include "app/RunOutcome.h"
#include "app/cli/Report.h"

/// What a unit's run has reported so far.
struct TUnitReport {
    /// The revision the unit reported, 0 for none.
    int Revision = 0;
    /// The images chosen for the unit; empty for none.
    std::string Pages, Program;
    /// The last step the run reported reaching; none before the first.
    std::optional<TRunStep> Reached;
    /// The error box's text, once one was shown.
    std::string Error;
    /// The outcome of each run whose last record (the result) came.
    std::optional<TRunOutcome> Connect, Upload;
    /// The outcome whose records are being read, from its "run" record on.
    TRunOutcome Pending;
};

/// Takes a record of the report into report. Log, status and progress
/// records are the console's and change nothing here; a step or result name
/// that is none leaves what it names as it was.
void ReadRecord(TUnitReport& report, const TReportRecord& record);

/// How a unit's update ended, as the table and the results file give it.
struct TUnitVerdict {
    /// The step the run reached; none for a run that reported none (or
    /// was not started).
    std::optional<TRunStep> Step;
    /// How it ended; none for a unit whose run was not started.
    std::optional<TRunResult> Result;
    /// "Update successful", "Not started", or the line that says why not.
    std::string Text = "Not started";
    /// Whether the unit came back after its program image: none when not
    /// asked, false when asked and not seen.
    std::optional<bool> Verified;
    /// The SHA-256 of each image sent; empty when it was not (or the run
    /// ended before it said).
    std::string PagesSha256, ProgramSha256;

    bool Succeeded() const noexcept { return Result == TRunResult::rrSucceeded; }
};

/// The verdict on a unit whose run ended with status (its exit status, or
/// 128 plus the signal that ended it) after reporting report. Updated only
/// when the Upload reported success and the run exited with 0. A run that
/// reported no outcome of its own ended from outside (a kill, a crash, the
/// fleet's second signal): it failed, or was cancelled when the fleet was
/// interrupted, at the step it had reached, and the reason says how it ended
/// ("ended by signal 9 before it reported"). verify: the fleet asked each
/// unit's run to verify.
TUnitVerdict UnitVerdict(int status, const TUnitReport& report, bool interrupted, bool verify);
