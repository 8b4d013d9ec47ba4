// The headless front end end to end: tftp-loader-cli run as a program
// against the simulated unit on 127.0.0.90 to 127.0.0.96, 127.0.0.10,
// 127.0.0.110 to 127.0.0.112 (.112 behind a lossy link), and the address text
// it enters into the masked field.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <gtest/gtest.h>
#include <sstream>
#include <thread>

#include "app/cli/CliWindow.h"
#include "app/cli/TftpLoaderCli.h"
#include "runtime/Sha256.h"
#include "tests/app/LoaderRig.h"
#include "tests/app/cli/RunCli.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ImageFolder.h"
#include "tests/support/Platform.h"
#include "tools/unit-sim/UnitSim.h"

namespace {

/// The texts of the status line as a terminal was sent them: each drawing
/// starts at a carriage return and erases what is left of the old one.
Lines DrawnStatuses(const Lines& terminal) {
    Lines drawn;
    for (const std::string& line : terminal) {
        std::istringstream in(line);
        for (std::string piece; std::getline(in, piece, '\r');)
            if (piece.size() > 3 && piece.ends_with("\x1b[K"))
                drawn.push_back(piece.substr(0, piece.size() - 3));
    }
    return drawn;
}

} // namespace

TEST(MaskedAddressText, PadsEachGroupAsTypedIntoTheField) {
    EXPECT_EQ(MaskedAddressText("127.0.0.2"), "127.000.000.002");
    EXPECT_EQ(MaskedAddressText("192.168.100.100"), "192.168.100.100");
    EXPECT_EQ(MaskedAddressText("010.0.0.255"), "010.000.000.255");
    for (const std::string bad : {"1.2.3", "1.2.3.4.5", "256.1.1.1", "1..2.3", "0001.2.3.4",
                                  "a.b.c.d", " 1.2.3.4", "1.2.3.4 ", "", "-1.2.3.4"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(MaskedAddressText(bad).has_value());
    }
}

// A fleet hands each unit's run its options as arguments that the run parses
// back to the same choices; every option of a run goes along, so one added
// later cannot be dropped on the way without this failing.
TEST(UnitRunArguments, CarryEveryOptionOfARunAndNoneOfTheFleets) {
    TCliOptions given;
    given.Folder = "/images with blanks/";
    given.Pages = "--looks-like-an-option.bin";
    given.NoProgram = true;
    given.List = true;
    given.Trace = true;
    given.WaitLimit = 12.25;
    given.TimeLimit = 0.1;
    given.Retries = 7;
    given.Verify = true;
    given.Manifest = "/lists/SHA256SUMS";
    std::vector<std::string> args = UnitRunArguments(given);

    TCliOptions parsed;
    CLI::App app;
    AddCliOptions(app, parsed);
    std::vector<std::string> reversed(args.rbegin(), args.rend()); // CLI11 takes them backwards
    reversed.insert(reversed.begin(), "127.0.0.2");
    reversed.insert(reversed.begin() + 1, "--address");
    ASSERT_NO_THROW(app.parse(reversed));
    EXPECT_EQ(parsed.Folder, given.Folder);
    EXPECT_EQ(parsed.Pages, given.Pages);
    EXPECT_EQ(parsed.NoPages, given.NoPages);
    EXPECT_EQ(parsed.Program, given.Program);
    EXPECT_EQ(parsed.NoProgram, given.NoProgram);
    EXPECT_EQ(parsed.List, given.List);
    EXPECT_EQ(parsed.Trace, given.Trace);
    EXPECT_EQ(parsed.WaitLimit, given.WaitLimit);
    EXPECT_EQ(parsed.TimeLimit, given.TimeLimit);
    EXPECT_EQ(parsed.Retries, given.Retries);
    EXPECT_EQ(parsed.Verify, given.Verify);
    EXPECT_EQ(parsed.Manifest, given.Manifest);

    // Every option of the parser is a run's and among the arguments, but
    // those that only a fleet or its parent takes, and the one of each pair
    // that excludes the other.
    const std::vector<std::string> notOfARun = {"--help",      "--version", "--address",
                                                "--addresses", "--jobs",    "--json",
                                                "--report",    "--program", "--no-pages"};
    for (const CLI::Option* option : app.get_options()) {
        const std::string name = option->get_name();
        if (name.empty() || std::find(notOfARun.begin(), notOfARun.end(), name) != notOfARun.end())
            continue;
        EXPECT_NE(std::find(args.begin(), args.end(), name), args.end()) << name;
    }
    for (const std::string& name : notOfARun)
        EXPECT_EQ(std::find(args.begin(), args.end(), name), args.end()) << name;
}

TEST(TftpLoaderCli, UpdatesAUnitEndToEnd) {
    struct Row {
        std::string address;
        int revision;
        std::string suffix;
        double loss = 0; // of the datagrams to the unit's TFTP server, met with --retries 5
        std::string args = {};
        TRunPlace place = TRunPlace::rpPipes;
    };
    const Row rows[] = {
        {"127.0.0.90", 171, ".bin"},
        {"127.0.0.91", 5, "2.bin"},
        // 127.0.0.10 reads as "127.000.000.010": the zeros must not turn it octal.
        {"127.0.0.10", 171, ".bin"},
        {"127.0.0.112", 171, ".bin", 0.2, " --retries 5"},
        // The unit came back after its program, and the images are those the
        // manifest vouches for.
        {"127.0.0.113", 5, "2.bin", 0, " --verify --manifest"},
        // Started without its input and error streams: the trace must not
        // reach the unit's port in their place.
        {"127.0.0.114", 171, ".bin", 0, " --trace", TRunPlace::rpStreamsClosed},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.address);
        if (row.place == TRunPlace::rpStreamsClosed && kTestPlatform == TTestPlatform::tpWindows)
            continue;
        TTempFolder store;
        TImages images(row.revision);
        auto settings = UnitAt(row.address, store.Path());
        settings.Revision = std::to_string(row.revision);
        settings.Loss.Rates[ldToServer].Drop = row.loss;
        TUnitSim unit(settings);
        unit.Start();
        std::string args = row.args;
        const bool verify = args.find("--verify") != std::string::npos;
        if (args.ends_with("--manifest")) {
            const std::string list = FileSha256(images.Folder.Path() + images.PagesName) + "  " +
                                     images.PagesName + "\n" +
                                     FileSha256(images.Folder.Path() + "prog.bin") + " *prog.bin\n";
            args += " " + store.Write("SHA256SUMS", {list.begin(), list.end()});
        }
        const TRun run =
            RunCli("--address " + row.address + " --folder " + images.Folder.Path() + args,
                   TRunEnd::reKillAfter120s, row.place);
        EXPECT_EQ(run.Status, 0) << run.Err;
        Lines expected{"Connected, H/W revision " + std::to_string(row.revision),
                       "Rebooting unit",
                       "Uploading Web page file " + images.PagesName,
                       "Web pages transfered",
                       "Rebooting unit",
                       "Uploading Program file prog.bin",
                       "Program transfered",
                       "Update successful"};
        if (verify)
            expected.insert(expected.end() - 1, "Rebooting unit");
        EXPECT_EQ(run.Out, expected);
        EXPECT_EQ(FileBytes(store.Path() + "rrpages" + row.suffix), images.Pages);
        EXPECT_EQ(FileBytes(store.Path() + "rrboot" + row.suffix), images.Program);
        EXPECT_EQ(unit.ClientErrors(), Lines{});
    }
}

TEST(TftpLoaderCli, OnATerminalTheStatusLineShowsEachCountWithItsShare) {
    TTempFolder store;
    TImages images(171);
    TUnitSim unit(UnitAt("127.0.0.96", store.Path()));
    unit.Start();
    if (kTestPlatform == TTestPlatform::tpWindows)
        GTEST_SKIP() << "a Windows program's terminal is a console, which no pipe stands in for";
    const TRun run = RunCli("--address 127.0.0.96 --no-pages --folder " + images.Folder.Path(),
                            TRunEnd::reKillAfter120s, TRunPlace::rpTerminal);
    EXPECT_EQ(run.Status, 0) << run.Err;
    const Lines drawn = DrawnStatuses(run.Out);
    // The program image's 7000 bytes, in blocks of 1468.
    const auto first = std::find(drawn.begin(), drawn.end(), "1468 (20%)");
    ASSERT_GE(std::distance(first, drawn.end()), 6) << run.Err;
    EXPECT_EQ(Lines(first, first + 6), (Lines{"1468 (20%)", "2936 (41%)", "4404 (62%)",
                                              "5872 (83%)", "7000 (100%)", "Done"}));
}

TEST(TftpLoaderCli, ListsTheImagesAndRefusesWhatTheWindowWouldNotTake) {
    TTempFolder store;
    TImages images(171);
    TUnitSim unit(UnitAt("127.0.0.93", store.Path()));
    unit.Start();
    const std::string folder = " --folder " + images.Folder.Path();
    const TRun list = RunCli("--address 127.0.0.93 --list" + folder);
    EXPECT_EQ(list.Status, 0) << list.Err;
    EXPECT_EQ(list.Out, (Lines{"Connected, H/W revision 171", "web page image: pagesV1.bin",
                               "program image: prog.bin"}));

    const std::string pagesSha = FileSha256(images.Folder.Path() + "pagesV1.bin");
    const std::string programSha = FileSha256(images.Folder.Path() + "prog.bin");
    const auto manifest = [&store](const std::string& name, const std::string& text) {
        return store.Write(name, {text.begin(), text.end()});
    };
    const std::string wrong =
        manifest("wrong", pagesSha + "  pagesV1.bin\n" + std::string(64, '0') + "  prog.bin\n");
    const std::string unlisted = manifest("unlisted", pagesSha + "  pagesV1.bin\n");

    struct Row {
        std::string args;
        int status;
    };
    for (const Row& row :
         {Row{"--address 127.0.0.93 --list --pages other.bin" + folder, 2},
          Row{"--address 127.0.0.256 --list" + folder, 2},
          Row{"--address 127.0.0 --list" + folder, 2},
          Row{"--address 127.0.0.93 --pages x.bin --no-pages" + folder, 2},
          // Beyond the clock's range the wait would end at once.
          Row{"--address 127.0.0.93 --list --wait-limit 1e10" + folder, 2},
          Row{"--address 127.0.0.93 --list --wait-limit nan" + folder, 2}, Row{"--bogus", 2},
          Row{"--version", 0},
          // The manifest vouches for another program, or for none.
          Row{"--address 127.0.0.93 --manifest " + wrong + folder, 2},
          Row{"--address 127.0.0.93 --manifest " + unlisted + folder, 2},
          Row{"--address 127.0.0.93 --manifest " + store.Path() + "none" + folder, 2}}) {
        SCOPED_TRACE(row.args);
        const TRun run = RunCli(row.args);
        EXPECT_EQ(run.Status, row.status);
        if (row.args.find(wrong) != std::string::npos) {
            EXPECT_EQ(run.Err, "error: prog.bin has SHA-256 " + programSha + ", but " + wrong +
                                   " lists " + std::string(64, '0') + ".\n");
        }
    }
    EXPECT_TRUE(unit.Images().empty());
    // Not even the TFTP command went out.
    for (const std::string& request : unit.Requests())
        EXPECT_EQ(request, "/");
}

TEST(TftpLoaderCli, NoUnitEndsWithStatusOneAndAFailureWithTwo) {
    TImages images(171);
    const TRun none = RunCli("--address 127.0.0.94 --list --folder " + images.Folder.Path());
    EXPECT_EQ(none.Status, 1) << none.Err;
    EXPECT_EQ(none.Out, Lines{"Unable to Connect to 127.000.000.094"});
    // Why, on stderr and on one line: the system's own text, not its escapes.
    const Lines why = SplitLines(none.Err);
    ASSERT_EQ(why.size(), 1u) << none.Err;
    EXPECT_EQ(why[0].rfind("Failed at connect: ", 0), 0u) << why[0];
    EXPECT_EQ(why[0].find("\\r"), std::string::npos) << why[0];
    EXPECT_EQ(why[0].find("\\n"), std::string::npos) << why[0];

    images.Folder.Write("short.bin", {1, 2, 3});
    const TRun failed = RunCli("--address 127.0.0.94 --list --folder " + images.Folder.Path());
    EXPECT_EQ(failed.Status, 2);
    EXPECT_EQ(failed.Err, "error: Read beyond end of file.\n");
}

// A unit that never comes back: the wait limit ends the run with status 1,
// Ctrl-C ends it sooner with 130; neither writes a log line after it, and
// each says on stderr how it ended. With --verify the same holds for a unit
// that dies with its new program.
TEST(TftpLoaderCli, AWaitEndsAtItsLimitOrAtCtrlC) {
    struct Row {
        std::string address, args;
        TRunEnd end;
        int status;
        Lines tail;
        std::string why; // the start of stderr's one line
    };
    const Lines program = {"Uploading Web page file pagesV1.bin",
                           "Web pages transfered",
                           "Rebooting unit",
                           "Uploading Program file prog.bin",
                           "Program transfered",
                           "Rebooting unit",
                           "Unit did not come back"};
    const std::vector<Row> rows = {
        {"127.0.0.92",
         "--wait-limit 3",
         TRunEnd::reKillAfter120s,
         1,
         {"Unit did not come back"},
         "Failed at wait after the reboot: "},
        {"127.0.0.95", "", TRunEnd::reCtrlCAfter3s, 130, {}, "Cancelled at wait after the reboot"},
        {"127.0.0.115", "--verify --wait-limit 3", TRunEnd::reKillAfter120s, 1, program,
         "Failed at verify: Unit did not come back (the unit did not report hardware revision "
         "171 within 3 s"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.address);
        if (row.end == TRunEnd::reCtrlCAfter3s && !CtrlCUnavailable().empty())
            continue;
        TTempFolder store;
        TImages images(171);
        auto settings = UnitAt(row.address, store.Path());
        const bool verify = row.args.find("--verify") != std::string::npos;
        settings.NeverComesBack = !verify;
        settings.DiesWithProgram = verify;
        TUnitSim unit(settings);
        unit.Start();
        const TRun run = RunCli("--address " + row.address + " " + row.args + " --folder " +
                                    images.Folder.Path(),
                                row.end);
        EXPECT_EQ(run.Status, row.status) << run.Err;
        Lines expected{"Connected, H/W revision 171", "Rebooting unit"};
        expected.insert(expected.end(), row.tail.begin(), row.tail.end());
        EXPECT_EQ(run.Out, expected);
        const Lines why = SplitLines(run.Err);
        ASSERT_EQ(why.size(), 1u) << run.Err;
        EXPECT_EQ(why[0].substr(0, row.why.size()), row.why);
    }
}

// Ctrl-C, SIGTERM or SIGHUP while a transfer waits for the unit: the unit is
// told at once, and the run ends with 128 and the signal's number, not after
// the reply's time-out.
TEST(TftpLoaderCli, EachSignalDuringATransferTellsTheUnitAndEndsTheRun) {
    if (const std::string why = CtrlCUnavailable(); !why.empty())
        GTEST_SKIP() << why;
    for (const int signal : {2, 15, 1}) {
        SCOPED_TRACE(signal);
        if (signal != 2 && kTestPlatform == TTestPlatform::tpWindows)
            continue; // no program sends another a console's close
        TTempFolder store;
        TImages images(171);
        auto settings = UnitAt("127.0.0.99", store.Path());
        settings.TftpPort = 0; // the unit's TFTP side is the scripted peer on port 69
        TUnitSim unit(settings);
        unit.Start();
        TUdpPeer tftp("127.0.0.99", 69);
        TChildProcess cli(LOADER_CLI_PATH,
                          {"--address", "127.0.0.99", "--folder", images.Folder.Path()});
        const auto heard = InterruptDuringAWait(cli, tftp, 30000, signal);
        ASSERT_TRUE(heard);
        EXPECT_EQ(heard->Bytes, Words({5, 0}, std::string("Transfer cancelled") + '\0'));
        EXPECT_EQ(WaitForEnd(cli, std::chrono::seconds(10)), 128 + signal);
    }
}

// Stopped (Ctrl-Z) while a transfer waits for its unit and continued after
// longer than a reply is awaited: the reply that came meanwhile moves the
// transfer on, and the update ends as usual.
TEST(TftpLoaderCli, AStopAndContinueDuringATransferEndsNothing) {
    if (kTestPlatform == TTestPlatform::tpWindows)
        GTEST_SKIP() << "no program is stopped and continued there";
    constexpr int Stop = 19, Continue = 18; // SIGSTOP, SIGCONT
    TTempFolder store;
    TImages images(171);
    auto settings = UnitAt("127.0.0.120", store.Path());
    settings.TftpPort = 0; // the unit's TFTP side is the scripted peer on port 69
    TUnitSim unit(settings);
    unit.Start();
    TUdpPeer tftp("127.0.0.120", 69);
    TChildProcess cli(LOADER_CLI_PATH, {"--address", "127.0.0.120", "--folder",
                                        images.Folder.Path(), "--no-program"});
    const auto request = tftp.Receive(30000);
    ASSERT_TRUE(request);
    tftp.Reply(*request, Ack(0)); // no options: blocks of 512
    std::vector<std::uint8_t> received;
    for (std::uint16_t block = 1; block <= 100; ++block) {
        const auto data = tftp.Receive(5000);
        ASSERT_TRUE(data) << "block " << block;
        ASSERT_EQ(data->Bytes[1], 3) << "block " << block; // DATA, not an ERROR
        received.insert(received.end(), data->Bytes.begin() + 4, data->Bytes.end());
        if (block == 2) {
            // The loader waits for this block's ACK now.
            ASSERT_TRUE(SignalChild(cli, Stop));
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            tftp.Reply(*data, Ack(block));
            std::this_thread::sleep_for(std::chrono::seconds(6));
            ASSERT_TRUE(SignalChild(cli, Continue));
        } else {
            tftp.Reply(*data, Ack(block));
        }
        if (data->Bytes.size() < 4 + 512)
            break;
    }
    EXPECT_EQ(received, images.Pages);
    EXPECT_EQ(WaitForEnd(cli, std::chrono::seconds(30)), 0);
}

// --time-limit bounds the whole run wherever it is: a unit that never comes
// back, a transfer whose unit falls silent (the unit told); the failure
// names the step. However short, a limit is one.
TEST(TftpLoaderCli, TheTimeLimitEndsTheRunAtAnyStep) {
    struct Row {
        std::string name;
        bool neverBack, slowTftp;
        std::string limit, line;
    };
    const std::vector<Row> rows = {
        {"never back", true, false, "2",
         "Stopped at wait after the reboot: time limit of 2 s reached"},
        // A unit that acknowledges each block after a second would keep the
        // transfer going for 40 s; the limit ends it.
        {"slow transfer", false, true, "6", "Stopped at web pages: time limit of 6 s reached"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        // Under Wine the scripted peer takes 127.0.0.1 whatever address it is
        // given (tests/support/PlatformWindows.cpp), so it cannot stand at the
        // unit's address.
        if (row.slowTftp && kTestPlatform == TTestPlatform::tpWindows)
            continue;
        TTempFolder store;
        TImages images(171);
        auto settings = UnitAt("127.0.17.3", store.Path());
        settings.NeverComesBack = row.neverBack;
        if (row.slowTftp)
            settings.TftpPort = 0;
        TUnitSim unit(settings);
        unit.Start();
        // The slow unit's TFTP side: no options, so 512-byte blocks, each
        // acknowledged a second late, until an ERROR or 30 s.
        std::vector<TIdBytes> heard;
        std::thread tftp;
        if (row.slowTftp) {
            tftp = std::thread([&heard] {
                TUdpPeer peer("127.0.17.3", 69);
                const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
                while (std::chrono::steady_clock::now() < giveUp) {
                    const auto datagram = peer.Receive(500);
                    if (!datagram)
                        continue;
                    heard.push_back(datagram->Bytes);
                    const std::uint16_t opcode = datagram->Word(0);
                    if (opcode == 5)
                        return;
                    if (opcode == 3)
                        std::this_thread::sleep_for(std::chrono::seconds(1));
                    peer.Reply(*datagram, Ack(opcode == 3 ? datagram->Word(2) : 0));
                }
            });
        }
        const auto start = std::chrono::steady_clock::now();
        TChildProcess cli(LOADER_CLI_PATH, {"--address", "127.0.17.3", "--time-limit", row.limit,
                                            "--folder", images.Folder.Path()});
        std::string out, err;
        const bool ended = ReadUntilEnd(cli, std::chrono::seconds(30), out, err);
        const auto took = std::chrono::steady_clock::now() - start;
        if (tftp.joinable())
            tftp.join();
        ASSERT_TRUE(ended);
        EXPECT_EQ(*cli.Ended(), 1) << err;
        EXPECT_EQ(SplitLines(err), Lines{row.line});
        EXPECT_LT(took, std::chrono::seconds(std::stoi(row.limit) + 3));
        if (row.slowTftp) {
            // Some blocks went, and the unit was told.
            ASSERT_GT(heard.size(), 3u);
            EXPECT_EQ(heard.back(), Words({5, 0}, std::string("Transfer cancelled") + '\0'));
        }
    }

    // A positive limit under a millisecond is the shortest limit, not none:
    // the run ends before the unit is told anything.
    TTempFolder store;
    TImages images(171);
    TUnitSim unit(UnitAt("127.0.17.3", store.Path()));
    unit.Start();
    const TRun run =
        RunCli("--address 127.0.17.3 --time-limit 0.0009 --folder " + images.Folder.Path());
    EXPECT_EQ(run.Status, 1) << run.Err;
    EXPECT_EQ(run.Err, "Stopped at connect: time limit of 0.001 s reached\n");
    EXPECT_EQ(unit.Reboots(), 0);
}

// Runs that would reach no chosen unit or send it nothing are refused before
// the unit is told anything; a folder that is not there is named.
TEST(TftpLoaderCli, RefusesARunWithoutAnAddressOrWithNothingToSend) {
    TTempFolder store, empty;
    TImages images(171);
    TUnitSim unit(UnitAt("127.0.0.110", store.Path()));
    unit.Start();
    const std::string address = "--address 127.0.0.110 ";
    struct Row {
        std::string args;
        int status;
        Lines out;
        std::string err; // the start of stderr
        int reboots;     // reboot commands the unit got
    };
    const std::string connected = "Connected, H/W revision 171";
    const std::vector<Row> rows = {
        {"--list --folder " + images.Folder.Path(), 2, {}, "error: --address is required\n", 0},
        {address + "--list --folder " + empty.Path() + "missing",
         0,
         {connected},
         "warning: the folder " + empty.Path() + "missing does not exist\n",
         0},
        {address + "--folder " + empty.Path(), 2, {connected}, "error: nothing to upload", 0},
        {address + "--no-program --folder " + empty.Path(),
         2,
         {connected},
         "error: nothing to upload",
         0},
        {address + "--no-pages --no-program --folder " + empty.Path(),
         0,
         {connected, "Rebooting unit", "Rebooting unit", "Update successful"},
         "",
         1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args);
        const int rebootsBefore = unit.Reboots();
        // A run without an address runs without a network of its own: should
        // it go to a default address after all, it reaches nothing. Where no
        // network can be taken away, it is not run at all.
        const bool isolated = row.args.find("--address") == std::string::npos;
        if (isolated && kTestPlatform == TTestPlatform::tpWindows)
            continue;
        const TRun run = RunCli(row.args, TRunEnd::reKillAfter120s,
                                isolated ? TRunPlace::rpNoNetwork : TRunPlace::rpPipes);
        EXPECT_EQ(run.Status, row.status) << run.Err;
        EXPECT_EQ(run.Out, row.out);
        EXPECT_EQ(run.Err.substr(0, row.err.size()), row.err);
        EXPECT_EQ(unit.Reboots() - rebootsBefore, row.reboots);
    }
    EXPECT_TRUE(unit.Images().empty());
}

// What the unit or a file name supplies is printed as data: a TFTP error text
// and a revision text that would reset the terminal, a name that would forge
// a line of the list. A failed transfer says why on stderr, trace or not, and
// on a terminal its reason, not "Done", is the last status.
TEST(TftpLoaderCli, PeerTextsAreEscapedAndAFailedTransferSaysWhy) {
    TTempFolder store;
    TImages images(171);
    // A Windows file name holds no character below 32, so no line feed; DEL
    // is the control character it can hold.
    const std::string forged = PlatformValue<std::string>("x\nprogram image: forged.bin",
                                                          std::string("x\x7f") + "forged.bin");
    const std::string forgedListed =
        PlatformValue<std::string>("x\\nprogram image: forged.bin", "x\\x7fforged.bin");
    images.Folder.Write(forged, ImageBytes(false, 1, 100));
    auto settings = UnitAt("127.0.0.111", store.Path());
    settings.ErrorCode = 0;
    settings.ErrorText = "Disk \x1b]0;owned\x07\x1b"
                         "cfull";
    TUnitSim unit(settings);
    unit.Start();
    const std::string reason = "Failed at web pages: Disk \\x1b]0;owned\\x07\\x1bcfull";
    const std::string run = "--address 127.0.0.111 --folder " + images.Folder.Path();
    const Lines failed = {"Connected, H/W revision 171", "Rebooting unit",
                          "Uploading Web page file pagesV1.bin", "Web pages transfer error"};

    const TRun list = RunCli(run + " --list");
    EXPECT_EQ(list.Status, 0) << list.Err;
    auto listed = list.Out;
    std::sort(listed.begin() + 2, listed.end());
    EXPECT_EQ(listed, (Lines{"Connected, H/W revision 171", "web page image: pagesV1.bin",
                             "program image: prog.bin", "program image: " + forgedListed}));

    const TRun quiet = RunCli(run + " --pages pagesV1.bin");
    EXPECT_EQ(quiet.Status, 1);
    EXPECT_EQ(quiet.Out, failed);
    EXPECT_EQ(quiet.Err, reason + "\n");

    const TRun traced = RunCli(run + " --pages pagesV1.bin --trace");
    EXPECT_EQ(traced.Status, 1);
    EXPECT_EQ(traced.Out, failed);
    EXPECT_EQ(SplitLines(traced.Err),
              (Lines{"2  Connected.", "Done", reason.substr(reason.find("Disk")), reason}));

    if (kTestPlatform == TTestPlatform::tpPosix) {
        const TRun terminal =
            RunCli(run + " --pages pagesV1.bin", TRunEnd::reKillAfter120s, TRunPlace::rpTerminal);
        EXPECT_EQ(terminal.Status, 1);
        const Lines drawn = DrawnStatuses(terminal.Out);
        ASSERT_FALSE(drawn.empty());
        EXPECT_EQ(drawn.back(), reason);
    }

    unit.SetHomePage("<script>var g_HwId = \"\x1b[2J\";</script>");
    const TRun revision = RunCli(run + " --list");
    EXPECT_EQ(revision.Status, 2);
    EXPECT_EQ(revision.Err, "error: '\\x1b[2J' is not a valid integer value.\n");
    EXPECT_TRUE(unit.Images().empty());
}
