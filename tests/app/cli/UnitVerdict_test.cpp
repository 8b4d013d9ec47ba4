// The fleet's verdict on a unit from the records its run reported, the run's
// exit status and whether the fleet was interrupted: every way a unit's run
// can end, as the records of a real run would come.
#include "app/cli/UnitVerdict.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

const std::string PagesSha(64, 'a'), ProgramSha(64, 'b');

/// The records of a run's end: run, step, reason, verified, both digests
/// and the result.
Lines Outcome(const std::string& run, const std::string& step, const std::string& result,
              const std::string& reason = "", const std::string& verified = "",
              const std::string& pages = "", const std::string& program = "") {
    return {"run " + run,           "step " + step,          "reason " + reason,
            "verified " + verified, "pages-sha256 " + pages, "program-sha256 " + program,
            "result " + result};
}

/// A Connect that found the unit, then the steps of the Upload up to last
/// ("connect": none).
Lines ConnectedAndReached(const std::string& last) {
    Lines lines = {"reached connect", "log Connected, H/W revision 171"};
    for (const std::string& line : Outcome("connect", "done", "succeeded"))
        lines.push_back(line);
    lines.insert(lines.end(), {"revision 171", "pages pagesV1.bin", "program prog.bin"});
    const Lines steps = {"connect",   "image check",
                         "commands",  "wait after the reboot",
                         "web pages", "wait after the web pages",
                         "program",   "verify"};
    for (auto step = steps.begin() + 1; step <= std::find(steps.begin(), steps.end(), last); ++step)
        lines.push_back("reached " + *step);
    return lines;
}

Lines operator+(Lines a, const Lines& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

} // namespace

TEST(UnitVerdict, TellsEveryWayAUnitsRunCanEnd) {
    struct Row {
        const char* name;
        Lines records;
        int status;
        bool interrupted, verify;
        std::string step, outcome, text;
        std::optional<bool> verified;
        std::string pagesSha = "", programSha = "";
    };
    const std::string refused = "Socket Error # 10061\r\nConnection refused.";
    const std::string nothing = "nothing to upload: no web page image and no program image";
    const std::vector<Row> rows = {
        {"succeeded",
         ConnectedAndReached("program") +
             Outcome("upload", "done", "succeeded", "", "", PagesSha, ProgramSha),
         0, false, false, "done", "succeeded", "Update successful", std::nullopt, PagesSha,
         ProgramSha},
        {"failed at connect",
         Lines{"reached connect"} + Outcome("connect", "connect", "failed", refused), 1, false,
         true, "connect", "failed", "Failed at connect: Socket Error # 10061 Connection refused.",
         false},
        {"failed at web pages",
         ConnectedAndReached("web pages") +
             Outcome("upload", "web pages", "failed", "Access violation", "false"),
         1, false, true, "web pages", "failed", "Failed at web pages: Access violation", false},
        {"failed at verify",
         ConnectedAndReached("verify") + Outcome("upload", "verify", "failed",
                                                 "Unit did not come back (no answer)", "false",
                                                 PagesSha, ProgramSha),
         1, false, true, "verify", "failed", "Failed at verify: Unit did not come back (no answer)",
         false, PagesSha, ProgramSha},
        {"refused at the image check",
         ConnectedAndReached("image check") + Lines{"error x.bin is not in the manifest."} +
             Outcome("upload", "image check", "failed", "x.bin is not in the manifest"),
         2, false, false, "image check", "failed", "x.bin is not in the manifest.", std::nullopt},
        {"an error box between the runs",
         ConnectedAndReached("connect") + Lines{"error " + nothing}, 2, false, false, "connect",
         "failed", nothing, std::nullopt},
        {"killed before any report", Lines{}, 137, false, false, "", "failed",
         "Failed: ended by signal 9 before it reported", std::nullopt},
        {"killed after the Connect reported", ConnectedAndReached("web pages"), 137, false, true,
         "web pages", "failed", "Failed at web pages: ended by signal 9 before it reported", false},
        {"crashed", ConnectedAndReached("program"), 134, false, false, "program", "failed",
         "Failed at program: ended by signal 6 before it reported", std::nullopt},
        {"ended without a word", ConnectedAndReached("commands"), 3, false, false, "commands",
         "failed", "Failed at commands: ended with status 3 before it reported", std::nullopt},
        {"cancelled by one signal",
         ConnectedAndReached("wait after the reboot") +
             Outcome("upload", "wait after the reboot", "cancelled", "", "false"),
         130, true, true, "wait after the reboot", "cancelled",
         "Cancelled at wait after the reboot", false},
        {"cancelled during the connect",
         Lines{"reached connect"} + Outcome("connect", "connect", "cancelled"), 130, true, false,
         "connect", "cancelled", "Cancelled at connect", std::nullopt},
        {"cancelled by two signals", ConnectedAndReached("web pages"), 137, true, false,
         "web pages", "cancelled", "Cancelled at web pages: ended by signal 9 before it reported",
         std::nullopt},
        {"failed before the fleet was interrupted",
         Lines{"reached connect"} + Outcome("connect", "connect", "failed", "refused"), 1, true,
         false, "connect", "failed", "Failed at connect: refused", std::nullopt},
        {"time limit",
         ConnectedAndReached("program") +
             Outcome("upload", "program", "time limit", "time limit of 6 s reached", "", PagesSha),
         1, false, false, "program", "time limit", "Stopped at program: time limit of 6 s reached",
         std::nullopt, PagesSha},
        {"a success the exit denies",
         ConnectedAndReached("program") + Outcome("upload", "done", "succeeded"), 1, false, false,
         "done", "failed", "Failed at done: ended with status 1 after it reported success",
         std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TUnitReport report;
        for (const std::string& line : row.records) {
            const auto record = ParseReportLine(line);
            ASSERT_TRUE(record) << line;
            ReadRecord(report, *record);
        }
        const TUnitVerdict verdict = UnitVerdict(row.status, report, row.interrupted, row.verify);
        EXPECT_EQ(verdict.Step ? std::string(StepName(*verdict.Step)) : "", row.step);
        ASSERT_TRUE(verdict.Result);
        EXPECT_EQ(ResultName(*verdict.Result), row.outcome);
        EXPECT_EQ(verdict.Text, row.text);
        EXPECT_EQ(verdict.Succeeded(), row.outcome == "succeeded");
        EXPECT_EQ(verdict.Verified, row.verified);
        EXPECT_EQ(verdict.PagesSha256, row.pagesSha);
        EXPECT_EQ(verdict.ProgramSha256, row.programSha);
    }
}
