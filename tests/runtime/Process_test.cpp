// Child programs: process-child started as the child (its steps are its
// arguments), its two streams read apart and whole, its arguments arriving
// as they were given, its end as a shell reports it (a closed pipe
// included), Ctrl-C while the parent holds its own, a program that cannot be
// started, the set's wait without a limit, and a child that ends with its
// parent.
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
            child.Read(TChildStream::chOutput, outcomes[i].Output);
            child.Read(TChildStream::chError, outcomes[i].Error);
            if (std::chrono::steady_clock::now() > giveUp)
                child.Kill();
            const auto status = child.Ended();
            if (status && !child.IsOpen(TChildStream::chOutput) &&
                !child.IsOpen(TChildStream::chError))
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
        // A reader gone: the child keeps its default (SIGPIPE ends it)
        // until it holds interrupts, however the parent holds its own.
        {{"write-closed-pipe"},
         PlatformValue<std::string>("", "write failed"),
         "",
         PlatformValue(128 + 13, 0)},
        {{"hold", "write-closed-pipe"}, "write failed", "", 0},
    };
    // Held here, so that a child inheriting how the parent holds them shows.
    HoldInterrupts();
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
        {{"hold", "out", "started", "take", "30000"}, 2},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.steps[0]);
        std::vector<std::unique_ptr<TChildProcess>> children;
        children.push_back(Child(row.steps));
        // Only this Interrupt reaches it, never a terminal's Ctrl-C as well.
        EXPECT_TRUE(LeadsItsOwnProcessGroup(*children[0]));
        std::string started;
        for (int i = 0; i < 100 && started.empty(); ++i) {
            WaitForChildOutput(std::vector<TChildProcess*>{children[0].get()},
                               std::chrono::milliseconds(100));
            children[0]->Read(TChildStream::chOutput, started);
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

// No limit of its own: a second child that writes after 20 s is the only
// one, and a wait that missed what it waits for would end on that.
TEST(TChildProcessSet, AWaitEndsOnOutputAndOnAnEndWithNothingLeftToRead) {
    using std::chrono::milliseconds;
    struct Row {
        const char* what;
        std::vector<std::string> steps;
        std::optional<milliseconds> timeout;
        TChildWake wake;
        std::string output;
        std::optional<int> status;
    };
    const Row rows[] = {
        {"output",
         {"sleep", "300", "out", "x", "sleep", "30000"},
         {},
         TChildWake::cwChild,
         "x",
         {}},
        // Its streams closed and read to their end first: only its end is left.
        {"end", {"close-streams", "sleep", "300", "exit", "7"}, {}, TChildWake::cwChild, "", 7},
        {"timeout", {"sleep", "30000"}, milliseconds(300), TChildWake::cwTimeout, "", {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TChildProcessSet set;
        TChildProcess& child = set.Start(PROCESS_CHILD_PATH, row.steps);
        set.Start(PROCESS_CHILD_PATH, {"sleep", "20000", "out", "late"});
        const auto start = std::chrono::steady_clock::now();
        std::string output;
        while (row.status &&
               (child.IsOpen(TChildStream::chOutput) || child.IsOpen(TChildStream::chError))) {
            ASSERT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
            set.Wait();
            child.Read(TChildStream::chOutput, output);
            child.Read(TChildStream::chError, output);
        }
        const auto before = std::chrono::steady_clock::now();
        EXPECT_EQ(set.Wait(row.timeout), row.wake);
        const auto waited = std::chrono::steady_clock::now() - before;
        EXPECT_LT(waited, std::chrono::seconds(10));
        if (row.timeout) {
            EXPECT_GE(waited, *row.timeout / 2);
        }
        child.Read(TChildStream::chOutput, output);
        EXPECT_EQ(output, row.output);
        EXPECT_EQ(child.Ended(), row.status);
    }
}

// The parent passes on its child's process id and is then killed at once
// (SIGKILL, TerminateProcess): the child, which holds interrupts, takes the
// parent's end as SIGTERM in its wait and ends with that number.
TEST(EndWithParent, AChildWhoseParentIsKilledEndsItsRunAsOnSigterm) {
    TChildProcess parent(PROCESS_CHILD_PATH, {"set", "hold", "end-with-parent", "pid", "wait"});
    std::string pid;
    for (int i = 0; i < 100 && pid.empty(); ++i) {
        TChildProcessSet::WaitFor(std::vector<TChildProcess*>{&parent},
                                  std::chrono::milliseconds(100));
        parent.Read(TChildStream::chOutput, pid);
    }
    ASSERT_FALSE(pid.empty());
    TOrphanWatch child(pid);
    parent.Kill();
    EXPECT_EQ(child.WaitForEnd(std::chrono::seconds(10)), SignalTerminate);
}

TEST(RunningProgramFile, NamesThisTestProgram) {
    const std::string file = RunningProgramFile();
#ifdef LOADER_POSIX_PORTABLE
    EXPECT_EQ(file, ""); // no system call tells it there
    return;
#endif
    EXPECT_TRUE(file.ends_with(PlatformValue("/runtime_tests", "\\runtime_tests.exe"))) << file;
}
