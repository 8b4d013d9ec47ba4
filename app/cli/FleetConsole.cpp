// The fleet's lines on stdout and stderr, and the status lines below them.
#include "app/cli/FleetConsole.h"

#include <charconv>
#include <fmt/format.h>

#include "app/WindowOperations.h"
#include "runtime/Console.h"
#include "runtime/Convert.h"

namespace {

/// The most status lines shown at once, the last of them counting the rest:
/// a block taller than the shortest usual terminal could not be redrawn in
/// place.
constexpr std::size_t MaxStatusLines = 12;
/// The widest a status line may be: a wrapped line would throw the count of
/// lines to redraw off on the narrowest usual terminal.
constexpr std::size_t MaxStatusColumns = 79;
/// Status lines are redrawn at most this often: a transfer reports every
/// block, far more often than anyone can read.
constexpr auto RedrawInterval = std::chrono::milliseconds(100);

} // namespace

std::vector<std::string> StatusLines(const std::vector<TUnitStatus>& units) {
    std::vector<std::string> lines;
    for (const TUnitStatus& unit : units) {
        if (lines.size() + 1 == MaxStatusLines && units.size() > MaxStatusLines) {
            lines.push_back(fmt::format("and {} more units running", units.size() - lines.size()));
            break;
        }
        std::string line = unit.Address + ": " + EscapeControls(unit.Status);
        if (unit.Total > 0)
            line += fmt::format(" ({}%)", ProgressPercent(unit.Done, unit.Total));
        lines.push_back(line.substr(0, MaxStatusColumns));
    }
    return lines;
}

std::optional<std::pair<std::int64_t, std::int64_t>> ParseProgress(std::string_view text) {
    std::int64_t done = 0, total = 0;
    const char* end = text.data() + text.size();
    const auto first = std::from_chars(text.data(), end, done);
    if (first.ec != std::errc() || first.ptr == end || *first.ptr != ' ')
        return std::nullopt;
    const auto second = std::from_chars(first.ptr + 1, end, total);
    if (second.ec != std::errc() || second.ptr != end)
        return std::nullopt;
    return std::pair{done, total};
}

TFleetConsole::TFleetConsole() : statusOnTerminal_(IsTerminal(TConsoleStream::csError)) {}

void TFleetConsole::Line(std::FILE* stream, const std::string& address, const std::string& text) {
    Erase();
    std::fputs((address + ": " + EscapeControls(text) + "\n").c_str(), stream);
    std::fflush(stream);
}

std::optional<std::chrono::milliseconds> TFleetConsole::Statuses(std::vector<std::string> lines) {
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

void TFleetConsole::Erase() {
    if (drawn_ == 0)
        return;
    std::fputs(fmt::format("\x1b[{}A\r\x1b[J", drawn_).c_str(), stderr);
    std::fflush(stderr);
    drawn_ = 0;
    erased_ = true;
}
