// tftp-loader-cli run as a program by its tests: its exit status, its
// stdout as lines and its stderr as text. Starting it is the platform's
// business (RunCliPosix.cpp, RunCliWindows.cpp).
#pragma once

#include <string>
#include <vector>

using Lines = std::vector<std::string>;

struct TRun {
    int Status = -1;
    Lines Out;
    std::string Err;
};

/// How a run ends when the program does not end by itself.
enum class TRunEnd {
    reKillAfter120s, // a bound on the run time
    reCtrlCAfter3s   // a Ctrl-C after 3 s, then the kill after 20 s more
};

/// Where the program runs.
enum class TRunPlace {
    rpPipes,     // its stdout and stderr on pipes
    rpTerminal,  // on a terminal (POSIX only): Out holds what it was sent, stdout and stderr alike
    rpNoNetwork, // on pipes, with no network to reach (POSIX only)
    rpStreamsClosed, // its stdout on a pipe, started without stdin and stderr (POSIX only)
};

/// Runs the program (LOADER_CLI_PATH) with args (words parted by spaces),
/// its stdin empty. Line ends are line feeds on every platform.
TRun RunCli(const std::string& args, TRunEnd end = TRunEnd::reKillAfter120s,
            TRunPlace place = TRunPlace::rpPipes);

/// The lines of text, without their line ends.
Lines SplitLines(const std::string& text);
