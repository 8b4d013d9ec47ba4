// The loader's logic through its window operations: Connect against a
// simulated unit, the folder scan on real folders, the upload sequence with
// real HTTP and TFTP on loopback. Each test that needs the unit's fixed
// ports has an address of its own (127.0.0.80 to 89, 97 and 98, 127.0.17.7),
// so tests may run in parallel.
// What only one platform can set up (a misbehaving HTTP peer in-process, FIFOs
// and links, Windows' sharing modes) is in LoaderPosix_test.cpp and
// LoaderWindows_test.cpp.
#include "app/Loader.h"

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <thread>

#include "runtime/Format.h"
#include "runtime/Sha256.h"
#include "tests/app/LoaderRig.h"
#include "tests/support/ImageFolder.h"
#include "tests/support/Platform.h"
#include "tools/unit-sim/UnitSim.h"

TEST(ErrorBoxText, AddsAPeriodOnlyAfterCharactersThatSortAfterIt) {
    EXPECT_EQ(ErrorBoxText("File access denied"), "File access denied.");
    EXPECT_EQ(ErrorBoxText("I/O error 21"), "I/O error 21.");
    EXPECT_EQ(ErrorBoxText("Done."), "Done.");
    EXPECT_EQ(ErrorBoxText("ends in a dash-"), "ends in a dash-");
    EXPECT_EQ(ErrorBoxText(""), "");
}

// --- Connect -------------------------------------------------------------------

TEST(Connect, ReadsTheRevisionFromTheHomePage) {
    TUnitSim unit(UnitAt("127.0.0.80"));
    unit.Start();
    struct Row {
        std::string page;
        Lines lines;
        std::string error;
        int revision;
    };
    const std::string unable = "Unable to Connect to 127.000.000.080";
    const std::vector<Row> rows = {
        {Marker("171"), {"Connected, H/W revision 171"}, "", 171},
        {Marker("0"), {unable}, "", 0},
        {Marker("427"), {"Connected, H/W revision 171"}, "", 171},
        {Marker("-85"), {"Connected, H/W revision 171"}, "", 171},
        {Marker("256"), {unable}, "", 0},
        {Marker("$1F"), {"Connected, H/W revision 31"}, "", 31},
        {Marker("$FFFFFFAB"), {"Connected, H/W revision 171"}, "", 171},
        {Marker(" 12"), {"Connected, H/W revision 12"}, "", 12},
        {Marker("12 "), {}, "'12 ' is not a valid integer value.", -1},
        {Marker(""), {}, "'' is not a valid integer value.", -1},
        {Marker("5") + Marker("171"), {"Connected, H/W revision 5"}, "", 5},
        {"<script>var g_HwId=\"171\";</script>", {unable}, "", 0},
        {"no marker at all", {unable}, "", 0},
        // No closing quote: the revision may be cut short, so there is none.
        {"<p>g_HwId = \"171", {unable}, "", 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.page);
        unit.SetHomePage(row.page);
        TRig rig("127.000.000.080");
        rig.Loader.HardwareRevision = 99; // a failure must leave it as it was
        rig.Loader.connectbutClick();
        EXPECT_EQ(rig.Window.Lines, row.lines);
        // The outcome says the same, and why a unit was not found.
        ASSERT_EQ(rig.Window.Outcomes.size(), 1u);
        const TRunOutcome& outcome = rig.Window.Outcomes[0];
        EXPECT_EQ(outcome.Kind, TRunKind::rkConnect);
        EXPECT_EQ(outcome.Succeeded(), row.revision > 0);
        EXPECT_EQ(outcome.Reason.empty(), row.revision > 0) << outcome.Reason;
        if (row.revision != 0) {
            EXPECT_EQ(outcome.Step, row.revision > 0 ? TRunStep::spDone : TRunStep::spConnect);
        }
        if (row.error.empty()) {
            EXPECT_TRUE(rig.Window.Errors.empty());
            EXPECT_EQ(rig.Loader.HardwareRevision, row.revision);
            EXPECT_EQ(rig.Window.GroupVisible, row.revision != 0);
            // The empty folder edit was set to the program's folder.
            EXPECT_EQ(rig.Window.DirEdit, rig.Window.Folder);
        } else {
            EXPECT_EQ(rig.Window.Errors, Lines{row.error});
            EXPECT_EQ(outcome.Reason + ".", row.error);
            EXPECT_EQ(rig.Loader.HardwareRevision, 99);
            EXPECT_TRUE(rig.Window.DirEdit.empty()); // no scan ran
        }
        EXPECT_EQ(rig.Window.BusyChanges, (std::vector<bool>{true, false}));
    }
    // The application title is the agent of every request.
    for (const std::string& agent : unit.UserAgents())
        EXPECT_EQ(agent, "Tessik TFTP Loader");
}

TEST(Connect, ACancelDuringTheFetchEndsItWithoutALine) {
    TUnitSim unit(UnitAt("127.0.0.97"));
    unit.Start();
    TRig rig("127.000.000.097");
    // The HTTP layer pumps while the request runs; the window closes meanwhile.
    rig.Window.OnPump = [&rig] { rig.Loader.Cancel(); };
    rig.Loader.connectbutClick();
    EXPECT_GT(rig.Window.Pumps, 0);
    EXPECT_TRUE(rig.Window.Lines.empty());
    EXPECT_TRUE(rig.Window.Errors.empty());
    EXPECT_EQ(rig.Loader.HardwareRevision, 0);
    EXPECT_EQ(rig.Window.BusyChanges, (std::vector<bool>{true, false}));
    ASSERT_EQ(rig.Window.Outcomes.size(), 1u);
    EXPECT_EQ(rig.Window.Outcomes[0].Result, TRunResult::rrCancelled);
}

TEST(Connect, NoUnitLogsTheAddressReadAgainAndScansAnyway) {
    TTempFolder folder;
    folder.Write("prog.bin", ImageBytes(false, 1, 100));
    TRig rig("127.000.000.089"); // nothing listens there
    rig.Window.DirEdit = folder.Path();
    rig.Window.GroupVisible = true;
    rig.Loader.connectbutClick();
    EXPECT_EQ(rig.Window.Lines, Lines{"Unable to Connect to 127.000.000.089"});
    EXPECT_FALSE(rig.Window.GroupVisible);
    EXPECT_EQ(rig.Window.List(TImageList::ilPrograms), Lines{"prog.bin"});
    EXPECT_TRUE(rig.Window.Errors.empty());
    // Why there is no unit reaches the trace and the outcome.
    ASSERT_EQ(rig.Window.Outcomes.size(), 1u);
    const std::string reason = rig.Window.Outcomes[0].Reason;
    EXPECT_FALSE(reason.empty());
    EXPECT_EQ(rig.Window.Traces, Lines{"GET http://127.000.000.089: " + reason});
}

// --- Folder scan ---------------------------------------------------------------

TEST(FolderScan, ClassifiesEachFileByItsHeaderAndTheRevisionsTag) {
    enum TWhere { Web, Program, Nowhere };
    struct Row {
        std::string file;
        bool magic;
        std::uint8_t byte6;
        std::uint8_t revision;
        TWhere where;
    };
    const std::vector<Row> rows = {
        // The tag counts in the file's name only: the folder's path is the
        // same for every file of the scan.
        {"IMAGES/V1/pages.bin", true, 0, 171, Nowhere},
        {"IMAGES/V1/pages.bin", true, 0, 5, Nowhere},
        {"DEV1-images/pagesV4.bin", true, 0, 171, Nowhere},
        {"DEV1-images/pagesV4.bin", true, 0, 5, Web},
        {"IMAGES/pagesV4.bin", true, 0, 5, Web},
        {"IMAGES/pagesV4.bin", true, 0, 0, Web},
        {"IMAGES/pagesV4.bin", true, 0, 171, Nowhere},
        {"images/pages_v1.bin", true, 1, 171, Web}, // small letters; byte 6 ignored
        {"pages.bin", true, 1, 171, Nowhere},
        {"PROG.BIN", false, 1, 171, Program}, // extension in capitals
        {"prog.Bin", false, 73, 5, Program},
        {"prog.bin", false, 255, 5, Program},
        {"prog.bin", false, 0, 5, Nowhere},
        {".hidden.bin", false, 1, 5, Program}, // hidden files count
        {"prog.bin.txt", false, 1, 5, Nowhere},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.file + " revision " + std::to_string(row.revision));
        TTempFolder folder;
        folder.Write(row.file, ImageBytes(row.magic, row.byte6, 64));
        const std::string dir =
            (std::filesystem::path(folder.Path() + row.file).parent_path()).string();
        TRig rig("127.000.000.089");
        rig.Loader.HardwareRevision = row.revision;
        rig.Window.SetDirEditText(dir);
        const std::string name = std::filesystem::path(row.file).filename().string();
        EXPECT_EQ(rig.Window.List(TImageList::ilWebPages),
                  row.where == Web ? Lines{name} : Lines{});
        EXPECT_EQ(rig.Window.List(TImageList::ilPrograms),
                  row.where == Program ? Lines{name} : Lines{});
        EXPECT_EQ(rig.Window.Index(TImageList::ilWebPages), row.where == Web ? 0 : -1);
        EXPECT_EQ(rig.Window.Index(TImageList::ilPrograms), row.where == Program ? 0 : -1);
        EXPECT_EQ(rig.Loader.ImageFolder, dir + PathDelim);
        EXPECT_TRUE(rig.Window.Errors.empty());
        // The scan is no run: the user typing the folder keeps every control.
        EXPECT_TRUE(rig.Window.BusyChanges.empty());
    }
}

// The lists come in one order on every platform, whatever the file system's
// enumeration: by name in capitals, as Windows sorts them, so the first
// entries (what Upload sends when nothing is picked) are the same everywhere.
TEST(FolderScan, SkipsDirectoriesAndListsByNameInCapitals) {
    TTempFolder folder;
    std::filesystem::create_directories(folder.Path() + "old.bin");
    // Written in an order of their own; "_" sorts after the letters in capitals.
    for (const char* name : {"b.bin", "_z.bin", "a_1.bin", "A.bin", "fw_0010.bin", "FW_0009.bin"})
        folder.Write(name, ImageBytes(false, 1, 16));
    if (kTestPlatform == TTestPlatform::tpPosix)
        folder.Write("a.bin", ImageBytes(false, 2, 16)); // the same name in small letters
    folder.Write("pagesV4.bin", ImageBytes(true, 0, 16));
    TRig rig("127.000.000.089");
    rig.Window.SetDirEditText(folder.Path());
    Lines expected = {"A.bin", "a_1.bin", "b.bin", "FW_0009.bin", "fw_0010.bin", "_z.bin"};
    if (kTestPlatform == TTestPlatform::tpPosix)
        expected.insert(expected.begin() + 1, "a.bin");
    EXPECT_EQ(rig.Window.List(TImageList::ilPrograms), expected);
    EXPECT_EQ(rig.Window.List(TImageList::ilWebPages), Lines{"pagesV4.bin"});
    EXPECT_EQ(rig.Window.Index(TImageList::ilPrograms), 0);
    EXPECT_EQ(rig.Window.Index(TImageList::ilWebPages), 0);
    EXPECT_TRUE(rig.Window.Errors.empty());
}

TEST(FolderScan, AFolderWithAndWithoutItsSlashGivesTheSameResult) {
    TTempFolder folder;
    folder.Write("prog.bin", ImageBytes(false, 1, 16));
    for (const std::string& text :
         {folder.Path(), folder.Path().substr(0, folder.Path().size() - 1)}) {
        SCOPED_TRACE(text);
        TRig rig("127.000.000.089");
        rig.Window.SetDirEditText(text);
        EXPECT_EQ(rig.Loader.ImageFolder, folder.Path());
        EXPECT_EQ(rig.Window.List(TImageList::ilPrograms), Lines{"prog.bin"});
    }
}

TEST(FolderScan, NoFolderEmptiesTheListsAndKeepsTheImageFolder) {
    TTempFolder folder;
    folder.Write("prog.bin", ImageBytes(false, 1, 16));
    TRig rig("127.000.000.089");
    rig.Window.SetDirEditText(folder.Path());
    rig.Window.SetDirEditText(folder.Path() + "missing");
    EXPECT_TRUE(rig.Window.List(TImageList::ilPrograms).empty());
    EXPECT_EQ(rig.Window.Index(TImageList::ilPrograms), -1);
    EXPECT_EQ(rig.Loader.ImageFolder, folder.Path());
    EXPECT_TRUE(rig.Window.Errors.empty());
}

// --- Waits ---------------------------------------------------------------------

TEST(PumpDelay, WaitsForMessagesInsteadOfSpinning) {
    TRig rig("127.000.000.089");
    const auto start = steady_clock::now();
    rig.Loader.PumpDelay(1.0);
    const auto elapsed = steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::seconds(1));
    EXPECT_LT(elapsed, std::chrono::seconds(5));
    // A handful of blocking waits, not a busy loop of non-blocking pumps.
    EXPECT_LE(rig.Window.TimedPumps, 5);
    EXPECT_EQ(rig.Window.Pumps, 0);
}

// --- Upload sequence -----------------------------------------------------------

namespace {

/// A unit, its images and a loader connected to it.
struct TUploadRig : TRig {
    TTempFolder Folder;
    TUnitSim Unit;
    std::vector<std::uint8_t> Pages, Program;
    std::string PagesName;

    TUploadRig(const std::string& address, const std::string& padded, int revision,
               const std::function<void(TUnitSimSettings&)>& faults = {})
        : TRig(padded), Unit([&] {
              TUnitSimSettings s = UnitAt(address);
              s.Revision = std::to_string(revision);
              if (faults)
                  faults(s);
              return s;
          }()) {
        Unit.Start();
        PagesName = revision == 171 ? "pagesV1.bin" : "pagesV4.bin";
        Pages = ImageBytes(true, 0, 3000);
        Program = ImageBytes(false, 1, 5000);
        Folder.Write(PagesName, Pages);
        Folder.Write("prog.bin", Program);
        Window.DirEdit = Folder.Path();
        Loader.connectbutClick();
    }
};

} // namespace

TEST(Upload, SendsBothImagesUnderTheNamesOfTheRevision) {
    for (const int revision : {171, 5}) {
        SCOPED_TRACE(revision);
        TUploadRig rig("127.0.0.81", "127.000.000.081", revision);
        rig.Window.BusyChanges.clear();
        rig.Window.Statuses.clear();
        // The run keeps to the unit it started with, whatever the field says.
        rig.Window.OnPump = [&rig] { rig.Window.Address = "127.000.000.089"; };
        rig.Loader.uploadbutClick();
        // The Connect line is gone: each run starts with an empty log.
        EXPECT_EQ(
            rig.Window.Lines,
            (Lines{"Rebooting unit", "Uploading Web page file " + rig.PagesName,
                   "Web pages transfered", "Rebooting unit", "Uploading Program file prog.bin",
                   "Program transfered", "Update successful"}));
        const std::string suffix = revision == 171 ? ".bin" : "2.bin";
        const auto images = rig.Unit.Images();
        ASSERT_EQ(images.size(), 2u);
        EXPECT_EQ(images[0].RemoteName, "rrpages" + suffix);
        EXPECT_EQ(FileBytes(images[0].Path), rig.Pages);
        EXPECT_EQ(images[1].RemoteName, "rrboot" + suffix);
        EXPECT_EQ(FileBytes(images[1].Path), rig.Program);

        const auto requests = rig.Unit.Requests();
        const auto tftpOn = std::find(requests.begin(), requests.end(), "/index2.htm?tftpp=69");
        ASSERT_NE(tftpOn, requests.end());
        ASSERT_NE(tftpOn + 1, requests.end());
        EXPECT_EQ(*(tftpOn + 1), "/index2.htm?REBOOT");

        const auto& statuses = rig.Window.Statuses;
        EXPECT_EQ(statuses.front(), "Wait");
        EXPECT_NE(std::find(statuses.begin(), statuses.end(), "Connected."), statuses.end());
        EXPECT_NE(std::find(statuses.begin(), statuses.end(), "3000"), statuses.end());
        EXPECT_EQ(statuses.back(), "Done");
        // The digest of what went out is the digest of what the unit stored.
        const std::string pagesSha = FileSha256(images[0].Path);
        const std::string programSha = FileSha256(images[1].Path);
        EXPECT_EQ(
            rig.Window.Traces,
            (Lines{"2  Connected.", "Done",
                   "SHA-256 " + pagesSha + " sent as rrpages" + suffix + " from " + rig.PagesName,
                   "2  Connected.", "Done",
                   "SHA-256 " + programSha + " sent as rrboot" + suffix + " from prog.bin"}));
        // Each transfer's progress starts with its size, counts the bytes as
        // its blocks go out, up to the last, and ends.
        using P = std::pair<std::int64_t, std::int64_t>;
        const std::vector<P> progress = {
            {0, 3000}, {1468, 3000}, {2936, 3000}, {3000, 3000}, {0, 0}, // the web pages
            {0, 5000}, {1468, 5000}, {2936, 5000}, {4404, 5000}, {5000, 5000}, {0, 0}};
        EXPECT_EQ(rig.Window.Progress, progress);
        EXPECT_EQ(rig.Window.BusyChanges, (std::vector<bool>{true, false}));
        ASSERT_EQ(rig.Window.Outcomes.size(), 2u);
        const TRunOutcome& outcome = rig.Window.Outcomes[1];
        EXPECT_EQ(outcome.Kind, TRunKind::rkUpload);
        EXPECT_EQ(outcome.Step, TRunStep::spDone);
        EXPECT_TRUE(outcome.Succeeded());
        EXPECT_EQ(outcome.Reason, "");
        EXPECT_EQ(outcome.PagesSha256, pagesSha);
        EXPECT_EQ(outcome.ProgramSha256, programSha);
        EXPECT_EQ(outcome.Verified, std::nullopt); // not asked
    }
}

TEST(Upload, NoSelectionStillRebootsAndWaitsTwiceAndRefusesNestedRuns) {
    TUploadRig rig("127.0.0.82", "127.000.000.082", 171);
    rig.Window.Index(TImageList::ilWebPages) = -1;
    rig.Window.Index(TImageList::ilPrograms) = -1;
    // Clicks that arrive while the run pumps must not start a second run.
    rig.Window.OnPump = [&rig] {
        rig.Loader.connectbutClick();
        rig.Loader.uploadbutClick();
    };
    rig.Window.BusyChanges.clear();
    rig.Loader.uploadbutClick();
    EXPECT_EQ(rig.Window.Lines, (Lines{"Rebooting unit", "Rebooting unit", "Update successful"}));
    EXPECT_TRUE(rig.Unit.Images().empty());
    const auto requests = rig.Unit.Requests();
    EXPECT_EQ(std::count(requests.begin(), requests.end(), "/index2.htm?REBOOT"), 1);
    // One home page for Connect, then at least one poll for each wait.
    EXPECT_GE(std::count(requests.begin(), requests.end(), "/"), 3);
    EXPECT_EQ(rig.Window.BusyChanges, (std::vector<bool>{true, false}));
}

TEST(Upload, AFailedWebPageTransferEndsTheRunAndIsTraced) {
    TUploadRig rig("127.0.0.83", "127.000.000.083", 171, [](TUnitSimSettings& s) {
        s.ErrorCode = 3;
        s.ErrorText = "Disk full";
    });
    rig.Loader.uploadbutClick();
    EXPECT_EQ(rig.Window.Lines, (Lines{"Rebooting unit", "Uploading Web page file pagesV1.bin",
                                       "Web pages transfer error"}));
    EXPECT_TRUE(rig.Window.Errors.empty());
    const auto& traces = rig.Window.Traces;
    EXPECT_TRUE(std::any_of(traces.begin(), traces.end(), [](const std::string& t) {
        return t.find("Disk full") != std::string::npos;
    })) << ::testing::PrintToString(traces);
}

// A chosen image that is gone when its turn comes (deleted, or a folder of its
// name in its place) is no image sent: the run fails at that step, and the
// unit gets neither it nor the program after it.
TEST(Upload, AChosenImageThatVanishedFailsTheRunAtItsStep) {
    for (const bool folder : {false, true}) {
        SCOPED_TRACE(folder ? "a folder in its place" : "deleted");
        TUploadRig rig("127.0.0.84", "127.000.000.084", 171);
        const std::string path = rig.Folder.Path() + rig.PagesName;
        rig.Window.OnPump = [&] {
            // While the unit reboots, after the scan and the choice.
            if (std::filesystem::is_regular_file(path)) {
                std::filesystem::remove(path);
                if (folder)
                    std::filesystem::create_directory(path);
            }
        };
        rig.Loader.uploadbutClick();
        EXPECT_EQ(rig.Window.Lines, (Lines{"Rebooting unit", "Uploading Web page file pagesV1.bin",
                                           "Web pages transfer error"}));
        EXPECT_TRUE(rig.Unit.Images().empty());
        const TRunOutcome& outcome = rig.Window.Outcomes.back();
        EXPECT_EQ(outcome.Result, TRunResult::rrFailed);
        EXPECT_EQ(outcome.Step, TRunStep::spWebPages);
        EXPECT_EQ(outcome.Reason.rfind("Cannot open file", 0), 0u) << outcome.Reason;
    }
}

TEST(Upload, AUnitThatDoesNotComeBackEndsTheRunAtTheWaitLimit) {
    TUploadRig rig("127.0.0.85", "127.000.000.085", 171,
                   [](TUnitSimSettings& s) { s.NeverComesBack = true; });
    rig.Loader.WaitLimit = std::chrono::milliseconds(1500);
    const auto start = steady_clock::now();
    rig.Loader.uploadbutClick();
    const auto elapsed = steady_clock::now() - start;
    EXPECT_EQ(rig.Window.Lines, (Lines{"Rebooting unit", "Unit did not come back"}));
    EXPECT_GE(elapsed, std::chrono::milliseconds(1500));
    EXPECT_LT(elapsed, std::chrono::seconds(20));
    EXPECT_TRUE(rig.Unit.Images().empty());
    // The seconds waited show while it goes on.
    const auto& statuses = rig.Window.Statuses;
    EXPECT_NE(std::find(statuses.begin(), statuses.end(), "Wait 1 s of 1.5"), statuses.end())
        << ::testing::PrintToString(statuses);
    const TRunOutcome& outcome = rig.Window.Outcomes.back();
    EXPECT_EQ(outcome.Step, TRunStep::spFirstWait);
    EXPECT_EQ(outcome.Result, TRunResult::rrFailed);
    EXPECT_EQ(outcome.Reason.rfind("the unit did not report hardware revision 171 within 1.5 s", 0),
              0u)
        << outcome.Reason;
}

// Asked to, the run waits for the unit after its program, and succeeds only
// once it answers: the outcome says whether it came back.
TEST(Upload, VerifyTellsWhetherTheUnitCameBackAfterItsProgram) {
    for (const bool dies : {false, true}) {
        SCOPED_TRACE(dies);
        TUploadRig rig(dies ? "127.0.0.116" : "127.0.0.117",
                       dies ? "127.000.000.116" : "127.000.000.117", 171,
                       [dies](TUnitSimSettings& s) { s.DiesWithProgram = dies; });
        rig.Loader.Verify = true;
        rig.Loader.WaitLimit = std::chrono::milliseconds(1500);
        rig.Loader.uploadbutClick();
        const TRunOutcome& outcome = rig.Window.Outcomes.back();
        EXPECT_EQ(outcome.Verified, !dies);
        EXPECT_EQ(outcome.Succeeded(), !dies);
        EXPECT_EQ(outcome.Step, dies ? TRunStep::spVerify : TRunStep::spDone);
        EXPECT_EQ(rig.Window.Lines.back(), dies ? "Unit did not come back" : "Update successful");
        EXPECT_EQ(
            OutcomeLine(outcome).rfind(dies ? "Failed at verify: Unit did not come back (" : "", 0),
            0u)
            << outcome.Reason;
    }
}

// Upload talks to the unit that Connect found, and to no other: a field
// changed since, or a Connect that found none, sends no command anywhere.
TEST(Upload, OnlyTheUnitConnectedIsSentCommands) {
    TUploadRig rig("127.0.0.118", "127.000.000.118", 171);
    TUnitSim other(UnitAt("127.0.0.119"));
    other.Start();
    rig.Window.Address = "127.000.000.119";
    rig.Loader.uploadbutClick();
    ASSERT_EQ(rig.Window.Errors.size(), 1u);
    EXPECT_EQ(rig.Window.Errors[0], "The address is not that of the unit connected "
                                    "(127.000.000.118): Connect to 127.000.000.119 first.");
    EXPECT_EQ(rig.Window.Outcomes.back().Step, TRunStep::spImageCheck);
    EXPECT_EQ(other.Requests(), Lines{});
    other.Stop();
    rig.Loader.connectbutClick(); // finds no unit at 127.0.0.119
    EXPECT_EQ(rig.Loader.ConnectedAddress(), "");
    rig.Window.Address = "127.000.000.118";
    rig.Loader.uploadbutClick();
    ASSERT_EQ(rig.Window.Errors.size(), 2u);
    EXPECT_EQ(rig.Window.Errors[1], "No unit is connected: Connect to 127.000.000.118 first.");
    const auto requests = rig.Unit.Requests();
    EXPECT_EQ(std::count(requests.begin(), requests.end(), "/index2.htm?REBOOT"), 0);
}

// The run's time limit ends it wherever it is, the wait included, and a
// Cancel of the run ends that run only: the next one runs.
TEST(Upload, TheTimeLimitAndACancelOfTheRunEndItAtTheStepReached) {
    TUploadRig rig("127.0.17.7", "127.000.017.007", 171,
                   [](TUnitSimSettings& s) { s.NeverComesBack = true; });
    rig.Loader.SetTimeLimit(std::chrono::milliseconds(2500));
    const auto start = steady_clock::now();
    rig.Loader.uploadbutClick();
    EXPECT_LT(steady_clock::now() - start, std::chrono::seconds(6));
    EXPECT_EQ(rig.Window.Lines, Lines{"Rebooting unit"});
    TRunOutcome outcome = rig.Window.Outcomes.back();
    EXPECT_EQ(outcome.Step, TRunStep::spFirstWait);
    EXPECT_EQ(outcome.Result, TRunResult::rrTimeLimit);
    EXPECT_EQ(OutcomeLine(outcome),
              "Stopped at wait after the reboot: time limit of 2.5 s reached");

    rig.Loader.SetTimeLimit(std::chrono::milliseconds::zero());
    rig.Window.OnPump = [&rig] {
        if (rig.Window.Statuses.back() == "Wait")
            rig.Loader.CancelRun();
    };
    rig.Loader.uploadbutClick();
    outcome = rig.Window.Outcomes.back();
    EXPECT_EQ(outcome.Result, TRunResult::rrCancelled);
    EXPECT_EQ(OutcomeLine(outcome), "Cancelled at wait after the reboot");
    // Only that run: the next Connect runs and finds the unit gone.
    rig.Window.OnPump = nullptr;
    rig.Loader.connectbutClick();
    EXPECT_FALSE(rig.Loader.Cancelled());
    EXPECT_EQ(rig.Window.Outcomes.back().Kind, TRunKind::rkConnect);
    EXPECT_EQ(rig.Window.Outcomes.back().Result, TRunResult::rrFailed);
}

TEST(Upload, ACancelEndsAWaitWithinASecondWithoutFurtherLines) {
    TUploadRig rig("127.0.0.86", "127.000.000.086", 171,
                   [](TUnitSimSettings& s) { s.NeverComesBack = true; });
    steady_clock::time_point cancelledAt{};
    rig.Window.OnPump = [&] {
        if (rig.Window.TimedPumps == 3 && !rig.Loader.Cancelled()) {
            cancelledAt = steady_clock::now();
            rig.Loader.Cancel();
        }
    };
    rig.Window.BusyChanges.clear();
    rig.Loader.uploadbutClick();
    ASSERT_NE(cancelledAt, steady_clock::time_point{});
    EXPECT_LT(steady_clock::now() - cancelledAt, std::chrono::seconds(1));
    EXPECT_EQ(rig.Window.Lines, Lines{"Rebooting unit"});
    EXPECT_TRUE(rig.Window.Errors.empty());
    EXPECT_EQ(rig.Window.BusyChanges, (std::vector<bool>{true, false}));
    EXPECT_EQ(rig.Window.Outcomes.back().Result, TRunResult::rrCancelled);
    EXPECT_EQ(rig.Window.Outcomes.back().Step, TRunStep::spFirstWait);
}

TEST(Upload, ACancelEndsATransferAtItsNextNotificationAndTellsTheUnit) {
    // Blocks of 512 bytes: the cancel comes with the first one's notification,
    // most of the image still to send.
    TUploadRig rig("127.0.0.87", "127.000.000.087", 171,
                   [](TUnitSimSettings& s) { s.Oack = TOackMode::omIgnoreOptions; });
    rig.Window.OnPump = [&rig] {
        const auto& s = rig.Window.Statuses;
        if (!s.empty() && s.back() == "512")
            rig.Loader.Cancel();
    };
    rig.Loader.uploadbutClick();
    EXPECT_EQ(rig.Window.Lines, (Lines{"Rebooting unit", "Uploading Web page file pagesV1.bin"}));
    EXPECT_TRUE(rig.Window.Errors.empty());
    // The unit's side of the loopback takes its moment to read the ERROR.
    for (int i = 0; i < 50 && rig.Unit.ClientErrors().empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(rig.Unit.ClientErrors(), Lines{"0 Transfer cancelled"});
    EXPECT_TRUE(rig.Unit.Images().empty());
    // The transfer's socket was released on the way out.
    EXPECT_FALSE(rig.Loader.IdTrivialFTP1.Active());
}

TEST(TftpPutFile, FollowsTheUnitsAnswerToTheOptionsAndHearsOnlyPort69) {
    struct Row {
        std::string name;
        std::function<void(TUnitSimSettings&)> fault;
        std::string remoteName;
        bool ok;
        unsigned blockSize;
        std::string trace; // the failure's message: the trace and the last status
    };
    const std::vector<Row> rows = {
        {"options granted", {}, "rrboot.bin", true, 1468, ""},
        {"options ignored", [](TUnitSimSettings& s) { s.Oack = TOackMode::omIgnoreOptions; },
         "rrboot.bin", true, 512, ""},
        {"smaller block granted",
         [](TUnitSimSettings& s) {
             s.Oack = TOackMode::omForceBlockSize;
             s.ForcedBlockSize = 600;
         },
         "rrboot.bin", true, 600, ""},
        {"name the unit does not take", {}, "other.bin", false, 0, "Access violation"},
        // The endpoint is connected to port 69: answers from elsewhere never arrive.
        {"answers from another port", [](TUnitSimSettings& s) { s.ReplyFromOtherPort = true; },
         "rrboot.bin", false, 0, "Timeout"},
    };
    TTempFolder folder;
    const auto bytes = ImageBytes(false, 1, 5000);
    const std::string path = folder.Write("prog.bin", bytes);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TUnitSimSettings settings = UnitAt("127.0.0.88");
        settings.TftpEnabled = true;
        if (row.fault)
            row.fault(settings);
        TUnitSim unit(settings);
        unit.Start();
        TRig rig("127.000.000.088");
        const TTransferResult sent =
            rig.Loader.TftpPutFile(rig.Window.Address, 69, path, row.remoteName);
        EXPECT_EQ(static_cast<bool>(sent), row.ok);
        const auto images = unit.Images();
        if (row.ok) {
            ASSERT_EQ(images.size(), 1u);
            EXPECT_EQ(FileBytes(images[0].Path), bytes);
            EXPECT_EQ(sent.Sha256, FileSha256(path));
            EXPECT_EQ(images[0].BlockSize, row.blockSize);
        } else {
            EXPECT_TRUE(images.empty());
            const auto& traces = rig.Window.Traces;
            EXPECT_NE(std::find(traces.begin(), traces.end(), row.trace), traces.end())
                << ::testing::PrintToString(traces);
            // The status label ends on the reason, not on the transfer's "Done".
            ASSERT_FALSE(rig.Window.Statuses.empty());
            EXPECT_EQ(rig.Window.Statuses.back(), row.trace);
            EXPECT_EQ(sent.Failure, row.trace);
            EXPECT_EQ(sent.Sha256, "");
        }
    }
}
