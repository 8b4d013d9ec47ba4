#include <gtest/gtest.h>

#include <chrono>

#include "net/IdComponent.h"
#include "net/IdSocketHandle.h"
#include "runtime/Format.h"
#include "tests/net/OfflineStack.h"
#include "tests/support/Failure.h"
#include "tests/support/UdpPeer.h"

namespace {

using Clock = std::chrono::steady_clock;

long MillisecondsSince(Clock::time_point start) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

/// A handle with an allocated datagram socket and the given local address.
void Allocate(TIdSocketHandle& h, const std::string& ip, std::uint16_t port = 0) {
    h.OpenSocket();
    h.SetIP(ip);
    h.SetPort(port);
}

/// The port the socket is bound to, asked of the system; 0 when it is not
/// bound (Windows refuses to tell the address of an unbound socket).
std::uint16_t BoundPort(const TIdSocketHandle& h) {
    std::string ip;
    std::uint16_t port = 0;
    TIdIPVersion v = Id_IPv4;
    try {
        GStack->LocalAddressOf(h.Handle(), ip, port, v);
    } catch (const EIdSocketError& e) {
        EXPECT_EQ(e.LastError(), 10022) << "only an unbound socket has no address";
    }
    return port;
}

} // namespace

TEST(BindLocal, PortRangeIsTriedFromTheTopDown) {
    TUdpPeer top("127.0.0.47");
    const std::uint16_t max = top.Port();
    TIdSocketHandle h;
    Allocate(h, "127.0.0.47");
    h.SetClientPortMin(static_cast<std::uint16_t>(max - 2));
    h.SetClientPortMax(max);
    h.BindLocal(); // the top is taken, so the next one down
    EXPECT_EQ(h.Port(), max - 1);
    EXPECT_EQ(BoundPort(h), max - 1);
    EXPECT_EQ(h.IP(), "127.0.0.47");
}

TEST(BindLocal, FullRangeAndReversedRangeHaveTheirMessages) {
    TUdpPeer a("127.0.0.48");
    TUdpPeer b("127.0.0.48", static_cast<std::uint16_t>(a.Port() - 1));
    TIdSocketHandle h;
    Allocate(h, "127.0.0.48");
    h.SetClientPortMin(b.Port());
    h.SetClientPortMax(a.Port());
    EXPECT_THROW_MSG(h.BindLocal(), EIdCanNotBindPortInRange,
                     Format("Can not bind in port range (%d - %d)", int{b.Port()}, int{a.Port()}));

    TIdSocketHandle reversed;
    Allocate(reversed, "127.0.0.48");
    reversed.SetClientPortMin(6000);
    reversed.SetClientPortMax(5000);
    EXPECT_THROW_MSG(reversed.BindLocal(), EIdInvalidPortRange, "Invalid Port Range (6000 - 5000)");
    EXPECT_EQ(BoundPort(reversed), 0) << "no port was tried";
}

TEST(BindLocal, OccupiedFixedPortOrBadAddressCouldNotBind) {
    TUdpPeer occupied("127.0.0.49");
    TIdSocketHandle h;
    Allocate(h, "127.0.0.49", occupied.Port());
    EXPECT_THROW_MSG(h.BindLocal(), EIdCouldNotBindSocket, "Could not bind socket.");
    EXPECT_TRUE(h.HandleAllocated()) << "the socket stays allocated";

    TIdSocketHandle bad;
    Allocate(bad, "127.0.0");
    EXPECT_THROW_MSG(bad.BindLocal(), EIdCouldNotBindSocket, "Could not bind socket.");
}

TEST(ConnectToPeer, RefreshesBothAddressesAndSendsToThePeer) {
    TUdpPeer peer("127.0.0.51");
    TIdSocketHandle h;
    Allocate(h, peer.IP());
    h.BindLocal();
    // The peer's address with blanks around its last dot: a literal all the same.
    std::string spaced = peer.IP();
    spaced.replace(spaced.rfind('.'), 1, " . ");
    h.AssignPeer(spaced, peer.Port(), Id_IPv4);
    h.ConnectToPeer();
    EXPECT_EQ(h.PeerIP(), peer.IP());
    EXPECT_EQ(h.PeerPort(), peer.Port());
    EXPECT_EQ(h.IP(), peer.IP());

    EXPECT_EQ(h.SendBytes(TIdBytes{9, 8, 7, 6}, 1, 2), 2);
    auto got = peer.Receive();
    ASSERT_TRUE(got);
    EXPECT_EQ(got->Bytes, (TIdBytes{8, 7}));
    EXPECT_EQ(got->Port, h.Port());
}

TEST(SendBytesTo, OversizedIsPackageSizeTooBig) {
    TUdpPeer peer("127.0.0.52");
    TIdSocketHandle h;
    Allocate(h, "127.0.0.52");
    h.BindLocal();
    EXPECT_THROW_MSG(h.SendBytesTo(peer.IP(), peer.Port(), Id_IPv4, TIdBytes(70000)),
                     EIdPackageSizeTooBig, "Package Size Too Big.");
    h.SendBytesTo(peer.IP(), peer.Port(), Id_IPv4, TIdBytes{});
    auto got = peer.Receive();
    ASSERT_TRUE(got) << "an empty datagram is still a datagram";
    EXPECT_TRUE(got->Bytes.empty());
}

TEST(WaitReadable, NeedsASocketAndPollsOnceForZero) {
    TIdSocketHandle h;
    EXPECT_THROW_MSG(h.WaitReadable(0), EIdConnClosedGracefully, "Connection Closed Gracefully.");
    Allocate(h, "127.0.0.53");
    h.BindLocal();
    const auto start = Clock::now();
    EXPECT_FALSE(h.WaitReadable(0));
    EXPECT_LT(MillisecondsSince(start), 1000);
}

TEST(WaitReadable, AnAntiFreezeGetsTheIdleStepsOfALongWait) {
    struct CountingAntiFreeze : TIdAntiFreezeBase {
        int calls = 0;
        void ProcessEvents() override { ++calls; }
    } antiFreeze;
    antiFreeze.IdleTimeOut = 50;
    TIdSocketHandle h;
    Allocate(h, "127.0.0.53");
    h.BindLocal();
    EXPECT_FALSE(h.WaitReadable(220)); // four steps of 50, then the remaining 20
    EXPECT_EQ(antiFreeze.calls, 5);
}

TEST(ReleaseSocket, IsSilentAndRepeatableAndTheHandleCanAllocateAgain) {
    TIdSocketHandle h;
    h.ReleaseSocket();
    h.SetIPVersion(Id_IPv6);
    Allocate(h, "");
    EXPECT_THROW_MSG(h.SetIPVersion(Id_IPv4), EIdCannotSetIPVersionWhenConnected,
                     "Cannot change IPVersion when connected");
    h.SetBroadcastEnabled(true);
    EXPECT_EQ(h.ReadSocketOption(IdSolSocket, IdSoBroadcast), 1);
    h.ReleaseSocket();
    h.ReleaseSocket();
    EXPECT_FALSE(h.HandleAllocated());
    EXPECT_EQ(h.Handle(), IdInvalidSocket);
    EXPECT_EQ(h.SocketType(), 0);

    h.SetIPVersion(Id_IPv4);
    h.OpenSocket();
    EXPECT_EQ(h.SocketType(), IdSockDgram);
    EXPECT_EQ(h.ReadSocketOption(IdSolSocket, IdSoBroadcast), 1)
        << "the new socket carries the handle's broadcast setting";
}
