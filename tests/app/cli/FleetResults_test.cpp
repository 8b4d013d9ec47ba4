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

// What a fleet run with --verify gives is its own test's; here what the
// others give: null for a question not asked and an image not sent, in the
// file, and "-" in the table, whose other columns keep their place.
TEST(ResultJson, GivesNullForWhatWasNotAskedOrNotSent) {
    const std::string pagesSha(64, 'a');
    TUnitVerdict noProgram{
        TRunStep::spDone, TRunResult::rrSucceeded, "Update successful", std::nullopt, pagesSha, ""};
    const std::vector<TUnitResult> results = {
        {"127.000.000.002", 171, "pagesV1.bin", "", noProgram, 1.5},
        {"127.000.000.003", 0, "", "", {}, 0}};
    const auto json = nlohmann::json::parse(ResultJson(results));
    ASSERT_EQ(json.size(), 2u);
    EXPECT_EQ(json[0]["verified"], nullptr);
    EXPECT_EQ(json[0]["web_page_sha256"], pagesSha);
    EXPECT_EQ(json[0]["program_sha256"], nullptr);
    EXPECT_EQ(json[1]["step"], nullptr);
    EXPECT_EQ(json[1]["outcome"], "not started");
    EXPECT_EQ(json[1]["web_page_sha256"], nullptr);
    EXPECT_EQ(ResultTable(results), "\n"
                                    "address          revision  web-page image  program image  "
                                    "verified  result             seconds\n"
                                    "127.000.000.002  171       pagesV1.bin     -              "
                                    "-         Update successful      1.5\n"
                                    "127.000.000.003  -         -               -              "
                                    "-         Not started            0.0\n");
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
    const std::string units = temp.Write("units.txt", {'1', '2', '7'});
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
        // The run's own inputs, named another way.
        {temp.Path() + "." + d + "units.txt", &typeid(Exception),
         temp.Path() + "." + d + "units.txt is " + units + ", which the run reads"},
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
            EXPECT_NO_THROW(CheckResultsFile(row.path, images, {units, ""}));
            continue;
        }
        ExpectFailure(
            [&] {
                CheckResultsFile(row.path, images, {units, ""});
            },
            *row.type, row.message);
        // A Windows pipe of the tests takes one client, the check's.
        if (*row.type == typeid(EFOpenError) && kTestPlatform == TTestPlatform::tpPosix) {
            ExpectFailure([&] { WriteResultsFile(row.path, {}); }, *row.type, row.message);
        }
    }
    EXPECT_EQ(Text(kept), "old");
    EXPECT_FALSE(fs::exists(temp.Path() + "new.json"));
}
