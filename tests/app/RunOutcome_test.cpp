// A run's outcome as the user reads it: one line, whatever the system's text
// holds, and the names that travel from a unit's run to the fleet and back.
#include "app/RunOutcome.h"

#include <gtest/gtest.h>
#include <vector>

TEST(OneLine, JoinsASystemTextsLinesWithABlank) {
    const std::pair<std::string, std::string> rows[] = {
        {"Socket Error # 10061\r\nConnection refused.", "Socket Error # 10061 Connection refused."},
        {"Connection refused.\r\n", "Connection refused."},
        {"one\ntwo\rthree", "one two three"},
        {"already one line", "already one line"},
        {"ends in a blank \n", "ends in a blank"},
        {"", ""},
    };
    for (const auto& [text, line] : rows) {
        SCOPED_TRACE(text);
        EXPECT_EQ(OneLine(text), line);
    }
}

TEST(OutcomeLine, NamesTheStepAndTheReason) {
    using enum TRunKind;
    using enum TRunStep;
    using enum TRunResult;
    struct Row {
        TRunKind kind;
        TRunStep step;
        TRunResult result;
        std::string reason, line, status;
    };
    const std::string refused = "Socket Error # 10061\r\nConnection refused.";
    const std::string refusedLine = "Failed at connect: Socket Error # 10061 Connection refused.";
    const std::string timeLimit = "Stopped at program: time limit of 30 s reached";
    const std::vector<Row> rows = {
        {rkUpload, spDone, rrSucceeded, "", "", "Update successful"},
        {rkConnect, spDone, rrSucceeded, "", "", "Connected"},
        {rkUpload, spWebPages, rrFailed, "denied", "Failed at web pages: denied",
         "Failed at web pages: denied"},
        {rkConnect, spConnect, rrFailed, refused, refusedLine, refusedLine},
        {rkUpload, spSecondWait, rrCancelled, "", "Cancelled at wait after the web pages",
         "Cancelled at wait after the web pages"},
        {rkUpload, spProgram, rrTimeLimit, "time limit of 30 s reached", timeLimit, timeLimit},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        TRunOutcome outcome;
        outcome.Kind = row.kind;
        outcome.Step = row.step;
        outcome.Result = row.result;
        outcome.Reason = row.reason;
        EXPECT_EQ(OutcomeLine(outcome), row.line);
        EXPECT_EQ(OutcomeStatus(outcome), row.status);
    }
}

TEST(StepOfName, GivesBackEveryStepAndResultAndNothingElse) {
    for (int i = 0; i <= static_cast<int>(TRunStep::spDone); ++i) {
        const auto step = static_cast<TRunStep>(i);
        EXPECT_EQ(StepOfName(StepName(step)), step) << i;
    }
    for (int i = 0; i <= static_cast<int>(TRunResult::rrTimeLimit); ++i) {
        const auto result = static_cast<TRunResult>(i);
        EXPECT_EQ(ResultOfName(ResultName(result)), result) << i;
    }
    EXPECT_FALSE(StepOfName("Update successful").has_value());
    EXPECT_FALSE(ResultOfName("Update successful").has_value());
    EXPECT_FALSE(ResultOfName("").has_value());
}
