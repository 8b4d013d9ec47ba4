// The headless window: the loader's window operations on stdout, stderr and
// the console's Ctrl-C. Ctrl-C is held and taken by the pumps, so it reaches
// the loader as a close of the window at its next pump, never in the middle
// of a library call.
#include "app/cli/CliWindow.h"

#include <algorithm>
#include <cstdio>

#include "runtime/Console.h"
#include "runtime/Convert.h"
#include "runtime/Files.h"

TCliWindow::TCliWindow(bool trace, bool report)
    : trace_(trace), report_(report),
      statusOnTerminal_(!report && IsTerminal(TConsoleStream::csError)) {
    HoldInterrupts();
}

TCliWindow::~TCliWindow() {
    EndStatus();
}

int TCliWindow::InterruptSignal() {
    PollInterrupt(std::chrono::nanoseconds::zero());
    return interruptSignal_;
}

void TCliWindow::PollInterrupt(std::chrono::nanoseconds timeout) {
    const int signal = ::TakeInterrupt(timeout);
    if (signal != 0 && interruptSignal_ == 0) {
        interruptSignal_ = signal;
        if (OnInterrupt)
            OnInterrupt();
    }
}

void TCliWindow::HideStatus() {
    if (statusDrawn_) {
        std::fputs("\r\x1b[K", stderr);
        std::fflush(stderr);
        statusDrawn_ = false;
    }
}

void TCliWindow::DrawStatus() {
    if (!statusOnTerminal_ || status_.empty())
        return;
    std::string line = EscapeControls(status_);
    if (transferSize_ > 0)
        line += " (" + std::to_string(ProgressPercent(transferDone_, transferSize_)) + "%)";
    std::fputs(("\r" + line + "\x1b[K").c_str(), stderr);
    std::fflush(stderr);
    statusDrawn_ = true;
}

void TCliWindow::EndStatus() {
    if (statusDrawn_) {
        std::fputs("\n", stderr);
        std::fflush(stderr);
        statusDrawn_ = false;
    }
}

void TCliWindow::WriteLine(TConsoleStream stream, const std::string& text) {
    HideStatus();
    std::FILE* file = stream == TConsoleStream::csOutput ? stdout : stderr;
    std::fputs((EscapeControls(text) + "\n").c_str(), file);
    std::fflush(file);
    DrawStatus();
}

void TCliWindow::Warn(const std::string& text) {
    WriteLine(TConsoleStream::csError, "warning: " + text);
}

void TCliWindow::RunEnded(const TRunOutcome& outcome) {
    if (report_) {
        Report(TReportKind::rcRun, std::string(RunKindName(outcome.Kind)));
        Report(TReportKind::rcStep, std::string(StepName(outcome.Step)));
        Report(TReportKind::rcReason, outcome.Reason);
        Report(TReportKind::rcVerified,
               outcome.Verified ? (*outcome.Verified ? "true" : "false") : "");
        Report(TReportKind::rcPagesSha256, outcome.PagesSha256);
        Report(TReportKind::rcProgramSha256, outcome.ProgramSha256);
        // Last: the fleet takes a run for updated only with this record.
        Report(TReportKind::rcResult, std::string(ResultName(outcome.Result)));
        return;
    }
    // A run that an error box ended has said so already; one that a signal
    // ended says so here, as every other outcome does.
    if (outcome.Succeeded() || errorShown_)
        return;
    const std::string line = OutcomeLine(outcome);
    if (statusOnTerminal_) {
        // The reason stays on the terminal as the last status.
        SetStatus(line);
        EndStatus();
    } else {
        WriteLine(TConsoleStream::csError, line);
    }
}

void TCliWindow::StepReached(TRunStep step) {
    Report(TReportKind::rcReached, std::string(StepName(step)));
}

void TCliWindow::Report(TReportKind kind, const std::string& text) {
    if (!report_)
        return;
    std::fputs(ReportLine(kind, text).c_str(), stdout);
    std::fflush(stdout);
}

void TCliWindow::LogLine(const std::string& text) {
    lines_.push_back(text);
    if (report_)
        return Report(TReportKind::rcLog, text);
    WriteLine(TConsoleStream::csOutput, text);
}

void TCliWindow::ClearLog() {
    // Lines already printed stay on the terminal; the run's own log starts anew.
    lines_.clear();
}

void TCliWindow::SetStatus(const std::string& text) {
    Report(TReportKind::rcStatus, text);
    status_ = text;
    DrawStatus();
}

void TCliWindow::SetProgress(std::int64_t done, std::int64_t total) {
    // Drawn with the status text that follows, so the line never pairs a
    // count with the share of another.
    transferDone_ = done;
    transferSize_ = total;
    Report(TReportKind::rcProgress, std::to_string(done) + " " + std::to_string(total));
}

void TCliWindow::TraceOut(const std::string& text) {
    if (trace_)
        WriteLine(TConsoleStream::csError, text);
}

void TCliWindow::PumpMessages() {
    PollInterrupt(std::chrono::nanoseconds::zero());
}

void TCliWindow::PumpMessagesUntil(Clock::time_point deadline) {
    // Sleeps in the signal wait itself: a Ctrl-C is taken the moment it comes.
    for (auto now = Clock::now(); now < deadline; now = Clock::now())
        PollInterrupt(deadline - now);
}

void TCliWindow::SetDirEditText(const std::string& text) {
    if (text == dirEdit_)
        return;
    dirEdit_ = text;
    if (OnDirEditChange)
        OnDirEditChange();
}

void TCliWindow::ListClear(TImageList list) {
    Of(list) = TList{};
}

void TCliWindow::ListAppend(TImageList list, const std::string& text) {
    Of(list).Entries.push_back(text);
}

int TCliWindow::ListCount(TImageList list) {
    return static_cast<int>(Of(list).Entries.size());
}

void TCliWindow::SetListItemIndex(TImageList list, int index) {
    Of(list).Index = index >= 0 && index < ListCount(list) ? index : -1;
}

std::string TCliWindow::ListItem(TImageList list, int index) {
    return Of(list).Entries.at(static_cast<std::size_t>(index));
}

std::string TCliWindow::ProgramFolder() {
    return ::ProgramFolder();
}

void TCliWindow::ShowError(const std::string& text) {
    errorShown_ = true;
    if (report_)
        return Report(TReportKind::rcError, text);
    WriteLine(TConsoleStream::csError, "error: " + text);
}
