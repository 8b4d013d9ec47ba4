// The units' runs as child processes read through runtime/Process.h, their
// records taken line by line, and each unit's row made when its run ends.
#include "app/cli/FleetRun.h"

#include <chrono>
#include <memory>

#include "app/cli/FleetConsole.h"
#include "app/cli/TftpLoaderCli.h"
#include "runtime/Console.h"
#include "runtime/Exception.h"
#include "runtime/Process.h"

namespace {

using Clock = std::chrono::steady_clock;

/// One unit's run while it goes on: its process, the partial lines read so
/// far, its status line and what its report said.
struct TUnitRun {
    TUnitRun(std::size_t index, TChildProcess& child) : Index(index), Child(child) {}

    std::size_t Index;
    TChildProcess& Child;
    Clock::time_point Start = Clock::now();
    std::string Output, Error;
    TUnitStatus Status;
    TUnitReport Report;
};

class TFleetRun {
public:
    TFleetRun(const TFleetSettings& settings, std::vector<TUnitResult>& results)
        : settings_(settings), results_(results) {}

    int Run();

private:
    void StartNext();
    void Interrupt();
    /// Reads what the run has written; true once it has ended and all of
    /// its output was read.
    bool Drain(TUnitRun& run);
    void Record(TUnitRun& run, const std::string& line);
    void Finish(TUnitRun& run, int status);
    std::vector<std::string> Statuses() const;

    const TFleetSettings& settings_;
    std::vector<TUnitResult>& results_;
    TFleetConsole console_;
    TChildProcessSet children_;
    std::vector<std::unique_ptr<TUnitRun>> running_;
    std::size_t next_ = 0;
    int interrupts_ = 0;
    /// The signal that asked the fleet to end first; 0 while none has.
    int signal_ = 0;
    bool failed_ = false;
};

int TFleetRun::Run() {
    // Ctrl-C (and SIGTERM, SIGHUP) reach the parent as a request, and the
    // parent passes it on; each unit's run holds its own and ends its update
    // cleanly, telling its unit. A closed stdout ends nothing either.
    HoldInterrupts();
    results_.assign(settings_.Addresses.size(), {});
    for (std::size_t i = 0; i < results_.size(); ++i) {
        results_[i].Address = settings_.Addresses[i];
        results_[i].Verdict.Verified = settings_.Verify ? std::optional(false) : std::nullopt;
    }
    const std::size_t jobs = static_cast<std::size_t>(std::max(settings_.Jobs, 1));
    std::optional<std::chrono::milliseconds> redraw;
    for (;;) {
        while (interrupts_ == 0 && next_ < results_.size() && running_.size() < jobs)
            StartNext();
        if (running_.empty())
            break;
        // One wait for every unit: it wakes on output, on a run's end or on
        // a signal, and on a timer only when status lines are owed a redraw.
        if (children_.Wait(redraw) == TChildWake::cwInterrupt)
            Interrupt();
        std::erase_if(running_, [this](const auto& run) {
            if (!Drain(*run))
                return false;
            children_.Remove(run->Child);
            return true;
        });
        redraw = console_.Statuses(Statuses());
    }
    console_.Erase();
    if (signal_ != 0)
        return esSignalled + signal_;
    return failed_ || next_ < results_.size() ? esFailed : esDone;
}

void TFleetRun::StartNext() {
    const std::size_t index = next_++;
    std::vector<std::string> args = settings_.Arguments;
    args.insert(args.end(), {"--address", settings_.Addresses[index], "--report"});
    try {
        running_.push_back(
            std::make_unique<TUnitRun>(index, children_.Start(settings_.Program, args)));
        running_.back()->Status.Address = settings_.Addresses[index];
    } catch (const Exception& e) {
        TUnitVerdict& verdict = results_[index].Verdict;
        verdict.Result = TRunResult::rrFailed;
        verdict.Text = e.Message();
        failed_ = true;
        console_.Line(stderr, settings_.Addresses[index], "error: " + e.Message());
    }
}

void TFleetRun::Interrupt() {
    const int signal = TakeInterrupt(std::chrono::nanoseconds::zero());
    if (signal == 0)
        return;
    if (signal_ == 0)
        signal_ = signal;
    // The first signal lets every update end cleanly (a transfer tells its
    // unit); a second one ends them at once.
    ++interrupts_;
    for (const auto& run : running_) {
        if (interrupts_ == 1)
            run->Child.Interrupt();
        else
            run->Child.Kill();
    }
}

bool TFleetRun::Drain(TUnitRun& run) {
    const std::string& address = settings_.Addresses[run.Index];
    // A line ends in a line feed, or in CR LF where the unit's run writes in
    // a text mode that adds the CR (Windows); a record never holds a raw CR.
    const auto lines = [](std::string& pending, const auto& take) {
        for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
            take(pending.substr(0, end > 0 && pending[end - 1] == '\r' ? end - 1 : end));
            pending.erase(0, end + 1);
        }
    };
    const bool outputOpen = run.Child.Read(TChildStream::chOutput, run.Output);
    lines(run.Output, [&](const std::string& line) { Record(run, line); });
    const bool errorOpen = run.Child.Read(TChildStream::chError, run.Error);
    lines(run.Error, [&](const std::string& line) { console_.Line(stderr, address, line); });
    if (outputOpen || errorOpen)
        return false;
    const auto status = run.Child.Ended();
    if (!status)
        return false;
    // A last line without its line feed still counts.
    if (!run.Output.empty())
        Record(run, run.Output);
    if (!run.Error.empty())
        console_.Line(stderr, address, run.Error);
    Finish(run, *status);
    return true;
}

void TFleetRun::Record(TUnitRun& run, const std::string& line) {
    const std::string& address = settings_.Addresses[run.Index];
    const auto record = ParseReportLine(line);
    if (!record) {
        console_.Line(stdout, address, line);
        return;
    }
    switch (record->Kind) {
    case TReportKind::rcLog:
        console_.Line(stdout, address, record->Text);
        break;
    case TReportKind::rcStatus:
        run.Status.Status = record->Text;
        break;
    case TReportKind::rcProgress: {
        const auto progress = ParseProgress(record->Text);
        run.Status.Done = progress ? progress->first : 0;
        run.Status.Total = progress ? progress->second : 0;
        break;
    }
    case TReportKind::rcError:
        console_.Line(stderr, address, "error: " + record->Text);
        break;
    default:
        break;
    }
    ReadRecord(run.Report, *record);
}

void TFleetRun::Finish(TUnitRun& run, int status) {
    TUnitResult& result = results_[run.Index];
    result.Seconds = std::chrono::duration<double>(Clock::now() - run.Start).count();
    result.Revision = run.Report.Revision;
    result.Pages = run.Report.Pages;
    result.Program = run.Report.Program;
    result.Verdict = UnitVerdict(status, run.Report, interrupts_ > 0, settings_.Verify);
    if (result.Verdict.Succeeded())
        return;
    failed_ = true;
    // Why not, as a single run says it; an error box's text was said as it came.
    if (result.Verdict.Text != run.Report.Error)
        console_.Line(stderr, result.Address, result.Verdict.Text);
}

std::vector<std::string> TFleetRun::Statuses() const {
    std::vector<TUnitStatus> units;
    for (const auto& run : running_)
        units.push_back(run->Status);
    return StatusLines(units);
}

} // namespace

int RunFleet(const TFleetSettings& settings, std::vector<TUnitResult>& results) {
    return TFleetRun(settings, results).Run();
}
