#include <gtest/gtest.h>

#include "net/IdStackBSDBase.h"
#include "runtime/Exception.h"
#include "tests/net/OfflineStack.h"
#include "tests/support/Failure.h"
#include "tests/support/UdpPeer.h"

namespace {

TIdRawAddress Raw(std::initializer_list<int> bytes) {
    TIdRawAddress a;
    int i = 0;
    for (int b : bytes)
        a.Bytes[i++] = static_cast<std::uint8_t>(b);
    return a;
}

} // namespace

TEST(IsIPv4Literal, FourIntegersUpTo255AndNothingAfter) {
    StackUsage usage;
    for (const char* text : {"192.168.100.100", "192.168.1  .5", " 10.0.0.1 ", "$C0.$A8.1.1"}) {
        SCOPED_TRACE(text);
        EXPECT_TRUE(GStack->IsIPv4Literal(text));
    }
    for (const char* text :
         {"192.168.100", "192.168.100.100.5", "256.1.1.1", "1.2.3.-1", "1..2.3", "a.b.c.d", ""}) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(GStack->IsIPv4Literal(text));
    }
}

TEST(CanonicalIPv6Text, ExpandsAndNormalisesOrGivesEmpty) {
    const std::pair<const char*, const char*> rows[] = {
        {"::1", "0:0:0:0:0:0:0:1"},
        {"fe80::0202:b3ff:fe1e:8329", "FE80:0:0:0:202:B3FF:FE1E:8329"},
        {"::ffff:192.168.1.1", "0:0:0:0:0:FFFF:C0A8:0101"},
        {"::1.2.3.4", "0:0:0:0:0:0:0102:0304"},
        {"1::", "1:0:0:0:0:0:0:0"},
        {"::", "0:0:0:0:0:0:0:0"},
        // The last part of an IPv4 tail is all of it, not its first three digits.
        {"::1.2.3.0255", "0:0:0:0:0:0:0102:03FF"},
        // "::" may stand for a single zero group, at either end or inside.
        {"::2:3:4:5:6:7:8", "0:2:3:4:5:6:7:8"},
        {"1:2:3:4:5:6:7::", "1:2:3:4:5:6:7:0"},
        {"1:2:3::5:6:7:8", "1:2:3:0:5:6:7:8"},
        {"::2:3:4:5:6:1.2.3.4", "0:2:3:4:5:6:0102:0304"},
        {"1:2:3:4:5:6:1.2.3.4", "1:2:3:4:5:6:0102:0304"},
    };
    for (const auto& [text, canonical] : rows) {
        SCOPED_TRACE(text);
        EXPECT_EQ(CanonicalIPv6Text(text), canonical);
    }
    for (const char* text :
         {"1::2::3", "12345::1", "1.2.3.4", "", "1:2", "1:2:3:4:5:6:7:8:9", "::ffff:1.2.3",
          "::ffff:256.1.1.1", "::ab.1.1.1", ":: 1", "g::1",
          // Fewer than eight groups and no "::" to fill them; a lone ":" at an end.
          "1:2:3", "1:2:3:4:5:6:7", ":1:2:3:4:5:6:7", "1:2:3:4:5:6:7:", "1::2:3:4:5:6:7:8",
          ":::", "1:2:3:4:5:6::1.2.3.4", "1:2:3:4:5:6:7:1.2.3.4", "::1.2.3.4.5"}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(CanonicalIPv6Text(text), "");
    }
}

TEST(TextToAddress, ConvertsBothFamiliesInNetworkOrder) {
    StackUsage usage;
    EXPECT_EQ(GStack->TextToAddress("192.168.1  .5", Id_IPv4).Bytes, Raw({192, 168, 1, 5}).Bytes);
    EXPECT_EQ(GStack->TextToAddress("$7F.0.0.257", Id_IPv4).Bytes, Raw({127, 0, 0, 1}).Bytes);
    // Leading zeros are decimal, whether a group has three digits or more.
    EXPECT_EQ(GStack->TextToAddress("127.000.000.010", Id_IPv4).Bytes, Raw({127, 0, 0, 10}).Bytes);
    EXPECT_EQ(GStack->TextToAddress("0127.0.0.0010", Id_IPv4).Bytes, Raw({127, 0, 0, 10}).Bytes);
    EXPECT_EQ(GStack->AddressToText(Raw({0, 9, 10, 255}), Id_IPv4), "0.9.10.255");
    EXPECT_EQ(
        GStack->TextToAddress("fe80::0202:b3ff:fe1e:8329", Id_IPv6).Bytes,
        Raw({0xFE, 0x80, 0, 0, 0, 0, 0, 0, 0x02, 0x02, 0xB3, 0xFF, 0xFE, 0x1E, 0x83, 0x29}).Bytes);
    EXPECT_EQ(GStack->TextToAddress("::ffff:192.168.1.1", Id_IPv6).Bytes,
              Raw({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 192, 168, 1, 1}).Bytes);
    EXPECT_THROW_MSG(GStack->TextToAddress("192.168.1", Id_IPv4), EConvertError,
                     "'' is not a valid integer value");
    EXPECT_THROW_MSG(GStack->TextToAddress("1::2::3", Id_IPv6), EIdInvalidIPv6Address,
                     "1::2::3 is not a valid IPv6 address");
}

TEST(AddressToText, DottedDecimalAndEightUpperCaseGroups) {
    StackUsage usage;
    EXPECT_EQ(GStack->AddressToText(Raw({10, 0, 200, 255}), Id_IPv4), "10.0.200.255");
    EXPECT_EQ(GStack->AddressToText(Raw({255, 255, 255, 255}), Id_IPv4), "255.255.255.255");
    EXPECT_EQ(GStack->AddressToText(Raw({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}), Id_IPv6),
              "0:0:0:0:0:0:0:1");
}

TEST(ResolveHostAddress, LocalhostAndLiteralsNeedNoLookup) {
    ScopedOfflineStack offline;
    StackUsage usage;
    EXPECT_EQ(GStack->ResolveHostAddress("localhost", Id_IPv4), "127.0.0.1");
    EXPECT_EQ(GStack->ResolveHostAddress("LocalHost", Id_IPv6), "::1");
    EXPECT_EQ(GStack->ResolveHostAddress("192.168.1  .5", Id_IPv4), "192.168.1  .5");
    EXPECT_EQ(GStack->ResolveHostAddress("fe80::1", Id_IPv6), "FE80:0:0:0:0:0:0:1");
    EXPECT_TRUE(TIdStackOffline::Asked.empty());
}

TEST(ResolveHostAddress, OtherNamesAreLookedUpAndUnknownOnesAreNotFound) {
    ScopedOfflineStack offline;
    StackUsage usage;
    EXPECT_THROW_MSG(GStack->ResolveHostAddress("unit.example", Id_IPv4), EIdSocketError,
                     "Socket Error # 11001\r\nHost not found.");
    EXPECT_THROW_MSG(GStack->ResolveHostAddress("fe80::1::2", Id_IPv6), EIdSocketError,
                     "Socket Error # 11001\r\nHost not found.");
    EXPECT_EQ(TIdStackOffline::Asked, (std::vector<std::string>{"unit.example", "fe80::1::2"}));
}

TEST(IPVersion, AnyOtherVersionIsRefused) {
    StackUsage usage;
    const auto bad = static_cast<TIdIPVersion>(2);
    EXPECT_THROW_MSG(GStack->ResolveHostAddress("localhost", bad), EIdIPVersionUnsupported,
                     "The requested IPVersion / Address family is not supported.");
    EXPECT_THROW(GStack->NewSocket(IdSockDgram, 0, false, bad), EIdIPVersionUnsupported);
}
