// How a run of the loader (a Connect or an Upload) ended, as one value: the
// step it reached, whether it succeeded, and why not. The loader makes it in
// one place; every front end reads it (the windows' status label and log, the
// headless loader's exit status, the fleet's table and results file). A text
// shown to the user is a rendering of it, never something compared to decide
// success. No window, toolkit or platform type belongs here.
#pragma once

#include <optional>
#include <string>
#include <string_view>

/// The runs that a front end starts.
enum class TRunKind { rkConnect, rkUpload };

/// The run's name in a unit's report: "connect", "upload".
std::string_view RunKindName(TRunKind kind) noexcept;
std::optional<TRunKind> RunKindOfName(std::string_view name) noexcept;

/// The steps of a run, in the order in which an Upload passes them; a
/// Connect has only the first.
enum class TRunStep {
    spConnect,    // asking the unit for its hardware revision
    spImageCheck, // the chosen images checked against their manifest
    spCommands,   // the TFTP command and the reboot command
    spFirstWait,  // waiting for the unit after the reboot command
    spWebPages,   // the web-page image's transfer
    spSecondWait, // waiting for the unit after the web pages
    spProgram,    // the program image's transfer
    spVerify,     // waiting for the unit after the program image (when asked)
    spDone        // the run has done all it had to
};

/// How a run ended.
enum class TRunResult {
    rrSucceeded,
    rrFailed,
    rrCancelled, // the user (or a signal) ended it
    rrTimeLimit  // the run's time limit passed
};

struct TRunOutcome {
    TRunKind Kind = TRunKind::rkConnect;
    TRunStep Step = TRunStep::spConnect;
    TRunResult Result = TRunResult::rrFailed;
    /// Why the run did not succeed, in the words of whatever failed (the
    /// unit's ERROR text, the system's text, the loader's own); empty after
    /// a success.
    std::string Reason;
    /// Whether the unit answered with its revision after the last image it
    /// was sent: none when the run was not asked to check (or never got
    /// that far), false when it did not come back.
    std::optional<bool> Verified;
    /// The SHA-256 of each image over the bytes that its transfer sent, in
    /// lower-case hex; empty when that image was not sent whole.
    std::string PagesSha256, ProgramSha256;

    bool Succeeded() const noexcept { return Result == TRunResult::rrSucceeded; }
};

/// The step's name as the user reads it: "connect", "image check",
/// "commands", "wait after
/// the reboot", "web pages", "wait after the web pages", "program",
/// "verify", "done".
std::string_view StepName(TRunStep step) noexcept;
/// The result's name in the results file: "succeeded", "failed", "cancelled",
/// "time limit".
std::string_view ResultName(TRunResult result) noexcept;
/// The step or result of a name that StepName or ResultName gave; none for
/// any other text.
std::optional<TRunStep> StepOfName(std::string_view name) noexcept;
std::optional<TRunResult> ResultOfName(std::string_view name) noexcept;
/// The one line that tells a user why a run did not succeed, for the log
/// after its failure line and for stderr: the reason with the step, e.g.
/// "Failed at web pages: Cannot open file ...". Empty after a success.
std::string OutcomeLine(const TRunOutcome& outcome);
/// The status label's text at a run's end: "Connected" or "Update
/// successful" after a success, else OutcomeLine; a window shows the latter
/// in its error colour.
std::string OutcomeStatus(const TRunOutcome& outcome);
/// The reason as a line: a system text broken over lines ("Socket Error #
/// 10061\r\nConnection refused.") with its breaks as blanks.
std::string OneLine(std::string_view text);
