#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "net/IdUDPClient.h"
#include "tests/net/OfflineStack.h"
#include "tests/support/Failure.h"
#include "tests/support/UdpPeer.h"

namespace {

/// An endpoint whose statuses and events are written down as lines.
struct RecordedClient {
    std::vector<std::string> log; // outlives the client, whose destruction closes
    TIdUDPClient client;

    RecordedClient() {
        client.OnStatus = [this](TIdComponent*, TIdStatus s, const std::string& text) {
            log.push_back(std::to_string(int{s}) + " " + text);
        };
        client.OnConnected = [this](TIdComponent*) { log.push_back("OnConnected"); };
        client.OnDisconnected = [this](TIdComponent*) { log.push_back("OnDisconnected"); };
    }
    void Target(const std::string& host, std::uint16_t port) {
        client.SetHost(host);
        client.SetPort(port);
    }
    void OpenTo(const TUdpPeer& unit) {
        Target(unit.IP(), unit.Port());
        client.OpenEndpoint();
    }
    /// Sends from APeer to where the client's datagrams come from, as a reply goes.
    void Reply(TUdpPeer& APeer, const TIdBytes& AData) {
        APeer.SendTo(client.SocketHandle().IP(), client.SocketHandle().Port(), AData);
    }
};

using Log = std::vector<std::string>;

} // namespace

TEST(OpenEndpoint, LiteralHostConnectsWithoutResolving) {
    TUdpPeer unit("127.0.0.54");
    RecordedClient r;
    r.OpenTo(unit);
    EXPECT_EQ(r.log, (Log{"2 Connected.", "OnConnected"}));
    EXPECT_TRUE(r.client.IsOpen());
    EXPECT_EQ(r.client.SocketHandle().PeerIP(), unit.IP());

    r.client.SendDatagram(TIdBytes{1, 2, 3});
    auto got = unit.Receive();
    ASSERT_TRUE(got);
    EXPECT_EQ(got->Bytes, (TIdBytes{1, 2, 3}));
    EXPECT_EQ(got->Port, r.client.SocketHandle().Port());
}

TEST(OpenEndpoint, LocalhostIsResolvedWithAStatusButWithoutALookup) {
    ScopedOfflineStack offline;
    TUdpPeer unit("127.0.0.1");
    RecordedClient r;
    r.Target("LOCALHOST", unit.Port());
    r.client.OpenEndpoint();
    EXPECT_EQ(r.log, (Log{"0 Resolving hostname LOCALHOST.", "2 Connected.", "OnConnected"}));
    EXPECT_EQ(r.client.SocketHandle().PeerIP(), "127.0.0.1");
    EXPECT_TRUE(TIdStackOffline::Asked.empty());
}

TEST(OpenEndpoint, UnknownHostIsNotFoundAndNothingIsAllocated) {
    ASSERT_EQ(TIdStack::UsageCount(), 0);
    ScopedOfflineStack offline;
    RecordedClient r;
    r.Target("unit.invalid", 69);
    ExpectSocketError([&] { r.client.OpenEndpoint(); }, 11001); // "Host not found."
    EXPECT_EQ(r.log, (Log{"0 Resolving hostname unit.invalid."}));
    EXPECT_FALSE(r.client.Active());
    EXPECT_THROW(r.client.SendDatagramTo("other.invalid", 69, TIdBytes{1}), EIdSocketError);
    EXPECT_EQ(TIdStackOffline::Asked, (std::vector<std::string>{"unit.invalid", "other.invalid"}));
}

TEST(OpenEndpoint, BindFailureLeavesTheEndpointClosed) {
    TUdpPeer occupied("127.0.0.55");
    RecordedClient r;
    r.Target("127.0.0.55", occupied.Port());
    r.client.SetBoundIP("127.0.0.55");
    r.client.SetBoundPort(occupied.Port());
    EXPECT_THROW_MSG(r.client.OpenEndpoint(), EIdCouldNotBindSocket, "Could not bind socket.");
    EXPECT_FALSE(r.client.IsOpen());
    EXPECT_TRUE(r.log.empty());
}

TEST(ReceiveDatagram, ConnectedEndpointHearsOnlyItsPeer) {
    TUdpPeer unit("127.0.0.56");
    TUdpPeer stranger("127.0.0.56");
    RecordedClient r;
    r.OpenTo(unit);
    r.Reply(stranger, TIdBytes{0xEE});
    r.Reply(unit, TIdBytes{4, 5});

    TIdBytes buffer(16);
    std::string ip;
    std::uint16_t port = 1;
    EXPECT_EQ(r.client.ReceiveDatagram(buffer, ip, port, 2000), 2);
    EXPECT_EQ(buffer[0], 4);
    EXPECT_EQ(ip, unit.IP());
    EXPECT_EQ(port, unit.Port());
    EXPECT_EQ(r.client.ReceiveDatagram(buffer, ip, port, 200), 0);
    EXPECT_EQ(ip, "");
    EXPECT_EQ(port, 0);
}

TEST(ReceiveDatagram, TimeOutReturnsZeroWithoutPeerAfterAboutTheTime) {
    RecordedClient r;
    r.client.SetBoundIP("127.0.0.57");
    r.client.SetReceiveTimeout(300);
    // One socket, one wait after the other: each lasts its own time, not the
    // one before it.
    const struct {
        std::int32_t wait; // -1: ReceiveTimeout
        int atLeastMs, belowMs;
    } rows[] = {{-1, 250, 5000}, {0, 0, 100}, {100, 80, 250}, {-1, 250, 5000}, {0, 0, 100}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.wait);
        TIdBytes buffer(8);
        std::string ip = "x";
        std::uint16_t port = 7;
        TIdIPVersion version = Id_IPv6;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(r.client.ReceiveDatagram(buffer, ip, port, version, row.wait), 0);
        const auto waited = std::chrono::steady_clock::now() - start;
        EXPECT_GE(waited, std::chrono::milliseconds(row.atLeastMs));
        EXPECT_LT(waited, std::chrono::milliseconds(row.belowMs));
        EXPECT_EQ(ip, "");
        EXPECT_EQ(port, 0);
        EXPECT_EQ(version, Id_IPv6) << "the family is left as it was";
    }
    EXPECT_TRUE(r.client.Active()) << "the receive allocated and bound a socket";
    EXPECT_EQ(r.client.SocketHandle().IP(), "127.0.0.57");
}

TEST(ReceiveDatagram, OversizedDatagramFailsAndTheNextOneIsReceived) {
    TUdpPeer unit("127.0.0.58");
    RecordedClient r;
    r.OpenTo(unit);
    r.Reply(unit, TIdBytes(16, 1));
    r.Reply(unit, TIdBytes{7, 7, 7});
    TIdBytes buffer(8);
    std::string ip;
    std::uint16_t port = 0;
    ExpectSocketError([&] { r.client.ReceiveDatagram(buffer, ip, port, 2000); }, 10040);
    EXPECT_EQ(r.client.ReceiveDatagram(buffer, ip, port, 2000), 3);
    EXPECT_EQ(buffer, (TIdBytes{7, 7, 7, 1, 1, 1, 1, 1})) << "filled from its start, not resized";
    EXPECT_EQ(ip, unit.IP());
    EXPECT_EQ(port, unit.Port());
}

TEST(SendDatagramTo, GoesToTheGivenDestinationEvenWhenOpen) {
    TUdpPeer unit("127.0.0.59");
    TUdpPeer other("127.0.0.59");
    RecordedClient r;
    r.Target(unit.IP(), unit.Port());
    r.client.SendDatagram(TIdBytes{1}); // not open: to Host:Port
    auto got = unit.Receive();
    ASSERT_TRUE(got);
    EXPECT_EQ(got->Bytes, TIdBytes{1});

    r.client.OpenEndpoint();
    r.client.SendDatagramTo(other.IP(), other.Port(), TIdBytes{2});
    got = other.Receive();
    ASSERT_TRUE(got);
    EXPECT_EQ(got->Bytes, TIdBytes{2});
    EXPECT_FALSE(unit.Receive(100));
}

TEST(CloseEndpoint, StatusesAroundTheCloseAndSilenceAfterARelease) {
    TUdpPeer unit("127.0.0.54");
    RecordedClient r;
    r.OpenTo(unit);
    r.log.clear();
    r.client.CloseEndpoint();
    EXPECT_EQ(r.log, (Log{"3 Disconnecting.", "OnDisconnected", "4 Disconnected."}));
    r.client.CloseEndpoint();
    EXPECT_EQ(r.log.size(), 3u) << "closing twice is harmless";

    // The transfer releases the socket itself; the close that follows is silent.
    r.client.OpenEndpoint();
    r.log.clear();
    r.client.SocketHandle().ReleaseSocket();
    EXPECT_FALSE(r.client.IsOpen());
    r.client.CloseEndpoint();
    EXPECT_TRUE(r.log.empty());
    r.client.OpenEndpoint();
    EXPECT_EQ(r.log, (Log{"2 Connected.", "OnConnected"}));
}

TEST(Setters, HostPortAndIPVersionCloseOnlyOnAChange) {
    TUdpPeer unit("127.0.0.55");
    RecordedClient r;
    r.OpenTo(unit);
    r.log.clear();
    r.client.SetPort(unit.Port());
    r.client.SetHost(unit.IP());
    r.client.SetIPVersion(Id_IPv4);
    EXPECT_TRUE(r.client.IsOpen());
    EXPECT_TRUE(r.log.empty());
    r.client.SetPort(static_cast<std::uint16_t>(unit.Port() + 1));
    EXPECT_FALSE(r.client.IsOpen());
    EXPECT_EQ(r.log, (Log{"3 Disconnecting.", "OnDisconnected", "4 Disconnected."}));
    r.client.OpenEndpoint();
    r.client.SetHost("127.0.0.56");
    EXPECT_FALSE(r.client.IsOpen());
}
