// What the window's program does before its window: the command line (only
// --help and --version; the toolkit takes its own options) and a start-up
// that says in one line that a display is needed, and what to run without
// one, instead of the toolkit's own failure report.
#pragma once

#include <optional>

/// Handles --help and --version; the exit status when the program should
/// end here, no value when it should go on to its window.
std::optional<int> HandleCommandLine(int argc, char** argv);

/// While it lives, a failure of the toolkit to open a display ends the
/// program with one line on stderr and exit status 1; the toolkit's other
/// messages meanwhile are held and shown once the display is open.
class TDisplayGuard {
public:
    TDisplayGuard();
    ~TDisplayGuard();
    TDisplayGuard(const TDisplayGuard&) = delete;
    TDisplayGuard& operator=(const TDisplayGuard&) = delete;
};
