// The loader's tests that only POSIX can set up: an HTTP peer in the test
// program that misbehaves on the wire, the test program's peak memory, and
// images that are links, FIFOs, devices or files that refuse writers even to
// root.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "runtime/Format.h"
#include "tests/app/LoaderRig.h"
#include "tests/support/HttpPeer.h"
#include "tests/support/ImageFolder.h"

TEST(Connect, APageThatIsNotWholeOrNotTheUnitsOwnIsNoUnit) {
    const std::string page = Marker("171");
    const std::string whole = "200 OK\r\nContent-Length: " + std::to_string(page.size());
    const auto redirect = [](const std::string& to) {
        return THttpPeer::Answer("302 Found\r\nLocation: " + to + "\r\nContent-Length: 0");
    };
    THttpPeer unit("127.0.1.11", 80);
    // Where a redirect might lead: another host, another port of the unit.
    const auto elsewhere = [&](const std::string&, const THttpPeer::TSend& send) {
        send(THttpPeer::Answer(whole, page));
    };
    THttpPeer otherHost("127.0.1.12", 80, elsewhere);
    THttpPeer otherPort("127.0.1.11", 0, elsewhere);
    const std::string otherPortUrl = "http://127.0.1.11:" + std::to_string(otherPort.Port()) + "/";
    using TScript = THttpPeer::TScript;
    const auto answer = [](std::function<std::string(const std::string&)> text) -> TScript {
        return [text](const std::string& line, const THttpPeer::TSend& send) { send(text(line)); };
    };
    // A peer that keeps a fetch alive without ever finishing it.
    const auto drip = [&unit](const std::string& text, std::chrono::milliseconds interval) {
        return [=, &unit](const std::string&, const THttpPeer::TSend& send) {
            unit.Drip(send, text, interval);
        };
    };
    struct Row {
        std::string name;
        TScript script;
        std::size_t requests; // 0: as many as the fetch's time allows
        int revision;
        std::string reason; // the start of the outcome's reason
    };
    const std::string timedOut = "Request timed out after ";
    const std::vector<Row> rows = {
        {"cut short inside the revision", answer([](auto&) {
             return THttpPeer::Answer("200 OK\r\nContent-Length: 1000", "<p>g_HwId = \"17");
         }),
         1, 0, ""},
        {"cut short after the revision",
         answer([&](auto&) { return THttpPeer::Answer("200 OK\r\nContent-Length: 1000", page); }),
         1, 0, ""},
        {"chunked, broken", answer([&](auto&) {
             return THttpPeer::Answer("200 OK\r\nTransfer-Encoding: chunked",
                                      Format("%X\r\n%s\r\nzz\r\n", page.size(), page));
         }),
         1, 0, ""},
        {"redirect to another host", answer([&](auto&) { return redirect("http://127.0.1.12/"); }),
         1, 0, "redirect to another server refused: http://127.0.1.12/"},
        {"redirect to another port", answer([&](auto&) { return redirect(otherPortUrl); }), 1, 0,
         "redirect to another server refused: " + otherPortUrl},
        {"redirect without end", answer([&](auto&) { return redirect("/again"); }), 11, 0,
         "more than 10 redirects"},
        // One fetch has one time limit, however its time is spent.
        {"a page that drips a byte a second",
         drip(THttpPeer::Answer(whole, page), std::chrono::seconds(1)), 1, 0, timedOut},
        {"redirects on the unit, each dripping",
         drip(redirect("/again").substr(0, 40) + std::string(20, ' '),
              std::chrono::milliseconds(50)),
         0, 0, timedOut},
        // The unit's own redirects are followed.
        {"redirect on the unit", answer([&](const std::string& line) {
             return line == "GET / HTTP/1.1" ? redirect("http://127.000.001.011/home.htm")
                                             : THttpPeer::Answer(whole, page);
         }),
         2, 171, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::size_t before = unit.Requests().size();
        unit.SetScript(row.script);
        TRig rig("127.000.001.011");
        const auto start = steady_clock::now();
        rig.Loader.connectbutClick();
        EXPECT_LT(steady_clock::now() - start, TLoader::FetchTimeLimit + std::chrono::seconds(3));
        EXPECT_EQ(rig.Window.Lines, Lines{row.revision == 0 ? "Unable to Connect to 127.000.001.011"
                                                            : "Connected, H/W revision 171"});
        EXPECT_TRUE(rig.Window.Errors.empty());
        if (row.requests > 0) {
            EXPECT_EQ(unit.Requests().size() - before, row.requests);
        }
        ASSERT_EQ(rig.Window.Outcomes.size(), 1u);
        const std::string& reason = rig.Window.Outcomes[0].Reason;
        EXPECT_EQ(reason.rfind(row.reason, 0), 0u) << reason;
        EXPECT_EQ(reason.empty(), row.revision != 0) << reason;
    }
    // The requests of a run go to the unit's address only.
    EXPECT_TRUE(otherHost.Requests().empty());
    EXPECT_TRUE(otherPort.Requests().empty());
}

// The wait's limit is a deadline: a unit whose page drips after the reboot
// holds no poll past it.
TEST(Upload, AWaitEndsAtItsLimitEvenInAPoll) {
    std::atomic<int> homePages{0};
    THttpPeer unit("127.0.17.6", 80);
    unit.SetScript([&](const std::string& line, const THttpPeer::TSend& send) {
        const std::string page = Marker("171");
        const std::string answer =
            THttpPeer::Answer("200 OK\r\nContent-Length: " + std::to_string(page.size()), page);
        // After the reboot: a byte a second.
        if (line.rfind("GET / ", 0) == 0 && homePages++ > 0)
            unit.Drip(send, answer, std::chrono::seconds(1));
        else
            send(answer);
    });
    TRig rig("127.000.017.006");
    rig.Loader.connectbutClick();
    ASSERT_EQ(rig.Loader.HardwareRevision, 171);
    rig.Loader.WaitLimit = std::chrono::seconds(3);
    const auto start = steady_clock::now();
    rig.Loader.uploadbutClick();
    const auto took = steady_clock::now() - start;
    EXPECT_EQ(rig.Window.Lines, (Lines{"Rebooting unit", "Unit did not come back"}));
    EXPECT_GE(took, std::chrono::seconds(3));
    EXPECT_LT(took, std::chrono::seconds(3) + TLoader::MinPollTime + std::chrono::seconds(3));
    EXPECT_EQ(rig.Window.Outcomes.back().Step, TRunStep::spFirstWait);
}

TEST(Connect, AnEndlessPageEndsAtTheCapWithMemoryFlat) {
    constexpr std::size_t Bound = 128u << 20; // the peer's own end: no test runs for ever
    std::size_t sent = 0;
    THttpPeer unit("127.0.1.13", 80, [&](const std::string&, const THttpPeer::TSend& send) {
        if (!send(THttpPeer::Answer("200 OK\r\nConnection: close", Marker("171"))))
            return;
        const std::string filler(64 * 1024, ' ');
        while (sent < Bound && send(filler))
            sent += filler.size();
    });
    rusage before{};
    ::getrusage(RUSAGE_SELF, &before);
    const auto start = steady_clock::now();
    TRig rig("127.000.001.013");
    rig.Loader.connectbutClick();
    rusage after{};
    ::getrusage(RUSAGE_SELF, &after);
    EXPECT_EQ(rig.Window.Lines, Lines{"Unable to Connect to 127.000.001.013"});
    EXPECT_LT(sent, Bound);
    EXPECT_LT(steady_clock::now() - start, std::chrono::seconds(20));
    const long grownKiB = after.ru_maxrss - before.ru_maxrss;
    EXPECT_LT(grownKiB, 64 * 1024) << "peak memory grew by " << grownKiB << " KiB";
    RecordProperty("PeakGrowthKiB", static_cast<int>(grownKiB));
}

TEST(FolderScan, AnUnreadableImageEndsTheScanWithTheErrorBox) {
    struct Row {
        std::string name;
        std::function<void(const TTempFolder&)> make;
        std::string error;
    };
    const std::vector<Row> rows = {
        {"short", [](const TTempFolder& f) { f.Write("short.bin", ImageBytes(false, 1, 10)); },
         "Read beyond end of file."},
        {"dangling link",
         [](const TTempFolder& f) {
             std::filesystem::create_symlink(f.Path() + "nowhere", f.Path() + "gone.bin");
         },
         "File not found."},
        {"link to a directory's child of a file",
         [](const TTempFolder& f) {
             f.Write("plain", {1, 2, 3});
             std::filesystem::create_symlink(f.Path() + "plain/x", f.Path() + "odd.bin");
         },
         "Invalid filename."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TTempFolder folder;
        row.make(folder);
        TRig rig("127.000.000.089");
        rig.Window.SetDirEditText(folder.Path());
        EXPECT_EQ(rig.Window.Errors, Lines{row.error});
        EXPECT_TRUE(rig.Window.BusyChanges.empty());
        EXPECT_EQ(rig.Window.Index(TImageList::ilWebPages), -1);
        EXPECT_EQ(rig.Window.Index(TImageList::ilPrograms), -1);
        EXPECT_EQ(rig.Loader.ImageFolder, folder.Path());
    }
}

TEST(FolderScan, PipesAndDevicesAreNoImagesEvenBehindALink) {
    TTempFolder folder;
    folder.Write("prog.bin", ImageBytes(false, 1, 16));
    std::filesystem::create_symlink(folder.Path() + "prog.bin", folder.Path() + "link.bin");
    ASSERT_EQ(::mkfifo((folder.Path() + "pipe.bin").c_str(), 0600), 0);
    std::filesystem::create_symlink("/dev/urandom", folder.Path() + "random.bin");
    std::filesystem::create_symlink("/dev/null", folder.Path() + "null.bin");
    TRig rig("127.000.000.089");
    ::alarm(20); // a scan stuck on the pipe ends the test program, not the run
    rig.Window.SetDirEditText(folder.Path());
    ::alarm(0);
    auto programs = rig.Window.List(TImageList::ilPrograms);
    std::sort(programs.begin(), programs.end());
    EXPECT_EQ(programs, (Lines{"link.bin", "prog.bin"}));
    EXPECT_TRUE(rig.Window.Errors.empty()) << ::testing::PrintToString(rig.Window.Errors);
}

TEST(FolderScan, AnImageThatCannotBeOpenedForWritingIsScannedLikeAnyOther) {
    // Root may write any file whatever its mode; a sysfs attribute refuses
    // even root. Its text ("00:00:00:00:00:00") has a byte 6 that is not 0.
    const std::string readOnly = "/sys/class/net/lo/address";
    const int probe = ::open(readOnly.c_str(), O_RDWR);
    if (probe >= 0)
        ::close(probe);
    if (probe >= 0 || errno == ENOENT)
        GTEST_SKIP() << "no file here that refuses to be opened for writing";
    TTempFolder folder;
    std::filesystem::create_symlink(readOnly, folder.Path() + "release.bin");
    TRig rig("127.000.000.089");
    rig.Window.SetDirEditText(folder.Path());
    EXPECT_TRUE(rig.Window.Errors.empty()) << ::testing::PrintToString(rig.Window.Errors);
    EXPECT_EQ(rig.Window.List(TImageList::ilPrograms), Lines{"release.bin"});
}
