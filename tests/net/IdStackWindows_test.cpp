// The Windows stack's own side: the socket library loaded at run time and
// its failures, and the platform's socket error numbers passed on as they are.
#include <gtest/gtest.h>

#include <typeinfo>

#include "net/IdUDPClient.h"
#include "runtime/Files.h"
#include "tests/net/OfflineStack.h"
#include "tests/support/UdpPeer.h"

namespace {

/// A stack on the socket library in another file.
struct TIdStackOnLibrary : TIdStackWindows {
    explicit TIdStackOnLibrary(const std::string& AFile) : TIdStackWindows(AFile) {}
};

std::string gLibraryFile;

} // namespace

TEST(WinsockLoading, FailuresReachTheCreatorAsStackInitializationFailed) {
    const struct {
        const char* file;
        std::string message;
    } rows[] = {
        {"NO-SUCH-LIBRARY.DLL",
         "Error on loading Winsock2 library (NO-SUCH-LIBRARY.DLL): " + SysErrorMessage(126)},
        {"KERNEL32.DLL",
         "Error on call to Winsock2 library function WSAStartup: " + SysErrorMessage(10022)},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.file);
        ASSERT_EQ(TIdStack::UsageCount(), 0);
        gLibraryFile = r.file;
        const TIdStackClass registered = StackClass();
        SetStackClass([]() -> TIdStack* { return new TIdStackOnLibrary(gLibraryFile); });
        ExpectFailure([] { TIdUDPClient client; }, typeid(EIdStackInitializationFailed), r.message);
        SetStackClass(registered);
        EXPECT_EQ(GStack, nullptr);
    }
    // The library that did load keeps serving.
    StackUsage usage;
    StackSocket s;
    EXPECT_NE(s.fd, IdInvalidSocket);
}

TEST(WindowsStackErrors, SocketErrorNumbersAreThePlatformsOwn) {
    StackUsage usage;
    TUdpPeer occupied("127.0.0.45");
    StackSocket s;
    ExpectSocketError([&] { GStack->ReadSocketOption(IdInvalidSocket, IdSolSocket, IdSoType); },
                      10038);
    ExpectSocketError([&] { GStack->BindSocket(s.fd, "127.0.0.45", occupied.Port(), Id_IPv4); },
                      10048);
    GStack->ConnectSocket(s.fd, "127.0.0.45", occupied.Port(), Id_IPv4);
    // The same datagram that send-to refuses as too big is a plain socket error here.
    ExpectSocketError([&] { GStack->SendOnSocket(s.fd, TIdBytes(70000), 0, -1); }, 10040);
    // The library's option numbers reach the platform as its own.
    EXPECT_EQ(GStack->ReadSocketOption(s.fd, IdSolSocket, IdSoType), IdSockDgram);
    GStack->WriteSocketOption(s.fd, IdSolSocket, IdSoBroadcast, 1);
    EXPECT_EQ(GStack->ReadSocketOption(s.fd, IdSolSocket, IdSoBroadcast), 1);
}
