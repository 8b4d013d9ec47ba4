// tftp-put through the loss rig to tftpd-hpa: whatever the link loses,
// doubles or reorders, a run ends with the file stored byte for byte or with
// a clean failure, never with a wrong file reported as sent. Seeded: a
// failing run is replayed with its seed. The rig is a Linux program, so these
// run on Linux only.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <random>

#include "tests/support/ChildProcess.h"
#include "tests/support/ImageFolder.h"
#include "tests/support/Platform.h"
#include "tools/udp-relay/UdpRelay.h"

namespace {

namespace fs = std::filesystem;

struct TRun {
    int Status = -1;
    std::string Errors; // what tftp-put wrote to stderr
};

/// Runs tftp-put with AArgs to its end (at most two minutes, then it is
/// killed and the status is -1); stdout is dropped.
TRun RunTftpPut(const std::vector<std::string>& AArgs) {
    TChildProcess put(TFTP_PUT_PATH, AArgs);
    TRun run;
    std::string dropped;
    if (ReadUntilEnd(put, std::chrono::minutes(2), dropped, run.Errors))
        run.Status = *put.Ended();
    else
        put.Kill();
    return run;
}

/// tftpd-hpa with a source file, and lossy links to it.
class LossyLinkTest : public ::testing::Test {
protected:
    static constexpr const char* RelayIP = "127.0.0.66";

    void SetUp() override {
        if (const std::string missing = TTftpdHpa::Missing(); !missing.empty())
            GTEST_SKIP() << "skipped: " << missing;
        ASSERT_TRUE(server.Ready()) << "in.tftpd did not answer";
    }

    /// Writes a file of ASize random bytes beside the server's root.
    std::string Source(std::size_t ASize) {
        content.resize(ASize);
        std::mt19937 random(ASize);
        for (auto& b : content)
            b = static_cast<std::uint8_t>(random());
        const fs::path path = server.Root().parent_path() /
                              ("lossy-src-" + ProcessTag() + "-" + std::to_string(ASize));
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(content.data()),
                   static_cast<std::streamsize>(content.size()));
        sources.push_back(path);
        return path.string();
    }
    void TearDown() override {
        for (const fs::path& p : sources)
            fs::remove(p);
    }

    /// One upload through a relay of its own with ALoss and ASeed; checks
    /// that the outcome is clean and returns it with the relay's counts.
    std::pair<TRun, TUdpRelayCounts> Upload(const std::string& ASource, TLossSettings ALoss,
                                            std::uint64_t ASeed, std::vector<std::string> AArgs) {
        ALoss.Seed = ASeed;
        TUdpRelaySettings link;
        link.ListenAddress = RelayIP;
        link.ServerAddress = "127.0.0.65";
        link.ServerPort = server.Port();
        link.Loss = ALoss;
        TUdpRelay relay(link);
        relay.Start();
        const std::string name = "lossy-" + std::to_string(relay.ListenPort()) + ".bin";
        AArgs.insert(AArgs.end(),
                     {"--port", std::to_string(relay.ListenPort()), RelayIP, ASource, name});
        const TRun run = RunTftpPut(AArgs);
        relay.Stop();
        const TIdBytes stored = ReadAll(server.Root() / name);
        if (run.Status == 0) {
            EXPECT_TRUE(stored == content) << "seed " << ASeed << ": success with a wrong file";
        } else {
            EXPECT_TRUE(stored.size() <= content.size() &&
                        std::equal(stored.begin(), stored.end(), content.begin()))
                << "seed " << ASeed << ": what was stored is not the start of the file";
        }
        return {run, relay.Counts()};
    }

    TTftpdHpa server{"127.0.0.65"};
    TIdBytes content;
    std::vector<fs::path> sources;
};

TEST_F(LossyLinkTest, FivePercentLossEachWay) {
    // 1 MB, 20 seeded runs at once: with re-sends every run arrives; without
    // them every run ends at its first loss with "Timeout".
    const std::string source = Source(1000000);
    TLossSettings loss;
    loss.Rates[ldToServer].Drop = loss.Rates[ldToClient].Drop = 0.05;
    const struct {
        const char* what;
        std::vector<std::string> args;
        int status;
        std::string errors;
    } rows[] = {
        {"--retries 5", {"--retries", "5"}, 0, ""},
        {"--retries 0", {"--retries", "0", "--timeout", "500"}, 1, "tftp-put: Timeout\n"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        std::vector<std::future<TRun>> runs;
        for (std::uint64_t seed = 1; seed <= 20; ++seed)
            runs.push_back(std::async(std::launch::async, [&, seed] {
                return Upload(source, loss, seed, r.args).first;
            }));
        for (std::size_t i = 0; i < runs.size(); ++i) {
            const TRun run = runs[i].get();
            EXPECT_EQ(run.Status, r.status) << "seed " << i + 1 << ": " << run.Errors;
            EXPECT_EQ(run.Errors, r.errors) << "seed " << i + 1;
        }
    }
}

TEST_F(LossyLinkTest, DuplicatedDelayedAndReorderedDatagramsNeitherCorruptNorDouble) {
    const std::string source = Source(300000);
    const std::size_t blocks = 300000 / 1500 + 1;
    TLossSettings loss;
    for (TLossRates& rates : loss.Rates)
        rates = {0, 0.1, 0.1, 0.1};
    const struct {
        const char* what;
        std::vector<std::string> args;
    } rows[] = {
        {"--retries 5", {"--retries", "5", "--timeout", "1000"}},
        // Without re-sends a doubled answer to the request can end a run
        // (it looks like a late one); it must end cleanly.
        {"--retries 0", {"--retries", "0", "--timeout", "1000"}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        std::vector<std::future<std::pair<TRun, TUdpRelayCounts>>> runs;
        for (std::uint64_t seed = 1; seed <= 5; ++seed)
            runs.push_back(std::async(std::launch::async,
                                      [&, seed] { return Upload(source, loss, seed, r.args); }));
        for (std::size_t i = 0; i < runs.size(); ++i) {
            const auto [run, counts] = runs[i].get();
            if (r.args[1] != "0") {
                EXPECT_EQ(run.Status, 0) << "seed " << i + 1 << ": " << run.Errors;
            }
            // Each DATA answered by a doubled ACK would go out twice more
            // from then on; re-sends of delayed packets stay few.
            EXPECT_LT(counts.Received[ldToServer], blocks * 3 / 2) << "seed " << i + 1;
        }
    }
}

} // namespace
