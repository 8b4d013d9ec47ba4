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
    reCtrlCAfter3s   // a Ctrl-C after 3 s (POSIX: SIGINT), then the kill after 20 s more
};

/// Runs the program (LOADER_CLI_PATH) with args, its stdin empty. On a
/// terminal (POSIX only), Out holds what the terminal was sent, stdout and
/// stderr alike. Line ends are line feeds on every platform.
TRun RunCli(const std::string& args, TRunEnd end = TRunEnd::reKillAfter120s,
            bool onTerminal = false);

/// The lines of text, without their line ends.
Lines SplitLines(const std::string& text);
