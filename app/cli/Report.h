// The report of one unit's run to the fleet run that started it: what the
// run's window is told (log lines, status, transfer progress, the error box)
// and what the end table needs (revision, chosen images, the failure's
// reason), one record a line on the run's output; the run's error stream
// (its trace, its warnings) stays plain text. Both ends use these two
// functions and nothing else, so the record format lives here only.
#pragma once

#include <optional>
#include <string>
#include <string_view>

enum class TReportKind {
    rcLog,      // a line of the log
    rcStatus,   // the status label's text
    rcProgress, // "done total" of the transfer under way
    rcError,    // the error box's text
    rcRevision, // the revision the unit reported, 0 for none
    rcPages,    // the web-page image chosen for upload
    rcProgram,  // the program image chosen for upload
    rcReached,  // the step (StepName) that the run under way has reached
    // A run's outcome, at its end: which run it ends (RunKindName), the
    // step it reached (StepName), why it did not succeed, whether the unit
    // came back at the end ("true", "false", "" when not asked), the
    // SHA-256 of each image sent ("" for none), and last how it ended
    // (ResultName).
    rcRun,
    rcStep,
    rcReason,
    rcVerified,
    rcPagesSha256,
    rcProgramSha256,
    rcResult
};

struct TReportRecord {
    TReportKind Kind;
    std::string Text;
};

/// One record as a line, newline included. The text may hold any byte: a
/// line break, a NUL or a backslash in it is written as an escape, so a
/// record is one line whatever its text, and no text makes another record.
std::string ReportLine(TReportKind kind, std::string_view text);

/// The record of one line (its newline removed); none for a line that is no
/// record.
std::optional<TReportRecord> ParseReportLine(std::string_view line);
