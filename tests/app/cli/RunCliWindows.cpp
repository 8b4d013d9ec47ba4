// RunCli on Windows: the program as a child process (runtime/Process.h), the
// bound on its run time a kill. The program writes its lines in text mode,
// so each ends in CR LF here; they come back with line feeds alone. No
// terminal and no network of its own: those runs are the POSIX tests'.
#include <sstream>

#include "tests/app/cli/RunCli.h"
#include "tests/support/ChildProcess.h"

namespace {

std::string WithoutCarriageReturns(std::string text) {
    std::erase(text, '\r');
    return text;
}

} // namespace

Lines SplitLines(const std::string& text) {
    Lines lines;
    std::istringstream in(WithoutCarriageReturns(text));
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

TRun RunCli(const std::string& args, TRunEnd end, TRunPlace) {
    using std::chrono::seconds;
    std::vector<std::string> words;
    std::istringstream in(args);
    for (std::string word; in >> word;)
        words.push_back(word);
    TRun run;
    TChildProcess cli(LOADER_CLI_PATH, words);
    std::string out, err;
    bool ended = false;
    if (end == TRunEnd::reCtrlCAfter3s) {
        ended = ReadUntilEnd(cli, seconds(3), out, err);
        if (!ended) {
            cli.Interrupt();
            ended = ReadUntilEnd(cli, seconds(20), out, err);
        }
    } else {
        ended = ReadUntilEnd(cli, seconds(120), out, err);
    }
    if (ended)
        run.Status = *cli.Ended();
    run.Out = SplitLines(out);
    run.Err = WithoutCarriageReturns(err);
    return run;
}
