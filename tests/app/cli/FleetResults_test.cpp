// The end of a fleet run: each unit's row in the table and the results file,
// and the paths a results file may not take.
#include "app/cli/FleetResults.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "runtime/Exception.h"
#include "runtime/Format.h"
#include "tests/support/Failure.h"
#include "tests/support/ImageFolder.h"
#include "tests/support/Platform.h"

namespace {

std::string Text(const std::string& path) {
    const auto bytes = FileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

} // namespace

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

// A results file is a regular file or a new one, and none in the image
// folder: the check refuses the rest without waiting on a pipe or truncating
// a file, and the write refuses a pipe or a device that took the path since.
TEST(CheckResultsFile, TakesARegularOrNewFileOutsideTheImageFolder) {
    namespace fs = std::filesystem;
    TTempFolder temp;
    const char d = PathDelim;
    // The folder as the loader takes it, ending in its separator.
    const std::string folder = temp.Path() + "images", images = folder + d;
    fs::create_directories(images + "sub");
    fs::create_directories(temp.Path() + "images2");
    fs::create_directory(temp.Path() + "folder.json");
    const std::string kept = temp.Write("kept.json", {'o', 'l', 'd'});
    struct Row {
        std::string path;
        const std::type_info* type; // none: taken
        std::string message;
    };
    const auto writeError = [](const std::string& path, int error) {
        return Row{path, &typeid(EOSError),
                   Format("Cannot write %s: %s", path, SysErrorMessage(error))};
    };
    const auto inImages = [&](const std::string& path) {
        return Row{path, &typeid(Exception),
                   path + " is in the image folder " + images + ", whose images it could replace"};
    };
    std::vector<Row> rows = {
        {temp.Path() + "new.json", nullptr, ""},
        {kept, nullptr, ""},
        {temp.Path() + "images2" + d + "results.json", nullptr, ""},
        writeError(temp.Path() + "folder.json", PlatformValue(EISDIR, 5)),
        writeError(temp.Path() + "no" + d + "results.json", PlatformValue(ENOENT, 3)),
        inImages(images + "prog.bin"),
        inImages(images + "sub" + d + "results.json"),
        inImages(images + "gone" + d + ".." + d + "results.json"),
        inImages(temp.Path() + "." + d + "images"),
    };
    if (kTestPlatform == TTestPlatform::tpPosix) {
        fs::create_directory_symlink(folder, temp.Path() + "link");
        rows.push_back(inImages(temp.Path() + "link" + d + "results.json"));
    }
    const TSpecialFiles special(temp.Path());
    for (const std::string& path : special.Paths())
        rows.push_back({path, &typeid(EFOpenError),
                        "Cannot open file \"" + ExpandFileName(path) + "\". Not a regular file"});
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        if (!row.type) {
            EXPECT_NO_THROW(CheckResultsFile(row.path, images));
            continue;
        }
        ExpectFailure([&] { CheckResultsFile(row.path, images); }, *row.type, row.message);
        // A Windows pipe of the tests takes one client, the check's.
        if (*row.type == typeid(EFOpenError) && kTestPlatform == TTestPlatform::tpPosix) {
            ExpectFailure([&] { WriteResultsFile(row.path, {}); }, *row.type, row.message);
        }
    }
    EXPECT_EQ(Text(kept), "old");
    EXPECT_FALSE(fs::exists(temp.Path() + "new.json"));
}
