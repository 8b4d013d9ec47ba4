// Several units in one run of tftp-loader-cli, end to end against simulated
// units on 127.0.14.2 to 127.0.14.9, 127.0.18.20 and 127.0.19.2 to
// 127.0.19.3; and the record format of a unit's report, whose escapes keep
// each record one line.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sstream>

#include "app/cli/Report.h"
#include "runtime/Process.h"
#include "runtime/Sha256.h"
#include "tests/app/LoaderRig.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ImageFolder.h"
#include "tests/support/Platform.h"
#include "tools/unit-sim/UnitSim.h"

namespace {

using Clock = std::chrono::steady_clock;

struct TFleetRun {
    int Status = -1;
    std::string Out, Err;
    /// From the start to the end of the run, and from the Ctrl-C to the end.
    Clock::duration Took{}, AfterInterrupt{};
};

/// Runs tftp-loader-cli with args, bounded by 120 s. With interruptAt, the
/// signals (Ctrl-C by default) are sent, one after the other, once
/// interruptAt says yes to the output so far.
TFleetRun RunFleetCli(const Lines& args,
                      const std::function<bool(const std::string&)>& interruptAt = nullptr,
                      const std::vector<int>& signals = {2}) {
    TFleetRun run;
    TChildProcess cli(LOADER_CLI_PATH, args);
    const auto start = Clock::now();
    Clock::time_point interrupted{};
    for (;;) {
        WaitForChildOutput(std::vector<TChildProcess*>{&cli}, std::chrono::milliseconds(50));
        cli.Read(TChildStream::chOutput, run.Out);
        cli.Read(TChildStream::chError, run.Err);
        if (interruptAt && interrupted == Clock::time_point{} && interruptAt(run.Out)) {
            interrupted = Clock::now();
            for (const int signal : signals)
                SignalChild(cli, signal);
        }
        if (Clock::now() - start > std::chrono::seconds(120))
            cli.Kill();
        const auto status = cli.Ended();
        if (status && !cli.IsOpen(TChildStream::chOutput) && !cli.IsOpen(TChildStream::chError)) {
            run.Status = *status;
            break;
        }
    }
    run.Took = Clock::now() - start;
    if (interrupted != Clock::time_point{})
        run.AfterInterrupt = Clock::now() - interrupted;
    return run;
}

/// Runs tftp-loader-cli with args under bash's "ulimit limit" (POSIX only),
/// bounded by 60 s.
TFleetRun RunFleetCliUnder(const std::string& limit, const Lines& args) {
    Lines words = {"-c", "ulimit " + limit + " && exec \"$0\" \"$@\"", LOADER_CLI_PATH};
    words.insert(words.end(), args.begin(), args.end());
    TChildProcess shell("/bin/bash", words);
    TFleetRun run;
    if (ReadUntilEnd(shell, std::chrono::seconds(60), run.Out, run.Err))
        run.Status = *shell.Ended();
    else
        shell.Kill();
    return run;
}

/// The lines of text that start with prefix, without it and without the CR
/// that a Windows program's text mode puts before the line feed.
Lines LinesOf(const std::string& text, const std::string& prefix) {
    Lines lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.ends_with('\r'))
            line.pop_back();
        if (line.starts_with(prefix))
            lines.push_back(line.substr(prefix.size()));
    }
    return lines;
}

/// Started simulated units, one at prefix + last for each of lasts, each
/// storing into its own folder stores + last; adjust sets each up first.
std::vector<std::unique_ptr<TUnitSim>>
StartUnits(const std::string& prefix, const Lines& lasts, const TTempFolder& stores,
           const std::function<void(const std::string&, TUnitSimSettings&)>& adjust = nullptr) {
    std::vector<std::unique_ptr<TUnitSim>> units;
    for (const std::string& last : lasts) {
        auto settings = UnitAt(prefix + last, stores.Path() + last + "/");
        std::filesystem::create_directories(settings.Store);
        if (adjust)
            adjust(last, settings);
        units.push_back(std::make_unique<TUnitSim>(settings));
        units.back()->Start();
    }
    return units;
}

std::string WriteText(const TTempFolder& folder, const std::string& name, const std::string& text) {
    return folder.Write(name, std::vector<std::uint8_t>(text.begin(), text.end()));
}

std::string ReadText(const std::string& path) {
    const auto bytes = FileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

} // namespace

TEST(ReportLine, KeepsEveryTextOnOneLineAndGivesItBackWhole) {
    const std::string texts[] = {"Rebooting unit",
                                 "a\nforged line",
                                 "cr\r\\n not an escape",
                                 "ends in a backslash\\",
                                 "",
                                 std::string("after\0the NUL", 14),
                                 "\\0 is no NUL"};
    for (const std::string& text : texts) {
        SCOPED_TRACE(text);
        const std::string line = ReportLine(TReportKind::rcLog, text);
        ASSERT_EQ(std::count(line.begin(), line.end(), '\n'), 1);
        const auto record = ParseReportLine(line.substr(0, line.size() - 1));
        ASSERT_TRUE(record.has_value());
        EXPECT_EQ(record->Kind, TReportKind::rcLog);
        EXPECT_EQ(record->Text, text);
    }
    EXPECT_FALSE(ParseReportLine("Rebooting unit").has_value());
}

// Three units, two at a time, the second refusing every TFTP write: the other
// two get both images byte for byte, each unit's lines come in its own order,
// and the table and the JSON give each unit's result.
TEST(TftpLoaderCliFleet, UpdatesEveryUnitAndReportsTheOneThatFailed) {
    TImages images(171);
    TTempFolder stores, lists;
    auto units = StartUnits("127.0.14.", {"2", "3", "4"}, stores,
                            [](const std::string& last, TUnitSimSettings& settings) {
                                if (last == "3") {
                                    settings.ErrorCode = 2;
                                    settings.ErrorText = "Access violation";
                                }
                            });
    // A unit whose revision text holds a NUL: its error keeps what follows it.
    units.push_back(std::make_unique<TUnitSim>(UnitAt("127.0.17.2", stores.Path())));
    units.back()->Start();
    units.back()->SetHomePage(Marker(std::string("1\0x", 3)));
    const std::string list =
        WriteText(lists, "units.txt", "# rack\n\n127.0.14.3 # x\n127.0.14.4\r\n127.0.17.2\n");
    const std::string json = lists.Path() + "results.json";
    const TFleetRun run = RunFleetCli({"--address", "127.0.14.2", "--addresses", list, "--jobs",
                                       "2", "--folder", images.Folder.Path(), "--json", json});
    EXPECT_EQ(run.Status, 1) << run.Err;

    const Lines updated = {
        "Connected, H/W revision 171", "Rebooting unit",   "Uploading Web page file pagesV1.bin",
        "Web pages transfered",        "Rebooting unit",   "Uploading Program file prog.bin",
        "Program transfered",          "Update successful"};
    for (const char* last : {"2", "4"}) {
        SCOPED_TRACE(last);
        EXPECT_EQ(LinesOf(run.Out, std::string("127.000.014.00") + last + ": "), updated);
        EXPECT_EQ(FileBytes(stores.Path() + last + "/rrpages.bin"), images.Pages);
        EXPECT_EQ(FileBytes(stores.Path() + last + "/rrboot.bin"), images.Program);
    }
    EXPECT_EQ(LinesOf(run.Out, "127.000.014.003: "),
              (Lines{"Connected, H/W revision 171", "Rebooting unit",
                     "Uploading Web page file pagesV1.bin", "Web pages transfer error"}));
    EXPECT_TRUE(units[1]->Images().empty());

    const std::string refused = "Failed at web pages: Access violation";
    EXPECT_EQ(
        LinesOf(run.Out, "127.000.014.003  171       pagesV1.bin     prog.bin       -         ")
            .at(0)
            .substr(0, refused.size()),
        refused)
        << run.Out;
    const Lines nul = LinesOf(run.Out, "127.000.017.002  ");
    ASSERT_EQ(nul.size(), 1u) << run.Out;
    EXPECT_NE(nul[0].find("'1\\x00x' is not a valid integer value."), std::string::npos) << nul[0];
    const auto table = nlohmann::json::parse(std::ifstream(json));
    ASSERT_EQ(table.size(), 4u);
    EXPECT_EQ(table[3]["result"], std::string("'1") + '\0' + "x' is not a valid integer value.");
    EXPECT_EQ(table[3]["succeeded"], false);
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(table[i]["address"], "127.000.014.00" + std::to_string(i + 2));
        EXPECT_EQ(table[i]["revision"], 171);
        EXPECT_EQ(table[i]["web_page_image"], "pagesV1.bin");
        EXPECT_EQ(table[i]["program_image"], "prog.bin");
        EXPECT_EQ(table[i]["result"], i == 1 ? refused : "Update successful");
        EXPECT_EQ(table[i]["step"], i == 1 ? "web pages" : "done");
        EXPECT_EQ(table[i]["outcome"], i == 1 ? "failed" : "succeeded");
        EXPECT_EQ(table[i]["succeeded"], i != 1);
    }
}

// --verify in a fleet: the unit that comes back after its program image is
// verified, the one that dies with it is not and was not updated; each row
// gives the SHA-256 of the images as the unit stored them.
TEST(TftpLoaderCliFleet, VerifiesEachUnitAndGivesTheDigestsOfWhatWasSent) {
    TImages images(171);
    TTempFolder stores, lists;
    const auto units = StartUnits("127.0.19.", {"2", "3"}, stores,
                                  [](const std::string& last, TUnitSimSettings& settings) {
                                      settings.DiesWithProgram = last == "3";
                                  });
    const std::string json = lists.Path() + "results.json";
    const TFleetRun run =
        RunFleetCli({"--address", "127.0.19.2", "--address", "127.0.19.3", "--verify",
                     "--wait-limit", "3", "--folder", images.Folder.Path(), "--json", json});
    EXPECT_EQ(run.Status, 1) << run.Err;
    const auto table = nlohmann::json::parse(std::ifstream(json));
    ASSERT_EQ(table.size(), 2u);
    const std::string images_ = "  171       pagesV1.bin     prog.bin       ";
    for (const char* last : {"2", "3"}) {
        SCOPED_TRACE(last);
        const bool back = std::string(last) == "2";
        auto row = table[back ? 0 : 1]; // a copy: a missing field reads null
        EXPECT_EQ(row["verified"], back);
        EXPECT_EQ(row["succeeded"], back);
        EXPECT_EQ(row["step"], back ? "done" : "verify");
        EXPECT_EQ(row["web_page_sha256"], FileSha256(stores.Path() + last + "/rrpages.bin"));
        EXPECT_EQ(row["program_sha256"], FileSha256(stores.Path() + last + "/rrboot.bin"));
        const std::string result = back ? "Update successful" : "Failed at verify: Unit did not";
        EXPECT_EQ(row["result"].get<std::string>().rfind(result, 0), 0u) << row.dump();
        const Lines line = LinesOf(run.Out, std::string("127.000.019.00") + last + images_ +
                                                (back ? "yes       " : "no        ") + result);
        EXPECT_EQ(line.size(), 1u) << run.Out;
    }
}

// A folder and an image named beyond any code page: the program takes the
// folder from its command line whole, on its own and in a unit's run that a
// fleet starts, and writes the names as they are.
TEST(TftpLoaderCliFleet, AFolderNamedInAnyScriptListsAndUpdates) {
    TTempFolder temp, stores;
    const auto wide = [](const std::string& utf8) {
        return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
    };
    const std::string folder = temp.Path() + "Firmware Ünïcødé 版本";
    const std::string program = "Bild Ünï 版本.bin";
    std::filesystem::create_directory(wide(folder));
    const auto pages = ImageBytes(true, 0, 1500), image = ImageBytes(false, 1, 3000);
    for (const auto& [name, bytes] :
         {std::pair{std::string("pagesV1.bin"), pages}, std::pair{program, image}})
        std::ofstream(wide(folder + PathDelim + name), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    TUnitSim unit(UnitAt("127.0.18.20", stores.Path()));
    unit.Start();

    const TFleetRun list = RunFleetCli({"--address", "127.0.18.20", "--list", "--folder", folder});
    EXPECT_EQ(list.Status, 0) << list.Err;
    EXPECT_EQ(LinesOf(list.Out, ""),
              (Lines{"Connected, H/W revision 171", "web page image: pagesV1.bin",
                     "program image: " + program}));

    const std::string json = stores.Path() + "results.json";
    const TFleetRun fleet =
        RunFleetCli({"--address", "127.0.18.20", "--folder", folder, "--json", json});
    EXPECT_EQ(fleet.Status, 0) << fleet.Err;
    EXPECT_EQ(LinesOf(fleet.Out, "127.000.018.020: Uploading Program file "), Lines{program});
    EXPECT_EQ(FileBytes(stores.Path() + "rrboot.bin"), image);
    const auto table = nlohmann::json::parse(std::ifstream(json));
    ASSERT_EQ(table.size(), 1u);
    EXPECT_EQ(table[0]["program_image"], program);
}

// A list the fleet cannot take, or a results file it cannot write or that
// would be no regular file or replace an image, ends the run with status 2
// before anything is sent, naming where the fault is.
TEST(TftpLoaderCliFleet, RefusesABadAddressListBeforeAnyRequest) {
    TTempFolder store, lists;
    TImages images(171);
    TUnitSim unit(UnitAt("127.0.14.9", store.Path()));
    unit.Start();
    const std::string bad =
        WriteText(lists, "bad.txt", "# units\n127.0.14.9\n\n  # spare\n127.0.14.300\n");
    const std::string twice = WriteText(lists, "twice.txt", "127.0.14.9\n127.000.014.009\n");
    struct Row {
        Lines args;
        std::string error;
    };
    std::vector<Row> rows = {
        {{"--addresses", bad}, bad + " line 5: \"127.0.14.300\" is no address"},
        {{"--addresses", twice}, twice + " line 2: 127.000.014.009 is given twice"},
        {{"--addresses", lists.Path() + "none.txt"}, "Cannot open file"},
        {{"--address", "127.0.14.9", "--address", "127.0.14.8", "--jobs", "0"}, "--jobs"},
        {{"--address", "127.0.14.9", "--address", "127.0.14.8", "--list"}, "--list"},
        {{"--address", "127.0.14.9", "--json", lists.Path() + "no/such/folder.json"}, "--json"},
        {{"--address", "127.0.14.9", "--folder", images.Folder.Path(), "--json",
          images.Folder.Path() + "prog.bin"},
         "--json"},
    };
    // A pipe that nobody reads, which would have held up the run's end.
    const TSpecialFiles special(lists.Path());
    const auto pipe =
        std::find_if(special.Paths().begin(), special.Paths().end(), [](const std::string& path) {
            return path.find("pipe") != std::string::npos;
        });
    rows.push_back({{"--address", "127.0.14.9", "--json", *pipe}, "--json"});
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args.back());
        const TFleetRun run = RunFleetCli(row.args);
        EXPECT_EQ(run.Status, 2);
        EXPECT_NE(run.Err.find(row.error), std::string::npos) << run.Err;
    }
    EXPECT_TRUE(unit.Requests().empty());
    EXPECT_EQ(FileBytes(images.Folder.Path() + "prog.bin"), images.Program);
}

// Ctrl-C, SIGTERM or SIGHUP while the units are awaited after their reboot
// ends every running update within 2 s, with 128 and the signal's number; and
// so do two signals, the second of which ends the running updates at once.
// The table still shows every unit (the one that had ended, the ones
// cancelled at the step they had reached and the one never started), and so
// does the results file, which until then kept what it held; stderr says how
// each unit's update ended.
TEST(TftpLoaderCliFleet, EachSignalCancelsEveryRunningUpdateAndStillGivesTheTable) {
    if (const std::string why = CtrlCUnavailable(); !why.empty())
        GTEST_SKIP() << why;
    TImages images(171);
    TTempFolder stores, lists;
    const std::string json = lists.Path() + "results.json";
    for (const std::vector<int>& signals : std::vector<std::vector<int>>{{2}, {15}, {1}, {2, 15}}) {
        const int signal = signals.front();
        SCOPED_TRACE(::testing::PrintToString(signals));
        if (signals != std::vector<int>{2} && kTestPlatform == TTestPlatform::tpWindows)
            continue; // no program sends another a console's close
        // Units that reboot and stay down, fresh for each signal.
        std::vector<std::unique_ptr<TUnitSim>> units;
        for (const char* address : {"127.0.14.6", "127.0.14.7"}) {
            auto settings = UnitAt(address, stores.Path());
            settings.NeverComesBack = true;
            units.push_back(std::make_unique<TUnitSim>(settings));
            units.back()->Start();
        }
        WriteText(lists, "results.json", "[\"the last run's\"]\n");
        std::string before;
        // Nothing answers on 127.0.14.5: its run ends at once and makes room.
        const TFleetRun run = RunFleetCli(
            {"--address", "127.0.14.5", "--address", "127.0.14.6", "--address", "127.0.14.7",
             "--address", "127.0.14.8", "--jobs", "2", "--folder", images.Folder.Path(), "--json",
             json},
            [&](const std::string& out) {
                const bool now = out.find("127.000.014.006: Rebooting unit") != std::string::npos &&
                                 out.find("127.000.014.007: Rebooting unit") != std::string::npos;
                if (now)
                    before = ReadText(json);
                return now;
            },
            signals);
        EXPECT_EQ(run.Status, 128 + signal) << run.Err;
        EXPECT_LT(run.AfterInterrupt, std::chrono::seconds(2));
        EXPECT_EQ(before, "[\"the last run's\"]\n");
        const std::string cancelled = "Cancelled at wait after the reboot";
        const Lines rows = {"Failed at connect: ", cancelled, cancelled, "Not started"};
        const auto table = nlohmann::json::parse(std::ifstream(json));
        ASSERT_EQ(table.size(), rows.size());
        for (std::size_t i = 0; i < rows.size(); ++i) {
            SCOPED_TRACE(i);
            const std::string address = "127.000.014.00" + std::to_string(i + 5);
            const Lines row = LinesOf(run.Out, address + "  ");
            ASSERT_EQ(row.size(), 1u) << run.Out;
            EXPECT_NE(row[0].find(rows[i]), std::string::npos) << row[0];
            EXPECT_EQ(table[i]["address"], address);
            EXPECT_EQ(table[i]["result"].get<std::string>().rfind(rows[i], 0), 0u);
            EXPECT_EQ(table[i]["succeeded"], false);
            const Lines why = LinesOf(run.Err, address + ": ");
            if (rows[i] == cancelled) {
                EXPECT_EQ(table[i]["outcome"], "cancelled");
                EXPECT_EQ(table[i]["step"], "wait after the reboot");
                ASSERT_EQ(why.size(), 1u) << run.Err;
                EXPECT_EQ(why[0].rfind(cancelled, 0), 0u) << why[0];
            }
        }
        EXPECT_TRUE(LinesOf(run.Out, "127.000.014.008: ").empty());
    }
}

// A reader that goes away ends nothing: with the fleet's output piped into
// one that reads a line and leaves, every update still runs to its end, and
// the results file says so.
TEST(TftpLoaderCliFleet, AClosedOutputEndsNoUpdate) {
    if (kTestPlatform != TTestPlatform::tpPosix)
        GTEST_SKIP() << "the shell's pipe is a POSIX test";
    TImages images(171);
    TTempFolder stores, lists;
    const auto units = StartUnits("127.0.17.", {"4", "5"}, stores);
    const std::string json = lists.Path() + "results.json";
    const std::string command = std::string(LOADER_CLI_PATH) +
                                " --address 127.0.17.4 --address 127.0.17.5 --folder '" +
                                images.Folder.Path() + "' --json '" + json + "' | head -n 1";
    TChildProcess shell("/bin/bash", {"-c", "set -o pipefail; " + command});
    EXPECT_EQ(WaitForEnd(shell, std::chrono::seconds(60)), 0);
    const auto table = nlohmann::json::parse(std::ifstream(json));
    ASSERT_EQ(table.size(), 2u);
    for (const char* last : {"4", "5"}) {
        SCOPED_TRACE(last);
        EXPECT_EQ(FileBytes(stores.Path() + last + "/rrpages.bin"), images.Pages);
        EXPECT_EQ(FileBytes(stores.Path() + last + "/rrboot.bin"), images.Program);
    }
    for (const auto& row : table)
        EXPECT_EQ(row["succeeded"], true) << row.dump();
}

// More units at once than 64, and than the soft limit of open files would
// hold (each running unit keeps three open in the fleet run): the fleet run
// raises that limit to the hard one and runs them all. A --jobs that even the
// hard limit cannot hold stops the run with status 2 before any unit is
// asked anything, rather than failing units at their start.
TEST(TftpLoaderCliFleet, RunsAsManyUnitsAtOnceAsTheOpenFileLimitAllows) {
    if (kTestPlatform != TTestPlatform::tpPosix)
        GTEST_SKIP() << "the open-file limit is a POSIX one, set here with bash's ulimit";
    TImages images(171);
    TTempFolder store, lists;
    TUnitSim unit(UnitAt("127.0.14.10", store.Path()));
    unit.Start();
    // Nothing listens on the others: each of their runs fails at once.
    const std::string json = lists.Path() + "results.json";
    Lines args = {"--jobs", "100", "--folder",  images.Folder.Path(),
                  "--json", json,  "--address", "127.0.14.10"};
    for (int last = 100; last < 169; ++last)
        args.insert(args.end(), {"--address", "127.0.14." + std::to_string(last)});

    const TFleetRun refused = RunFleetCliUnder("-n 64", args);
    EXPECT_EQ(refused.Status, 2);
    EXPECT_NE(refused.Err.find("--jobs 100: the system's limit of open files"), std::string::npos)
        << refused.Err;
    EXPECT_TRUE(unit.Requests().empty());

    TChildProcess limit("/bin/bash", {"-c", "ulimit -H -n"});
    std::string hard, ignored;
    ASSERT_TRUE(ReadUntilEnd(limit, std::chrono::seconds(10), hard, ignored));
    if (!hard.starts_with("unlimited") && std::stol(hard) < 256)
        GTEST_SKIP() << "the hard limit of open files is below 256: " << hard;
    const TFleetRun run = RunFleetCliUnder("-S -n 64", args);
    EXPECT_EQ(run.Status, 1) << run.Err;
    EXPECT_EQ(run.Err.find("Cannot start"), std::string::npos) << run.Err;
    EXPECT_EQ(FileBytes(store.Path() + "rrpages.bin"), images.Pages);
    EXPECT_EQ(FileBytes(store.Path() + "rrboot.bin"), images.Program);
    const auto table = nlohmann::json::parse(std::ifstream(json));
    ASSERT_EQ(table.size(), 70u);
    EXPECT_EQ(table[0]["succeeded"], true);
    for (std::size_t i = 1; i < table.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(table[i]["step"], "connect");
        EXPECT_EQ(table[i]["outcome"], "failed");
    }
}
