// Tests of the TFTP packet helpers, the error-code mapping in both directions
// and the ERROR packets as the peer receives them.
#include <gtest/gtest.h>

#include <stdexcept>
#include <typeindex>

#include "ScriptedPeer.h"
#include "net/IdUDPClient.h"
#include "runtime/Exception.h"
#include "tftp/IdTrivialFTPBase.h"

using namespace std::string_view_literals;

namespace {

std::type_index TypeOfRaised(std::uint16_t code, std::uint16_t* codeBack) {
    try {
        RaiseTFTPError(code, "text");
    } catch (const EIdTFTPException& e) {
        EXPECT_EQ(e.Message(), "text");
        *codeBack = TFTPErrorCodeOf(e);
        return typeid(e);
    }
    return typeid(void);
}

} // namespace

TEST(TFTPErrorCodes, EachCodeRaisesItsOwnClassAndMapsBack) {
    const struct {
        std::uint16_t code;
        std::type_index type;
        std::uint16_t back;
    } rows[] = {
        {0, typeid(EIdTFTPException), 0},
        {1, typeid(EIdTFTPFileNotFound), 1},
        {2, typeid(EIdTFTPAccessViolation), 2},
        {3, typeid(EIdTFTPAllocationExceeded), 3},
        {4, typeid(EIdTFTPIllegalOperation), 4},
        {5, typeid(EIdTFTPUnknownTransferID), 5},
        {6, typeid(EIdTFTPFileAlreadyExists), 6},
        {7, typeid(EIdTFTPNoSuchUser), 7},
        {8, typeid(EIdTFTPOptionNegotiationFailed), 8},
        {9, typeid(EIdTFTPException), 0},
        {65535, typeid(EIdTFTPException), 0},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.code);
        std::uint16_t back = 999;
        EXPECT_EQ(TypeOfRaised(r.code, &back), r.type);
        // A class derived from a sibling would map back to the sibling's code.
        EXPECT_EQ(back, r.back);
    }
}

TEST(TFTPErrorCodes, FailuresOutsideTheFamilyMapToZero) {
    EXPECT_EQ(TFTPErrorCodeOf(EReadError("read")), 0);
    EXPECT_EQ(TFTPErrorCodeOf(EConvertError("conv")), 0);
    EXPECT_EQ(TFTPErrorCodeOf(EIdException("net")), 0);
    EXPECT_EQ(TFTPErrorCodeOf(std::runtime_error("std")), 0);
}

TEST(TFTPPacketText, BytesAboveAsciiGoOutAsQuestionMarks) {
    TIdBytes p;
    AppendText(p, "a\x7F\x80\xE9z"sv);
    EXPECT_EQ(p, Bytes("a\x7F??z\0"sv));
    p.clear();
    AppendText(p, "");
    EXPECT_EQ(p, Bytes("\0"sv));
}

TEST(TFTPPacketRead, ShortPacketIsARangeFailure) {
    const TIdBytes p = Bytes("\0\x04\0"sv);
    EXPECT_EQ(ReadWord(p, 0), 4);
    try {
        ReadWord(p, 2);
        FAIL() << "read past the end";
    } catch (const ERangeError& e) {
        EXPECT_EQ(e.Message(), "Range check error");
    }
}

TEST(SendErrorPacket, PeerReceivesCodeTextAndOneZero) {
    ScriptedPeer peer;
    TIdUDPClient endpoint;
    const struct {
        std::uint16_t code;
        std::string text;
        std::string_view wire;
    } rows[] = {
        {4, "", "\0\x05\0\x04\0"sv},
        {3, "Disk full",
         "\0\x05\0\x03"
         "Disk full\0"sv},
        {0, "caf\xE9", "\0\x05\0\0caf?\0"sv},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.text);
        SendErrorPacket(endpoint, peer.IP(), peer.Port(), r.code, r.text);
        const auto d = peer.Receive();
        ASSERT_TRUE(d);
        EXPECT_EQ(d->Bytes, Bytes(r.wire));
    }
}

TEST(SendErrorForFailure, SendsTheClassCodeAndTheMessage) {
    ScriptedPeer peer;
    TIdUDPClient endpoint;
    SendErrorForFailure(endpoint, peer.IP(), peer.Port(), EIdTFTPOptionNegotiationFailed("no"));
    SendErrorForFailure(endpoint, peer.IP(), peer.Port(), EReadError("Stream read error"));
    const auto first = peer.Receive();
    const auto second = peer.Receive();
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->Bytes, Bytes("\0\x05\0\x08no\0"sv));
    EXPECT_EQ(second->Bytes, Bytes("\0\x05\0\0Stream read error\0"sv));
}
