// Child programs: /bin/sh started as the child, its two streams read apart
// and whole, its end as a shell reports it, Ctrl-C while the parent holds
// its own, and a program that cannot be started.
#include <gtest/gtest.h>

#include <memory>

#include "runtime/Console.h"
#include "runtime/Exception.h"
#include "runtime/Process.h"
#include "tests/support/Failure.h"

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

std::unique_ptr<TChildProcess> Shell(const std::string& script) {
    return std::make_unique<TChildProcess>("/bin/sh", std::vector<std::string>{"-c", script});
}

} // namespace

TEST(TChildProcess, ReadsEachStreamApartAndWholeAndEndsAsAShellReports) {
    struct Row {
        std::string script;
        std::size_t outputSize;
        std::string error;
        int status;
    };
    // A megabyte is many pipe buffers: a parent that waited for the end
    // before reading would never see it.
    const Row rows[] = {
        {"printf out; printf err >&2; exit 3", 3, "err", 3},
        {"head -c 1048576 /dev/zero; echo done >&2", 1048576, "done\n", 0},
        {"cat; echo \"read $?\" >&2", 0, "read 0\n", 0}, // its input reads nothing
        {"kill -TERM $$", 0, "", 128 + 15},
    };
    std::vector<std::unique_ptr<TChildProcess>> children;
    for (const Row& row : rows)
        children.push_back(Shell(row.script));
    const auto outcomes = Collect(children);
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(rows[i].script);
        EXPECT_EQ(outcomes[i].Output.size(), rows[i].outputSize);
        EXPECT_EQ(outcomes[i].Error, rows[i].error);
        EXPECT_EQ(outcomes[i].Status, rows[i].status);
    }
    EXPECT_EQ(outcomes[0].Output, "out");
}

TEST(TChildProcess, InterruptEndsAChildEvenWhileTheParentHoldsCtrlC) {
    // Holding Ctrl-C blocks it for the parent; the child must not inherit that.
    HoldInterrupts();
    std::vector<std::unique_ptr<TChildProcess>> children;
    children.push_back(Shell("echo started; exec sleep 30"));
    std::string started;
    for (int i = 0; i < 100 && started.empty(); ++i) {
        WaitForChildOutput(std::vector<TChildProcess*>{children[0].get()},
                           std::chrono::milliseconds(100));
        children[0]->Read(TChildStream::csOutput, started);
    }
    const auto before = std::chrono::steady_clock::now();
    children[0]->Interrupt();
    const auto outcomes = Collect(children);
    EXPECT_EQ(outcomes[0].Status, 128 + 2);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(10));
}

TEST(TChildProcess, AProgramThatCannotStartRaisesTheSystemsText) {
    ExpectFailure<EOSError>([] { TChildProcess("/no/such/program", {}); },
                            "Cannot start /no/such/program. No such file or directory",
                            [](const EOSError& e) { EXPECT_EQ(e.ErrorCode(), ENOENT); });
}

TEST(RunningProgramFile, NamesThisTestProgram) {
    const std::string file = RunningProgramFile();
    EXPECT_TRUE(file.ends_with("/runtime_tests")) << file;
}
