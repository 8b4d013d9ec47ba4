// Child programs: process-child started as the child (its steps are its
// arguments), its two streams read apart and whole, its arguments arriving
// as they were given, its end as a shell reports it, Ctrl-C while the parent
// holds its own, and a program that cannot be started.
#include <gtest/gtest.h>

#include <cerrno>
#include <memory>

#include "runtime/Console.h"
#include "runtime/Exception.h"
#include "runtime/Format.h"
#include "runtime/Process.h"
#include "tests/support/Failure.h"
#include "tests/support/Platform.h"

namespace {

struct TOutcome {
    std::string Output, Error;
    int Status = -1;
};

/// Reads both streams of every child until each has ended; bounded by
/// limit, after which a child still running is killed.
std::vector<TOutcome> Collect(std::vector<std::unique_ptr<TChildProcess>>& children,
                              std::chrono::seconds limit = std::chrono::seconds(20)) {
    std::vector<TOutcome> outcomes(children.size());
    std::vector<TChildProcess*> running;
    for (auto& child : children)
        running.push_back(child.get());
    const auto giveUp = std::chrono::steady_clock::now() + limit;
    for (bool busy = true; busy;) {
        WaitForChildOutput(running, std::chrono::milliseconds(100));
        busy = false;
        for (std::size_t i = 0; i < children.size(); ++i) {
            TChildProcess& child = *children[i];
            child.Read(TChildStream::csOutput, outcomes[i].Output);
            child.Read(TChildStream::csError, outcomes[i].Error);
            if (std::chrono::steady_clock::now() > giveUp)
                child.Kill();
            const auto status = child.Ended();
            if (status && !child.IsOpen(TChildStream::csOutput) &&
                !child.IsOpen(TChildStream::csError))
                outcomes[i].Status = *status;
            else
                busy = true;
        }
    }
    return outcomes;
}

std::unique_ptr<TChildProcess> Child(const std::vector<std::string>& steps) {
    return std::make_unique<TChildProcess>(PROCESS_CHILD_PATH, steps);
}

} // namespace

TEST(TChildProcess, ReadsEachStreamApartAndWholeAndEndsAsAShellReports) {
    struct Row {
        std::vector<std::string> steps;
        std::string output, error;
        int status;
    };
    // A megabyte is many pipe buffers: a parent that waited for the end
    // before reading would never see it. The arguments must arrive as given,
    // whatever the platform makes of a command line.
    const Row rows[] = {
        {{"out", "out", "err", "err", "exit", "3"}, "out", "err", 3},
        {{"zeros", "1048576", "err", "done"}, std::string(1048576, '\0'), "done", 0},
        {{"read"}, "", "read 0", 0}, // its input reads nothing
        {{"args", "", "two words", "say \"hi\"", "C:\\dir\\", "a\\\"b", "\\\\server\\x", "\t"},
         "||two words|say \"hi\"|C:\\dir\\|a\\\"b|\\\\server\\x|\t",
         "",
         0},
        {{"ctrl-c"}, "", "", 128 + 2},
    };
    std::vector<std::unique_ptr<TChildProcess>> children;
    for (const Row& row : rows)
        children.push_back(Child(row.steps));
    const auto outcomes = Collect(children);
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(rows[i].steps[0]);
        EXPECT_EQ(outcomes[i].Output.size(), rows[i].output.size());
        EXPECT_TRUE(outcomes[i].Output == rows[i].output) << outcomes[i].Output.substr(0, 100);
        EXPECT_EQ(outcomes[i].Error, rows[i].error);
        EXPECT_EQ(outcomes[i].Status, rows[i].status);
    }
}

// A child that does not hold Ctrl-C ends as a shell reports it; one that
// holds it takes it as a request.
TEST(TChildProcess, InterruptReachesAChildEvenWhileTheParentHoldsCtrlC) {
    if (const std::string why = CtrlCUnavailable(); !why.empty())
        GTEST_SKIP() << why;
    // Holding Ctrl-C blocks it for the parent; the child must not inherit that.
    HoldInterrupts();
    struct Row {
        std::vector<std::string> steps;
        int status;
    };
    const Row rows[] = {
        {{"out", "started", "sleep", "30000"}, 128 + 2},
        {{"hold", "out", "started", "take", "30000"}, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.steps[0]);
        std::vector<std::unique_ptr<TChildProcess>> children;
        children.push_back(Child(row.steps));
        std::string started;
        for (int i = 0; i < 100 && started.empty(); ++i) {
            WaitForChildOutput(std::vector<TChildProcess*>{children[0].get()},
                               std::chrono::milliseconds(100));
            children[0]->Read(TChildStream::csOutput, started);
        }
        const auto before = std::chrono::steady_clock::now();
        children[0]->Interrupt();
        const auto outcomes = Collect(children);
        EXPECT_EQ(outcomes[0].Status, row.status);
        EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(10));
    }
}

TEST(TChildProcess, AProgramThatCannotStartRaisesTheSystemsText) {
    const std::string program = testing::TempDir() + "no-such-program";
    const int error = PlatformValue(ENOENT, 2); // file not found
    ExpectFailure<EOSError>([&] { TChildProcess(program, {}); },
                            Format("Cannot start %s. %s", program, SysErrorMessage(error)),
                            [&](const EOSError& e) { EXPECT_EQ(e.ErrorCode(), error); });
}

TEST(RunningProgramFile, NamesThisTestProgram) {
    const std::string file = RunningProgramFile();
    EXPECT_TRUE(file.ends_with(PlatformValue("/runtime_tests", "\\runtime_tests.exe"))) << file;
}
