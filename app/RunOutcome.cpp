// The names and the one-line rendering of a run's outcome.
#include "app/RunOutcome.h"

std::string_view StepName(TRunStep step) noexcept {
    switch (step) {
    case TRunStep::spConnect:
        return "connect";
    case TRunStep::spImageCheck:
        return "image check";
    case TRunStep::spCommands:
        return "commands";
    case TRunStep::spFirstWait:
        return "wait after the reboot";
    case TRunStep::spWebPages:
        return "web pages";
    case TRunStep::spSecondWait:
        return "wait after the web pages";
    case TRunStep::spProgram:
        return "program";
    case TRunStep::spVerify:
        return "verify";
    case TRunStep::spDone:
        return "done";
    }
    return "unknown";
}

std::string_view RunKindName(TRunKind kind) noexcept {
    return kind == TRunKind::rkConnect ? "connect" : "upload";
}

std::optional<TRunKind> RunKindOfName(std::string_view name) noexcept {
    for (const TRunKind kind : {TRunKind::rkConnect, TRunKind::rkUpload})
        if (RunKindName(kind) == name)
            return kind;
    return std::nullopt;
}

std::string_view ResultName(TRunResult result) noexcept {
    switch (result) {
    case TRunResult::rrSucceeded:
        return "succeeded";
    case TRunResult::rrFailed:
        return "failed";
    case TRunResult::rrCancelled:
        return "cancelled";
    case TRunResult::rrTimeLimit:
        return "time limit";
    }
    return "unknown";
}

std::optional<TRunStep> StepOfName(std::string_view name) noexcept {
    for (int i = 0; i <= static_cast<int>(TRunStep::spDone); ++i)
        if (StepName(static_cast<TRunStep>(i)) == name)
            return static_cast<TRunStep>(i);
    return std::nullopt;
}

std::optional<TRunResult> ResultOfName(std::string_view name) noexcept {
    for (int i = 0; i <= static_cast<int>(TRunResult::rrTimeLimit); ++i)
        if (ResultName(static_cast<TRunResult>(i)) == name)
            return static_cast<TRunResult>(i);
    return std::nullopt;
}

std::string OneLine(std::string_view text) {
    // A system text may end in its line break, or hold one between its
    // number and its words; either way it reads as one line with a blank.
    std::string line;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '\r' && c != '\n') {
            line += c;
            continue;
        }
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        if (!line.empty() && line.back() != ' ')
            line += ' ';
    }
    if (!line.empty() && line.back() == ' ' && (text.back() == '\n' || text.back() == '\r'))
        line.pop_back(); // the break that ended the text
    return line;
}

std::string OutcomeLine(const TRunOutcome& outcome) {
    if (outcome.Succeeded())
        return {};
    std::string line;
    switch (outcome.Result) {
    case TRunResult::rrCancelled:
        line = "Cancelled at ";
        break;
    case TRunResult::rrTimeLimit:
        line = "Stopped at ";
        break;
    default:
        line = "Failed at ";
        break;
    }
    line += StepName(outcome.Step);
    if (!outcome.Reason.empty())
        line += ": " + OneLine(outcome.Reason);
    return line;
}

std::string OutcomeStatus(const TRunOutcome& outcome) {
    if (!outcome.Succeeded())
        return OutcomeLine(outcome);
    return outcome.Kind == TRunKind::rkConnect ? "Connected" : "Update successful";
}
