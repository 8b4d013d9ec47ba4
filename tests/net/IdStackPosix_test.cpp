// The POSIX stack's own translation: errno values become the socket error
// numbers of the same condition.
#include <gtest/gtest.h>

#include <unistd.h>

#include "tests/net/OfflineStack.h"
#include "tests/support/UdpPeer.h"

// Real failures of the system calls, each reported with the socket error
// number of its condition rather than Linux's errno value.
TEST(PosixStackErrors, ErrnoBecomesTheSocketErrorOfTheSameCondition) {
    StackUsage usage;
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    TUdpPeer occupied("127.0.0.45");
    StackSocket s;
    ExpectSocketError([&] { GStack->ReadSocketOption(pipeFds[0], IdSolSocket, IdSoType); }, 10038);
    ExpectSocketError([&] { GStack->ReadSocketOption(-1, IdSolSocket, IdSoType); }, 10009);
    ExpectSocketError([&] { GStack->BindSocket(s.fd, "127.0.0.45", occupied.Port(), Id_IPv4); },
                      10048);
    ExpectSocketError([&] { GStack->ConnectSocket(s.fd, "::1", 9, Id_IPv6); }, 10047);
    GStack->ConnectSocket(s.fd, "127.0.0.45", occupied.Port(), Id_IPv4);
    // The same datagram that send-to refuses as too big is a plain socket error here.
    ExpectSocketError([&] { GStack->SendOnSocket(s.fd, TIdBytes(70000), 0, -1); }, 10040);
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
}

TEST(PosixStackErrors, RefusedDatagramIsReportedOnTheNextReceive) {
    StackUsage usage;
    std::uint16_t closedPort = TUdpPeer("127.0.0.46").Port();
    StackSocket s;
    GStack->ConnectSocket(s.fd, "127.0.0.46", closedPort, Id_IPv4);
    GStack->SendOnSocket(s.fd, TIdBytes{1, 2, 3}, 0, -1);
    ASSERT_GT(GStack->WaitForReadable({s.fd}, 2000), 0);
    TIdBytes buffer(16);
    ExpectSocketError([&] { GStack->ReceiveOnSocket(s.fd, buffer); }, 10061);
}
