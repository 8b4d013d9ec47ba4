// The end of a fleet run: each unit's row in the table and the results file.
#include "app/cli/FleetResults.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

// Whether the unit came back and what each image's digest was: null for a
// question not asked and an image not sent, in the file; "-" in the table.
TEST(ResultJson, GivesWhatEachUnitWasAskedAndSentOrNull) {
    const std::string pagesSha(64, 'a'), programSha(64, 'b');
    struct Row {
        const char* name;
        TUnitVerdict verdict;
        nlohmann::json verified, pagesSha, programSha, step, outcome;
        std::string tableVerified;
    };
    const std::vector<Row> rows = {
        {"verified",
         {TRunStep::rsDone, TRunResult::rrSucceeded, "Update successful", true, pagesSha,
          programSha},
         true,
         pagesSha,
         programSha,
         "done",
         "succeeded",
         "yes"},
        {"did not come back",
         {TRunStep::rsVerify, TRunResult::rrFailed, "Failed at verify", false, "", programSha},
         false,
         nullptr,
         programSha,
         "verify",
         "failed",
         "no"},
        {"not asked",
         {TRunStep::rsDone, TRunResult::rrSucceeded, "Update successful", std::nullopt, pagesSha,
          ""},
         nullptr,
         pagesSha,
         nullptr,
         "done",
         "succeeded",
         "-"},
        {"not started", {}, nullptr, nullptr, nullptr, nullptr, "not started", "-"},
    };
    std::vector<TUnitResult> results;
    for (const Row& row : rows)
        results.push_back({"127.000.000.002", 171, "pagesV1.bin", "prog.bin", row.verdict, 1.5});
    const auto json = nlohmann::json::parse(ResultJson(results));
    const std::string table = ResultTable(results);
    ASSERT_EQ(json.size(), rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(rows[i].name);
        EXPECT_EQ(json[i]["verified"], rows[i].verified);
        EXPECT_EQ(json[i]["web_page_sha256"], rows[i].pagesSha);
        EXPECT_EQ(json[i]["program_sha256"], rows[i].programSha);
        EXPECT_EQ(json[i]["step"], rows[i].step);
        EXPECT_EQ(json[i]["outcome"], rows[i].outcome);
        EXPECT_EQ(json[i]["succeeded"], rows[i].outcome == "succeeded");
        const std::string line =
            "127.000.000.002  171       pagesV1.bin     prog.bin       " + rows[i].tableVerified;
        EXPECT_NE(table.find("\n" + line + std::string(10 - rows[i].tableVerified.size(), ' ') +
                             rows[i].verdict.Text),
                  std::string::npos)
            << table;
    }
}
