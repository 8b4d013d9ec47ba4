// Held interrupts: each of SIGHUP, SIGINT and SIGTERM, sent to a program
// that holds them while it waits for its child, ends that wait and is taken
// with its own number afterwards; one that does not hold them ends as the
// signal ends a program. The program is process-child, its sender the
// child it waits for.
#include <gtest/gtest.h>

#include <memory>

#include "runtime/Console.h"
#include "runtime/Process.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Platform.h"

TEST(HoldInterrupts, EachSignalEndsTheWaitForChildrenAndIsTakenWithItsNumber) {
    if (kTestPlatform == TTestPlatform::tpWindows)
        GTEST_SKIP() << "no program can send another the console's close or log-off event, and "
                        "a child in a process group of its own ignores Ctrl-C; there the test "
                        "of EndWithParent takes a held interrupt";
    struct Row {
        std::vector<std::string> steps;
        std::string output;
        int status;
    };
    const auto sendsAfterAWhile = [](int signal) {
        return std::vector<std::string>{"sleep", "300",  "signal-parent", std::to_string(signal),
                                        "sleep", "30000"};
    };
    std::vector<Row> rows;
    for (const int signal : {SignalHangUp, SignalInterrupt, SignalTerminate}) {
        std::vector<std::string> steps = {"hold", "set"};
        for (const std::string& step : sendsAfterAWhile(signal))
            steps.push_back(step);
        rows.push_back({steps, "interrupt " + std::to_string(signal), signal});
    }
    std::vector<std::string> unheld = {"set", "end-with-parent"};
    for (const std::string& step : sendsAfterAWhile(SignalTerminate))
        unheld.push_back(step);
    rows.push_back({unheld, "", 128 + SignalTerminate});

    std::vector<std::unique_ptr<TChildProcess>> programs;
    for (const Row& row : rows)
        programs.push_back(std::make_unique<TChildProcess>(PROCESS_CHILD_PATH, row.steps));
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(rows[i].output);
        std::string output, error;
        ASSERT_TRUE(ReadUntilEnd(*programs[i], std::chrono::seconds(10), output, error));
        EXPECT_EQ(output, rows[i].output);
        EXPECT_EQ(*programs[i]->Ended(), rows[i].status) << error;
    }
}
