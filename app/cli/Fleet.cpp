// The fleet run: the address list, the units' runs as child processes read
// through runtime/Process.h, the terminal's lines, and the end table and its
// JSON form. A unit's run is never waited for on its own: one poll covers
// every running unit, so a silent or failing unit holds up none of the others.
#include "app/cli/Fleet.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <fmt/format.h>
#include <memory>
#include <nlohmann/json.hpp>

#include "app/cli/CliWindow.h"
#include "app/cli/Report.h"
#include "runtime/Console.h"
#include "runtime/Convert.h"
#include "runtime/Files.h"
#include "runtime/Process.h"
#include "runtime/Stream.h"

namespace {

using Clock = std::chrono::steady_clock;

/// An address list is a few kilobytes; a file beyond this is some other file.
constexpr std::int64_t AddressFileLimit = 1024 * 1024;
/// The most status lines shown at once, the last of them counting the rest.
constexpr std::size_t MaxStatusLines = 12;
/// Status lines are redrawn at most this often: a transfer reports every
/// block, far more often than anyone can read.
constexpr auto RedrawInterval = std::chrono::milliseconds(100);

/// "done total" as two numbers; false for anything else.
bool ParseProgress(std::string_view text, std::int64_t& done, std::int64_t& total) {
    const char* end = text.data() + text.size();
    const auto first = std::from_chars(text.data(), end, done);
    if (first.ec != std::errc() || first.ptr == end || *first.ptr != ' ')
        return false;
    const auto second = std::from_chars(first.ptr + 1, end, total);
    return second.ec == std::errc() && second.ptr == end;
}

/// The end table's row of one unit.
struct TUnitResult {
    std::string Address;
    /// 0 when no unit answered.
    int Revision = 0;
    /// The images chosen for the unit; empty for none.
    std::string Pages, Program;
    /// The step the run reached (StepName); empty for a run that reported
    /// none.
    std::string Step;
    /// How it ended (ResultName), or "not started".
    std::string Outcome = "not started";
    /// "Update successful", or why not.
    std::string Result;
    double Seconds = 0;
    bool Succeeded = false;
};

struct TFleetSettings {
    /// The program each unit's run starts (this one) and its arguments
    /// without the address.
    std::string Program;
    std::vector<std::string> Arguments;
    /// As the address field reads them.
    std::vector<std::string> Addresses;
    int Jobs = 4;
};

/// The terminal's side of a fleet run: lines prefixed by their unit's
/// address on stdout and stderr and, when stderr is a terminal, one status
/// line per running unit below them, redrawn in place.
class TFleetConsole {
public:
    TFleetConsole() : statusOnTerminal_(IsTerminal(TConsoleStream::csError)) {}
    ~TFleetConsole() { Erase(); }
    TFleetConsole(const TFleetConsole&) = delete;
    TFleetConsole& operator=(const TFleetConsole&) = delete;

    /// Writes "address: text" as one line on stream.
    void Line(std::FILE* stream, const std::string& address, const std::string& text) {
        Erase();
        std::fputs((address + ": " + EscapeControls(text) + "\n").c_str(), stream);
        std::fflush(stream);
    }

    /// Shows lines as the status lines: at once when they were erased for a
    /// log line, else at most every RedrawInterval. When it had to leave
    /// them for later: how long until they may be drawn.
    std::optional<std::chrono::milliseconds> Statuses(std::vector<std::string> lines) {
        if (!statusOnTerminal_ || (drawn_ > 0 && lines == shown_ && !erased_))
            return std::nullopt;
        const auto now = Clock::now();
        if (!erased_ && lines.size() == shown_.size() && now - lastDraw_ < RedrawInterval)
            return std::chrono::ceil<std::chrono::milliseconds>(lastDraw_ + RedrawInterval - now);
        Erase();
        std::string block;
        for (const std::string& line : lines)
            block += "\r" + line + "\x1b[K\n";
        std::fputs(block.c_str(), stderr);
        std::fflush(stderr);
        drawn_ = lines.size();
        shown_ = std::move(lines);
        erased_ = false;
        lastDraw_ = now;
        return std::nullopt;
    }

    /// Removes the status lines, so that nothing is drawn over them.
    void Erase() {
        if (drawn_ == 0)
            return;
        std::fputs(fmt::format("\x1b[{}A\r\x1b[J", drawn_).c_str(), stderr);
        std::fflush(stderr);
        drawn_ = 0;
        erased_ = true;
    }

private:
    bool statusOnTerminal_;
    std::size_t drawn_ = 0;
    bool erased_ = false;
    std::vector<std::string> shown_;
    Clock::time_point lastDraw_{};
};

/// One unit's run while it goes on: its process, the partial lines read so
/// far, and what its report said.
struct TUnitRun {
    TUnitRun(std::size_t index, TChildProcess& child) : Index(index), Child(child) {}

    std::size_t Index;
    TChildProcess& Child;
    Clock::time_point Start = Clock::now();
    std::string Output, Error;
    std::string Status;
    std::int64_t Done = 0, Total = 0;
    std::string ErrorText;
    /// The outcome the run reported at its end: none from a run that ended
    /// before it could report one.
    std::optional<TRunResult> Result;
    TRunOutcome Outcome;
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
    std::vector<std::string> StatusLines() const;

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
        results_[i].Result = "Not started";
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
        redraw = console_.Statuses(StatusLines());
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
    } catch (const Exception& e) {
        results_[index].Result = e.Message();
        results_[index].Outcome = ResultName(TRunResult::rrFailed);
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
    const bool outputOpen = run.Child.Read(TChildStream::csOutput, run.Output);
    lines(run.Output, [&](const std::string& line) { Record(run, line); });
    const bool errorOpen = run.Child.Read(TChildStream::csError, run.Error);
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
    TUnitResult& result = results_[run.Index];
    const auto record = ParseReportLine(line);
    if (!record) {
        console_.Line(stdout, address, line);
        return;
    }
    switch (record->Kind) {
    case TReportKind::rkLog:
        console_.Line(stdout, address, record->Text);
        break;
    case TReportKind::rkStatus:
        run.Status = record->Text;
        break;
    case TReportKind::rkProgress:
        if (!ParseProgress(record->Text, run.Done, run.Total))
            run.Done = run.Total = 0;
        break;
    case TReportKind::rkError:
        run.ErrorText = record->Text;
        console_.Line(stderr, address, "error: " + record->Text);
        break;
    case TReportKind::rkRevision:
        result.Revision = std::atoi(record->Text.c_str());
        break;
    case TReportKind::rkPages:
        result.Pages = record->Text;
        break;
    case TReportKind::rkProgram:
        result.Program = record->Text;
        break;
    case TReportKind::rkReached:
    case TReportKind::rkRun:
    case TReportKind::rkVerified:
    case TReportKind::rkPagesSha256:
    case TReportKind::rkProgramSha256:
        break;
    case TReportKind::rkStep:
        run.Outcome.Step = StepOfName(record->Text).value_or(TRunStep::rsConnect);
        result.Step = record->Text;
        break;
    case TReportKind::rkReason:
        run.Outcome.Reason = record->Text;
        break;
    case TReportKind::rkResult:
        run.Result = ResultOfName(record->Text);
        if (run.Result) {
            run.Outcome.Result = *run.Result;
            if (*run.Result != TRunResult::rrSucceeded && *run.Result != TRunResult::rrCancelled)
                console_.Line(stderr, address, OutcomeLine(run.Outcome));
        }
        break;
    }
}

void TFleetRun::Finish(TUnitRun& run, int status) {
    TUnitResult& result = results_[run.Index];
    result.Seconds = std::chrono::duration<double>(Clock::now() - run.Start).count();
    // Updated only when the run said so in its outcome and exited as a run
    // that succeeded does: a run ended from outside may have reported
    // nothing, or only part of its way.
    result.Succeeded = status == 0 && run.Result == TRunResult::rrSucceeded;
    if (result.Succeeded) {
        result.Outcome = ResultName(TRunResult::rrSucceeded);
        result.Result = "Update successful";
        return;
    }
    failed_ = true;
    if (interrupts_ > 0 && (!run.Result || *run.Result == TRunResult::rrCancelled)) {
        result.Outcome = ResultName(TRunResult::rrCancelled);
        result.Result = "Cancelled";
    } else if (!run.ErrorText.empty()) {
        result.Outcome = ResultName(TRunResult::rrFailed);
        result.Result = run.ErrorText;
    } else if (run.Result) {
        result.Outcome = ResultName(*run.Result);
        result.Result = OutcomeLine(run.Outcome);
    } else {
        // Neither an outcome nor an error: something ended the run from outside.
        result.Outcome = ResultName(TRunResult::rrFailed);
        result.Result = fmt::format("ended with status {} before it reported an outcome", status);
    }
}

std::vector<std::string> TFleetRun::StatusLines() const {
    std::vector<std::string> lines;
    for (const auto& run : running_) {
        // Kept within the shortest usual terminal: a block taller than the
        // screen could not be redrawn in place.
        if (lines.size() + 1 == MaxStatusLines && running_.size() > MaxStatusLines) {
            lines.push_back(
                fmt::format("and {} more units running", running_.size() - lines.size()));
            break;
        }
        std::string line = settings_.Addresses[run->Index] + ": " + EscapeControls(run->Status);
        if (run->Total > 0)
            line += fmt::format(" ({}%)", ProgressPercent(run->Done, run->Total));
        // Kept within the narrowest usual terminal: a wrapped line would
        // throw the count of lines to redraw off.
        lines.push_back(line.substr(0, 79));
    }
    return lines;
}

/// One unit's address as given, and where it was given, for the messages.
struct TFleetAddress {
    std::string Text;
    std::string Origin;
};

std::vector<TFleetAddress> ReadAddressFile(const std::string& path) {
    std::optional<std::string> content;
    try {
        content = ReadFileUpTo(path, AddressFileLimit);
    } catch (const Exception& e) {
        throw EFleetUsage("--addresses: " + EscapeControls(e.Message()));
    }
    if (!content)
        throw EFleetUsage(fmt::format("--addresses: {} is larger than {} bytes",
                                      EscapeControls(path), AddressFileLimit));
    std::vector<TFleetAddress> addresses;
    const std::string& text = *content;
    int number = 0;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        const std::string_view line = std::string_view(text).substr(at, end - at);
        at = end + 1;
        ++number;
        const std::string entry = Trim(line.substr(0, line.find('#')));
        if (!entry.empty())
            addresses.push_back({entry, fmt::format("--addresses: {} line {}", path, number)});
    }
    return addresses;
}

std::vector<std::string> FleetAddresses(const std::vector<TFleetAddress>& addresses) {
    std::vector<std::string> masked;
    for (const TFleetAddress& address : addresses) {
        const auto text = MaskedAddressText(address.Text);
        if (!text)
            throw EFleetUsage(fmt::format("{}: \"{}\" is no address: four groups of 1 to 3 "
                                          "digits, each 0 to 255, expected",
                                          EscapeControls(address.Origin),
                                          EscapeControls(address.Text)));
        if (std::find(masked.begin(), masked.end(), *text) != masked.end())
            throw EFleetUsage(fmt::format("{}: {} is given twice", EscapeControls(address.Origin),
                                          EscapeControls(address.Text)));
        masked.push_back(*text);
    }
    return masked;
}

/// Runs every unit's update, at most Jobs at once, until all have ended or
/// Ctrl-C has cancelled the running ones; results holds one row per address,
/// in their order. The exit status: 0 when every unit was updated, 1 when
/// any was not, 130 after Ctrl-C.
int RunFleet(const TFleetSettings& settings, std::vector<TUnitResult>& results) {
    return TFleetRun(settings, results).Run();
}

/// The end table, one row a unit, columns aligned.
void PrintResultTable(const std::vector<TUnitResult>& results, std::FILE* out) {
    const std::vector<std::string> heads = {"address",       "revision", "web-page image",
                                            "program image", "result",   "seconds"};
    std::vector<std::vector<std::string>> rows;
    for (const TUnitResult& r : results)
        rows.push_back({r.Address, r.Revision > 0 ? std::to_string(r.Revision) : "-",
                        r.Pages.empty() ? "-" : EscapeControls(r.Pages),
                        r.Program.empty() ? "-" : EscapeControls(r.Program),
                        EscapeControls(r.Result), fmt::format("{:.1f}", r.Seconds)});
    std::vector<std::size_t> widths;
    for (std::size_t c = 0; c < heads.size(); ++c) {
        widths.push_back(heads[c].size());
        for (const auto& row : rows)
            widths[c] = std::max(widths[c], row[c].size());
    }
    std::string table = "\n";
    const auto line = [&](const std::vector<std::string>& cells) {
        std::string text;
        for (std::size_t c = 0; c < cells.size(); ++c)
            text += c + 1 < cells.size() ? fmt::format("{:<{}}  ", cells[c], widths[c])
                                         : fmt::format("{:>{}}", cells[c], widths[c]);
        return text + "\n";
    };
    table += line(heads);
    for (const auto& row : rows)
        table += line(row);
    std::fputs(table.c_str(), out);
    std::fflush(out);
}

/// The end table as JSON: an array with one object a unit, written whole or
/// not at all. Throws EFleetUsage when the file cannot be written.
void WriteResultJson(const std::vector<TUnitResult>& results, const std::string& path) {
    auto table = nlohmann::ordered_json::array();
    for (const TUnitResult& r : results) {
        const auto textOrNull = [](const std::string& text) {
            return text.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(text);
        };
        table.push_back({
            {"address", r.Address},
            {"revision",
             r.Revision > 0 ? nlohmann::ordered_json(r.Revision) : nlohmann::ordered_json()},
            {"web_page_image", textOrNull(r.Pages)},
            {"program_image", textOrNull(r.Program)},
            {"step", textOrNull(r.Step)},
            {"outcome", r.Outcome},
            {"result", r.Result},
            {"seconds", std::round(r.Seconds * 1000) / 1000},
            {"succeeded", r.Succeeded},
        });
    }
    try {
        // Image names are bytes in whatever encoding their folder has; JSON
        // wants UTF-8, so what is not UTF-8 shows as replacement characters.
        WriteFileWhole(path,
                       table.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) +
                           '\n');
    } catch (const Exception& e) {
        throw EFleetUsage("--json: " + EscapeControls(e.Message()));
    }
}
} // namespace

std::vector<std::string> UnitAddresses(const TCliOptions& options) {
    std::vector<TFleetAddress> given;
    for (const std::string& address : options.Addresses)
        given.push_back({address, "--address"});
    if (!options.AddressFile.empty()) {
        const auto listed = ReadAddressFile(options.AddressFile);
        given.insert(given.end(), listed.begin(), listed.end());
    }
    return FleetAddresses(given);
}

int RunFleetCli(const TCliOptions& options, const std::vector<std::string>& addresses,
                const std::string& program) {
    if (options.List) {
        std::fputs("error: --list: one unit at a time\n", stderr);
        return esUsage;
    }
    TFleetSettings settings;
    settings.Program = RunningProgramFile();
    if (settings.Program.empty())
        settings.Program = program;
    settings.Arguments = UnitRunArguments(options);
    settings.Addresses = addresses;
    settings.Jobs = options.Jobs;
    std::vector<TUnitResult> results;
    try {
        // A file that cannot be written stops the run before any unit is
        // touched; the check leaves the file as it is until the run's end.
        if (!options.Json.empty())
            CheckWritable(options.Json);
    } catch (const Exception& e) {
        std::fprintf(stderr, "error: --json: %s\n", EscapeControls(e.Message()).c_str());
        return esUsage;
    }
    // Each running unit holds files open in this program: a --jobs that the
    // system's limit cannot hold would fail units at their start instead.
    const std::size_t atOnce =
        std::min(static_cast<std::size_t>(std::max(options.Jobs, 1)), addresses.size());
    if (const auto room = ChildProcessRoom(); room && atOnce > *room) {
        std::fprintf(stderr,
                     "error: --jobs %d: the system's limit of open files (ulimit -n) leaves "
                     "room for %zu units at once\n",
                     options.Jobs, *room);
        return esUsage;
    }
    int status = RunFleet(settings, results);
    PrintResultTable(results, stdout);
    try {
        if (!options.Json.empty())
            WriteResultJson(results, options.Json);
    } catch (const EFleetUsage& e) {
        std::fprintf(stderr, "error: %s\n", e.what());
        status = status == esDone ? esFailed : status;
    }
    return status;
}
