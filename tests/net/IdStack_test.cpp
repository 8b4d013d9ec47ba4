#include <gtest/gtest.h>

#include <fcntl.h>
#include <functional>
#include <memory>
#include <unistd.h>

#include "net/IdStack.h"
#include "net/IdUDPClient.h"
#include "tests/net/OfflineStack.h"
#include "tests/net/UdpPeer.h"

namespace {

/// A fresh socket of the stack, closed at the end of the scope.
struct StackSocket {
    explicit StackSocket(TIdIPVersion v = Id_IPv4)
        : fd(GStack->NewSocket(Id_SOCK_DGRAM, Id_IPPROTO_IP, false, v)) {}
    ~StackSocket() { GStack->ShutAndClose(fd); }
    int fd;
};

} // namespace

TEST(SocketErrorText, NumberOnTheFirstLineAndTheTableTextOnTheSecond) {
    const struct {
        int code;
        const char* message;
    } rows[] = {
        {10061, "Socket Error # 10061\r\nConnection refused."},
        {10040, "Socket Error # 10040\r\nMessage too long."},
        {10066, "Socket Error # 10066\r\nDirectory not empty"},
        {11001, "Socket Error # 11001\r\nHost not found."},
        {11002, "Socket Error # 11002\r\n"},
        {0, "Socket Error # 0\r\n"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.code);
        EXPECT_EQ(TIdStack::SocketErrorText(r.code), r.message);
    }
}

TEST(ThrowSocketError, NotASocketHasItsOwnClassAndEveryErrorCarriesItsCode) {
    try {
        TIdStack::ThrowSocketError(10038);
    } catch (const EIdNotASocket& e) {
        EXPECT_EQ(e.LastError(), 10038);
    }
    try {
        TIdStack::ThrowSocketError(10054);
    } catch (const EIdNotASocket&) {
        ADD_FAILURE() << "10054 is not 10038";
    } catch (const EIdSocketError& e) {
        EXPECT_EQ(e.LastError(), 10054);
        EXPECT_STREQ(e.what(), "Socket Error # 10054\r\nConnection reset by peer.");
    }
}

// Real failures of the system calls, each reported with the socket error
// number of its condition rather than Linux's errno value.
TEST(PosixStackErrors, ErrnoBecomesTheSocketErrorOfTheSameCondition) {
    StackUsage usage;
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    UdpPeer occupied("127.0.0.45");
    const struct {
        const char* what;
        int code;
        std::function<void()> call;
    } rows[] = {
        {"option on a pipe", 10038,
         [&] { GStack->ReadSocketOption(pipeFds[0], Id_SOL_SOCKET, Id_SO_TYPE); }},
        {"option on no descriptor", 10009,
         [&] { GStack->ReadSocketOption(-1, Id_SOL_SOCKET, Id_SO_TYPE); }},
        {"bind to a port in use", 10048,
         [&] {
             StackSocket s;
             GStack->BindSocket(s.fd, "127.0.0.45", occupied.Port(), Id_IPv4);
         }},
        {"bind to an address not on this machine", 10049,
         [&] {
             StackSocket s(Id_IPv6);
             GStack->BindSocket(s.fd, "2001:db8::1", 0, Id_IPv6);
         }},
        {"send more than a datagram holds", 10040,
         [&] {
             StackSocket s;
             GStack->ConnectSocket(s.fd, "127.0.0.45", occupied.Port(), Id_IPv4);
             GStack->SendOnSocket(s.fd, TIdBytes(70000), 0, -1);
         }},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        try {
            r.call();
            ADD_FAILURE() << "no failure";
        } catch (const EIdSocketError& e) {
            EXPECT_EQ(e.LastError(), r.code);
            EXPECT_EQ(std::string(e.what()), TIdStack::SocketErrorText(r.code));
        }
    }
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
}

TEST(PosixStackErrors, RefusedDatagramIsReportedOnTheNextReceive) {
    StackUsage usage;
    std::uint16_t closedPort = 0;
    {
        UdpPeer gone("127.0.0.46");
        closedPort = gone.Port();
    }
    StackSocket s;
    GStack->ConnectSocket(s.fd, "127.0.0.46", closedPort, Id_IPv4);
    GStack->SendOnSocket(s.fd, TIdBytes{1, 2, 3}, 0, -1);
    ASSERT_TRUE(GStack->WaitForReadable({s.fd}, 2000) > 0);
    TIdBytes buffer(16);
    try {
        GStack->ReceiveOnSocket(s.fd, buffer);
        ADD_FAILURE() << "no failure";
    } catch (const EIdSocketError& e) {
        EXPECT_EQ(e.LastError(), 10061);
        EXPECT_STREQ(e.what(), "Socket Error # 10061\r\nConnection refused.");
    }
}

TEST(StackUsage, TheStackExistsExactlyWhileComponentsDo) {
    ASSERT_EQ(TIdStack::UsageCount(), 0);
    EXPECT_EQ(GStack, nullptr);
    auto first = std::make_unique<TIdComponent>();
    TIdStack* stack = GStack;
    ASSERT_NE(stack, nullptr);
    {
        TIdUDPClient second;
        EXPECT_EQ(GStack, stack) << "a second component shares the stack";
        second.SetActive(true);
    }
    EXPECT_EQ(GStack, stack);
    first.reset();
    EXPECT_EQ(GStack, nullptr);
    EXPECT_EQ(TIdStack::UsageCount(), 0);
    TIdStack::DecUsage(); // at count 0: nothing
    EXPECT_EQ(TIdStack::UsageCount(), 0);
}

TEST(StackUsage, CreationFaultsHaveTheirMessages) {
    ASSERT_EQ(TIdStack::UsageCount(), 0);
    {
        const TIdStackClass registered = StackClass();
        SetStackClass(nullptr);
        EXPECT_THROW_MSG(TIdUDPClient client, EIdStackError, "Stack Class is undefined.");
        SetStackClass(registered);
    }
    TIdStackPosix stray;
    GStack = &stray;
    EXPECT_THROW_MSG(TIdStack::IncUsage(), EIdStackError, "Stack already created.");
    GStack = nullptr;
    EXPECT_EQ(TIdStack::UsageCount(), 0);
}

TEST(SocketList, HoldsSixtyFourDistinctSocketsAndFillsGapsFromTheEnd) {
    TIdSocketList list;
    for (int s = 100; s < 164; ++s)
        list.Add(s);
    list.Add(100);
    EXPECT_EQ(list.Count(), 64u);
    EXPECT_THROW_MSG(list.Add(500), EIdStackSetSizeExceeded, "Set Size Exceeded.");
    list.Remove(101);
    EXPECT_EQ(list.Snapshot()[1], 163);
    EXPECT_FALSE(list.Contains(101));
    list.Add(500);
    EXPECT_TRUE(list.Contains(500));
}

TEST(LookupHostAddress, ResolverCodesBecomeSocketErrors) {
    const struct {
        int resolverCode;
        int code;
        const char* secondLine;
    } rows[] = {
        {EAI_NONAME, 11001, "Host not found."},
        {EAI_AGAIN, 11002, ""},
        {EAI_FAIL, 11003, ""},
        {EAI_NODATA, 11004, ""},
        {EAI_FAMILY, 10047, "Address family not supported by protocol family."},
        {EAI_SERVICE, 10109, ""},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.resolverCode);
        ASSERT_EQ(TIdStack::UsageCount(), 0);
        ScopedOfflineStack offline(r.resolverCode);
        StackUsage usage;
        try {
            GStack->LookupHostAddress("unit.example", Id_IPv4);
            ADD_FAILURE() << "no failure";
        } catch (const EIdSocketError& e) {
            EXPECT_EQ(e.LastError(), r.code);
            EXPECT_EQ(std::string(e.what()),
                      "Socket Error # " + std::to_string(r.code) + "\r\n" + r.secondLine);
        }
    }
}

TEST(LookupHostAddress, InternationalNamesAreAskedForInTheirASCIIForm) {
    ScopedOfflineStack offline;
    StackUsage usage;
    EXPECT_THROW(GStack->LookupHostAddress("b\xC3\xBC"
                                           "cher.example",
                                           Id_IPv4),
                 EIdSocketError);
    ASSERT_EQ(TIdStackOffline::Asked.size(), 1u);
    EXPECT_EQ(TIdStackOffline::Asked[0], "xn--bcher-kva.example");
    EXPECT_THROW(GStack->LookupHostAddress("\xFF\xFE", Id_IPv4), EOSError);
}

TEST(LookupHostAddress, LocalhostFromTheHostsFile) {
    StackUsage usage;
    EXPECT_EQ(GStack->LookupHostAddress("localhost", Id_IPv4), "127.0.0.1");
}
