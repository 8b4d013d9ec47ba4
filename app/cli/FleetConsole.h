// The terminal's side of a fleet run: each line of a unit's run prefixed by
// its unit's address on stdout or stderr and, when stderr is a terminal, one
// status line per running unit below them, redrawn in place and never more
// than a terminal of the usual size holds. What a unit's run reports and
// how it ended are not decided here.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

/// A running unit as its status line shows it.
struct TUnitStatus {
    std::string Address;
    /// The status label's text of the unit's run.
    std::string Status;
    /// The transfer under way, "done total"; none while Total is 0.
    std::int64_t Done = 0, Total = 0;
};

/// The status lines of the running units: "address: status (share%)", its
/// control characters escaped, cut to fit 79 columns; at most MaxStatusLines,
/// the last of them counting the units beyond.
std::vector<std::string> StatusLines(const std::vector<TUnitStatus>& units);

/// "done total" of a progress record as two numbers; none for anything else.
std::optional<std::pair<std::int64_t, std::int64_t>> ParseProgress(std::string_view text);

class TFleetConsole {
public:
    TFleetConsole();
    ~TFleetConsole() { Erase(); }
    TFleetConsole(const TFleetConsole&) = delete;
    TFleetConsole& operator=(const TFleetConsole&) = delete;

    /// Writes "address: text" as one line on stream, text's control
    /// characters escaped.
    void Line(std::FILE* stream, const std::string& address, const std::string& text);

    /// Shows lines as the status lines: at once when they were erased for a
    /// log line, else at most every RedrawInterval. When it had to leave
    /// them for later: how long until they may be drawn.
    std::optional<std::chrono::milliseconds> Statuses(std::vector<std::string> lines);

    /// Removes the status lines, so that nothing is drawn over them.
    void Erase();

private:
    using Clock = std::chrono::steady_clock;

    bool statusOnTerminal_;
    std::size_t drawn_ = 0;
    bool erased_ = false;
    std::vector<std::string> shown_;
    Clock::time_point lastDraw_{};
};
