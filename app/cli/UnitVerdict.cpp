// A unit's report read record by record, and the verdict made from it.
#include "app/cli/UnitVerdict.h"

#include <charconv>
#include <fmt/format.h>

namespace {

/// The line that says why a run did not succeed. A run that reported no
/// step can only have failed or been cancelled, before its first step.
std::string VerdictLine(TRunResult result, std::optional<TRunStep> step,
                        const std::string& reason) {
    if (!step)
        return fmt::format("{}: {}", result == TRunResult::rrCancelled ? "Cancelled" : "Failed",
                           reason);
    TRunOutcome outcome;
    outcome.Result = result;
    outcome.Step = *step;
    outcome.Reason = reason;
    return OutcomeLine(outcome);
}

} // namespace

void ReadRecord(TUnitReport& report, const TReportRecord& record) {
    const std::string& text = record.Text;
    switch (record.Kind) {
    case TReportKind::rcLog:
    case TReportKind::rcStatus:
    case TReportKind::rcProgress:
        break;
    case TReportKind::rcError:
        report.Error = text;
        break;
    case TReportKind::rcRevision: {
        int revision = 0;
        std::from_chars(text.data(), text.data() + text.size(), revision);
        report.Revision = revision;
        break;
    }
    case TReportKind::rcPages:
        report.Pages = text;
        break;
    case TReportKind::rcProgram:
        report.Program = text;
        break;
    case TReportKind::rcReached:
        if (const auto step = StepOfName(text))
            report.Reached = step;
        break;
    case TReportKind::rcRun:
        report.Pending = TRunOutcome{};
        report.Pending.Kind = RunKindOfName(text).value_or(TRunKind::rkConnect);
        break;
    case TReportKind::rcStep:
        report.Pending.Step = StepOfName(text).value_or(report.Pending.Step);
        break;
    case TReportKind::rcReason:
        report.Pending.Reason = text;
        break;
    case TReportKind::rcVerified:
        report.Pending.Verified = text.empty() ? std::nullopt : std::optional<bool>(text == "true");
        break;
    case TReportKind::rcPagesSha256:
        report.Pending.PagesSha256 = text;
        break;
    case TReportKind::rcProgramSha256:
        report.Pending.ProgramSha256 = text;
        break;
    case TReportKind::rcResult:
        // The last record of an outcome: only now is the outcome the run's.
        if (const auto result = ResultOfName(text)) {
            report.Pending.Result = *result;
            (report.Pending.Kind == TRunKind::rkUpload ? report.Upload : report.Connect) =
                report.Pending;
        }
        break;
    }
}

TUnitVerdict UnitVerdict(int status, const TUnitReport& report, bool interrupted, bool verify) {
    TUnitVerdict verdict;
    verdict.Verified = verify ? std::optional<bool>(false) : std::nullopt;
    // A status past 128 is the signal that ended the run; a run that held
    // its signal and ended itself has reported its outcome besides.
    const std::string ended = status > 128 ? fmt::format("ended by signal {}", status - 128)
                                           : fmt::format("ended with status {}", status);
    // A Connect that succeeded is followed by the Upload, whose outcome is
    // the unit's; one that did not is the last run, and its outcome is.
    const TRunOutcome* outcome = nullptr;
    if (report.Upload)
        outcome = &*report.Upload;
    else if (report.Connect && !report.Connect->Succeeded())
        outcome = &*report.Connect;
    if (!outcome) {
        // Nothing of the run's own tells how it ended: it was ended from
        // outside, or ended without an Upload (an error box).
        verdict.Step = report.Reached;
        verdict.Result = interrupted ? TRunResult::rrCancelled : TRunResult::rrFailed;
        verdict.Text = !report.Error.empty() ? report.Error
                                             : VerdictLine(*verdict.Result, verdict.Step,
                                                           ended + " before it reported");
        return verdict;
    }
    if (outcome->Kind == TRunKind::rkUpload) {
        verdict.Verified = outcome->Verified;
        verdict.PagesSha256 = outcome->PagesSha256;
        verdict.ProgramSha256 = outcome->ProgramSha256;
    }
    verdict.Step = outcome->Step;
    verdict.Result = outcome->Result;
    if (outcome->Succeeded() && status == 0) {
        verdict.Text = "Update successful";
    } else if (outcome->Succeeded()) {
        // Its report and its exit disagree: it is not taken for updated.
        verdict.Result = TRunResult::rrFailed;
        verdict.Text =
            VerdictLine(*verdict.Result, verdict.Step, ended + " after it reported success");
    } else {
        verdict.Text = !report.Error.empty() ? report.Error : OutcomeLine(*outcome);
    }
    return verdict;
}
