// RunCli on POSIX: through the shell, with timeout(1) for the bound or the
// Ctrl-C, script(1) for a terminal and unshare(1) for a run without a network.
#include <sys/wait.h>

#include <cstdio>
#include <sstream>

#include "tests/app/cli/RunCli.h"
#include "tests/support/ImageFolder.h"

Lines SplitLines(const std::string& text) {
    Lines lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

TRun RunCli(const std::string& args, TRunEnd end, TRunPlace place) {
    TTempFolder scratch;
    const std::string errPath = scratch.Path() + "stderr";
    const std::string program = std::string(LOADER_CLI_PATH) + " " + args;
    std::string prefix = end == TRunEnd::reCtrlCAfter3s ? "timeout --preserve-status -k 20 -s INT 3"
                                                        : "timeout -s KILL 120";
    if (place == TRunPlace::rpNoNetwork)
        prefix += " unshare -rn --";
    const std::string command =
        prefix +
        (place == TRunPlace::rpTerminal ? " script -qec '" + program + "' /dev/null"
                                        : " " + program) +
        (place == TRunPlace::rpStreamsClosed ? " 0<&- 2>&-" : " 2>" + errPath + " </dev/null");
    TRun run;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return run;
    std::string out;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        out.append(buffer, n);
    const int rc = ::pclose(pipe);
    run.Status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    run.Out = SplitLines(out);
    if (place != TRunPlace::rpStreamsClosed) {
        const auto err = FileBytes(errPath);
        run.Err.assign(err.begin(), err.end());
    }
    return run;
}
