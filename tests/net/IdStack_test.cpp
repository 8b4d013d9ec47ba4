#include <gtest/gtest.h>

#include <memory>

#include "net/IdUDPClient.h"
#include "tests/net/OfflineStack.h"
#include "tests/support/Failure.h"
#include "tests/support/Platform.h"
#include "tests/support/UdpPeer.h"

TEST(SocketErrorText, NumberOnTheFirstLineAndTheTableTextOnTheSecond) {
    EXPECT_EQ(TIdStack::SocketErrorText(10061), "Socket Error # 10061\r\nConnection refused.");
    EXPECT_EQ(TIdStack::SocketErrorText(11001), "Socket Error # 11001\r\nHost not found.");
    EXPECT_EQ(TIdStack::SocketErrorText(11002), "Socket Error # 11002\r\n");
    EXPECT_THROW(TIdStack::ThrowSocketError(10038), EIdNotASocket);
}

TEST(StackUsage, TheStackExistsExactlyWhileComponentsDo) {
    ASSERT_EQ(TIdStack::UsageCount(), 0);
    EXPECT_EQ(GStack, nullptr);
    auto first = std::make_unique<TIdComponent>();
    TIdStack* stack = GStack;
    ASSERT_NE(stack, nullptr);
    {
        TIdUDPClient second;
        second.SetActive(true);
        EXPECT_EQ(GStack, stack) << "a second component shares the stack";
    }
    first.reset();
    EXPECT_EQ(GStack, nullptr);
    TIdStack::DecUsage(); // at count 0: nothing
    EXPECT_EQ(TIdStack::UsageCount(), 0);

    // The parts a component owns are destroyed before it gives its usage
    // back, so a part that closes a socket on its way out still has the stack.
    struct OwnedPart : TComponent {
        bool& sawStack;
        OwnedPart(TComponent* AOwner, bool& seen) : TComponent(AOwner), sawStack(seen) {}
        ~OwnedPart() override { sawStack = GStack != nullptr; }
    };
    bool sawStack = false;
    auto* owner = new TIdComponent;
    new OwnedPart(owner, sawStack);
    delete owner;
    EXPECT_TRUE(sawStack);
    EXPECT_EQ(GStack, nullptr);
}

TEST(StackUsage, CreationFaultsHaveTheirMessages) {
    ASSERT_EQ(TIdStack::UsageCount(), 0);
    const TIdStackClass registered = StackClass();
    SetStackClass(nullptr);
    EXPECT_THROW_MSG(TIdUDPClient client, EIdStackError, "Stack Class is undefined.");
    SetStackClass(registered);
    TIdStackPlatform stray;
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
    EXPECT_THROW_MSG(list.Add(500), EIdStackSetSizeExceeded, "Set Size Exceeded.");
    list.Remove(101);
    EXPECT_EQ(list.Snapshot()[1], 163);
    EXPECT_EQ(list.Count(), 63u);
}

TEST(LookupHostAddress, ResolverCodesBecomeSocketErrors) {
    for (auto [resolverCode, code] : {std::pair{EAI_NONAME, 11001}, std::pair{EAI_AGAIN, 11002},
                                      std::pair{EAI_NODATA, 11004}, std::pair{EAI_FAMILY, 10047}}) {
        SCOPED_TRACE(code);
        ASSERT_EQ(TIdStack::UsageCount(), 0);
        ScopedOfflineStack offline(resolverCode);
        StackUsage usage;
        ExpectSocketError([] { GStack->LookupHostAddress("unit.example", Id_IPv4); }, code);
    }
}

TEST(LookupHostAddress, InternationalNamesAreAskedForInTheirASCIIForm) {
    ScopedOfflineStack offline;
    StackUsage usage;
    // The name in the platform's 8-bit text: UTF-8 on Linux, the ANSI code
    // page (Windows-1252 here) on Windows.
    EXPECT_THROW(GStack->LookupHostAddress(PlatformValue("b\xC3\xBC"
                                                         "cher.example",
                                                         "b\xFC"
                                                         "cher.example"),
                                           Id_IPv4),
                 EIdSocketError);
    EXPECT_EQ(TIdStackOffline::Asked, std::vector<std::string>{"xn--bcher-kva.example"});
    // A label that is too long even before its conversion.
    EXPECT_THROW(GStack->LookupHostAddress(PlatformValue("b\xC3\xBC", "b\xFC") +
                                               std::string(70, 'a') + ".example",
                                           Id_IPv4),
                 EOSError);
}

TEST(LookupHostAddress, LocalhostFromTheHostsFile) {
    StackUsage usage;
    EXPECT_EQ(GStack->LookupHostAddress("localhost", Id_IPv4), "127.0.0.1");
}
