// Tests of the loss rig: the loss model's fates from a seed, and the relay
// between scripted loopback peers (forwarding, following a new server port,
// each fault in each direction).
#include <gtest/gtest.h>

#include <chrono>

#include "tests/support/UdpPeer.h"
#include "tools/udp-relay/UdpRelay.h"

namespace {

using Clock = std::chrono::steady_clock;

TEST(LossModel, RatesHoldAndTheSeedReplaysTheFates) {
    const struct {
        double rate;
        double low, high; // the share of 20000 datagrams that must get the fate
    } rows[] = {{0, 0, 0}, {0.05, 0.04, 0.06}, {0.5, 0.48, 0.52}, {1, 1, 1}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.rate);
        TLossSettings s;
        s.Seed = 42;
        s.Rates[ldToServer] = {r.rate, r.rate, r.rate, r.rate};
        int dropped = 0, duplicated = 0, delayed = 0, reordered = 0, kept = 0;
        constexpr int Count = 20000;
        for (int i = 0; i < Count; ++i) {
            const TLossFate f = FateOf(s, ldToServer, i);
            const TLossFate again = FateOf(s, ldToServer, i);
            EXPECT_EQ(f.Drop, again.Drop);
            EXPECT_FALSE(FateOf(s, ldToClient, i).Drop) << "the other direction has no losses";
            dropped += f.Drop;
            EXPECT_FALSE(f.Drop && (f.Duplicate || f.Delay || f.Reorder));
            if (!f.Drop) {
                ++kept;
                duplicated += f.Duplicate;
                delayed += f.Delay;
                reordered += f.Reorder;
            }
        }
        EXPECT_GE(dropped, r.low * Count);
        EXPECT_LE(dropped, r.high * Count);
        // Among the datagrams kept, each other fate has its own rate.
        for (const int n : {duplicated, delayed, reordered}) {
            EXPECT_GE(n, r.low * kept - 1);
            EXPECT_LE(n, r.high * kept + 1);
        }
    }
    TLossSettings a, b;
    a.Rates[ldToServer].Drop = b.Rates[ldToServer].Drop = 0.5;
    b.Seed = a.Seed + 1;
    int differ = 0;
    for (int i = 0; i < 100; ++i)
        differ += FateOf(a, ldToServer, i).Drop != FateOf(b, ldToServer, i).Drop;
    EXPECT_GT(differ, 20) << "another seed, other fates";
}

/// A relay between a client peer and a server peer on loopback.
class RelayTest : public ::testing::Test {
protected:
    void Start(const TLossSettings& loss = {}) {
        TUdpRelaySettings s;
        s.ListenAddress = "127.0.0.62";
        s.ServerAddress = server.IP();
        s.ServerPort = server.Port();
        s.Loss = loss;
        relay = std::make_unique<TUdpRelay>(s);
        relay->Start();
    }
    void ToServer(std::string_view text) {
        client.SendTo("127.0.0.62", relay->ListenPort(), Bytes(text));
    }

    TUdpPeer client{"127.0.0.63"};
    TUdpPeer server{"127.0.0.64"};
    std::unique_ptr<TUdpRelay> relay;
};

TEST_F(RelayTest, ForwardsBothWaysAndFollowsAServerThatAnswersFromANewPort) {
    Start();
    ToServer("request");
    const auto request = server.Receive();
    ASSERT_TRUE(request);
    EXPECT_EQ(request->Text(), "request");
    EXPECT_EQ(request->IP, "127.0.0.62");

    TUdpPeer transfer{"127.0.0.64"}; // the server's port for this transfer
    transfer.Reply(*request, Bytes("answer"));
    const auto answer = client.Receive();
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->Text(), "answer");
    EXPECT_NE(answer->Port, relay->ListenPort()) << "a new server port shows as a new relay port";

    client.Reply(*answer, Bytes("data"));
    const auto data = transfer.Receive();
    ASSERT_TRUE(data);
    EXPECT_EQ(data->Text(), "data");
    EXPECT_EQ(data->Port, request->Port) << "one upstream socket per client";
    EXPECT_FALSE(server.Receive(50));

    server.Reply(*request, Bytes("late"));
    const auto late = client.Receive();
    ASSERT_TRUE(late);
    EXPECT_EQ(late->Port, relay->ListenPort()) << "the server's own port answers from the relay's";
}

TEST_F(RelayTest, EachFaultInEachDirection) {
    const struct {
        const char* what;
        TLossDirection direction;
        TLossRates rates;
        std::vector<std::string> arrive; // after "A" and then "B" were sent
    } rows[] = {
        {"drop to server", ldToServer, {1, 0, 0, 0}, {}},
        {"drop to client", ldToClient, {1, 0, 0, 0}, {}},
        {"duplicate to server", ldToServer, {0, 1, 0, 0}, {"A", "A", "B", "B"}},
        {"duplicate to client", ldToClient, {0, 1, 0, 0}, {"A", "A", "B", "B"}},
        {"reorder to server", ldToServer, {0, 0, 0, 1}, {"B", "A"}},
        {"reorder to client", ldToClient, {0, 0, 0, 1}, {"B", "A"}},
        {"delay to client", ldToClient, {0, 0, 1, 0}, {"A", "B"}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        TLossSettings loss;
        loss.Rates[r.direction] = r.rates;
        loss.DelayTime = std::chrono::milliseconds(200);
        Start(loss);
        // Towards the client, a first datagram shows the server where the
        // relay's upstream port is; that direction has no faults here.
        std::optional<Datagram> hello;
        if (r.direction == ldToClient) {
            ToServer("hello");
            hello = server.Receive();
            ASSERT_TRUE(hello);
        }
        TUdpPeer& to = r.direction == ldToServer ? server : client;
        const auto start = Clock::now();
        for (const char* text : {"A", "B"}) {
            if (r.direction == ldToServer)
                ToServer(text);
            else
                server.Reply(*hello, Bytes(text));
        }
        std::vector<std::string> arrived;
        while (const auto d = to.Receive(r.arrive.size() > arrived.size() ? 3000 : 300))
            arrived.push_back(d->Text());
        EXPECT_EQ(arrived, r.arrive);
        if (r.rates.Delay > 0) {
            EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(200));
        }
        relay->Stop();
    }
}

TEST_F(RelayTest, TheSameSeedLosesTheSameDatagrams) {
    std::vector<std::string> runs[2];
    for (auto& arrived : runs) {
        TLossSettings loss;
        loss.Seed = 7;
        loss.Rates[ldToServer].Drop = 0.3;
        Start(loss);
        for (int i = 0; i < 100; ++i)
            ToServer(std::to_string(i));
        while (const auto d = server.Receive(300))
            arrived.push_back(d->Text());
        relay->Stop();
        const TUdpRelayCounts c = relay->Counts();
        EXPECT_EQ(c.Received[ldToServer], 100u);
        EXPECT_EQ(c.Dropped[ldToServer] + arrived.size(), 100u);
    }
    EXPECT_EQ(runs[0], runs[1]);
    EXPECT_GT(runs[0].size(), 50u);
    EXPECT_LT(runs[0].size(), 90u);
}

} // namespace
