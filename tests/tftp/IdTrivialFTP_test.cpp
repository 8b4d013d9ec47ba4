// Tests of the write transfer: against a scripted loopback peer for every
// exchange that can go wrong, and against TFTP servers written elsewhere
// (TftpServers.h) for files that must arrive byte for byte.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <iostream>
#include <map>
#include <optional>
#include <random>
#include <typeindex>

#include "runtime/Exception.h"
#include "runtime/Files.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Failure.h"
#include "tests/support/ImageFolder.h"
#include "tests/support/Platform.h"
#include "tests/support/UdpPeer.h"
#include "tests/tftp/TftpServers.h"
#include "tftp/IdTrivialFTP.h"

using namespace std::string_view_literals;
namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

TIdBytes Oack(std::initializer_list<std::pair<std::string_view, std::string_view>> options) {
    TIdBytes b = Words({6});
    for (const auto& [name, value] : options) {
        b.insert(b.end(), name.begin(), name.end());
        b.push_back(0);
        b.insert(b.end(), value.begin(), value.end());
        b.push_back(0);
    }
    return b;
}

TIdBytes Pattern(std::size_t size) {
    TIdBytes b(size);
    for (std::size_t i = 0; i < size; ++i)
        b[i] = static_cast<std::uint8_t>((i * 7 + i / 251) & 0xFF);
    return b;
}

TMemoryStream StreamOf(const TIdBytes& bytes) {
    TMemoryStream s;
    s.Write(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    s.SetPosition(0);
    return s;
}

/// Checks that a finished transfer raised exactly class `type` with `message`.
void ExpectRaised(std::future<void>& done, std::type_index type, const std::string& message) {
    ExpectFailure([&done] { done.get(); }, type, message);
}

class TransferTest : public ::testing::Test {
protected:
    TransferTest() {
        tftp.SetHost(peer.IP());
        tftp.SetPort(peer.Port());
        tftp.SetReceiveTimeout(2000);
        tftp.OnWorkBegin = [this](TIdComponent*, TWorkMode m, std::int64_t n) {
            EXPECT_EQ(m, wmWrite);
            work.push_back("begin " + std::to_string(n));
        };
        tftp.OnWork = [this](TIdComponent*, TWorkMode, std::int64_t n) {
            work.push_back("work " + std::to_string(n));
        };
        tftp.OnWorkEnd = [this](TIdComponent*, TWorkMode) { work.push_back("end"); };
    }

    std::future<void> Start(TStream& source, std::string name = "rrpages.bin") {
        return std::async(std::launch::async,
                          [this, &source, name] { tftp.UploadStream(source, name); });
    }

    /// Receives the write request; fails the test when none comes.
    Datagram Request() {
        auto d = peer.Receive();
        if (!d) {
            ADD_FAILURE() << "no write request";
            return {};
        }
        EXPECT_EQ(d->Opcode(), toWRQ);
        return *d;
    }

    /// Acks every DATA packet until one shorter than blockSize, or block
    /// 65535; the data received, in order. Checks that blocks count up from
    /// `first`.
    TIdBytes AckAll(std::size_t blockSize, std::uint16_t first = 1, TUdpPeer* from = nullptr) {
        TUdpPeer& p = from ? *from : peer;
        TIdBytes data;
        for (std::uint16_t block = first;; ++block) {
            const auto d = p.Receive();
            if (!d || d->Bytes.size() < 4 || d->Opcode() != toDATA) {
                ADD_FAILURE() << "expected DATA " << block;
                return data;
            }
            EXPECT_EQ(d->Word(2), block);
            data.insert(data.end(), d->Bytes.begin() + 4, d->Bytes.end());
            p.Reply(*d, Ack(block));
            if (d->Bytes.size() - 4 < blockSize || block == TftpBlockMax)
                return data;
        }
    }

    /// Lengths of the DATA packets the peer recorded.
    std::vector<std::size_t> DataLengths() const {
        std::vector<std::size_t> out;
        for (const Datagram& d : peer.Log)
            if (d.Opcode() == toDATA)
                out.push_back(d.Bytes.size() - 4);
        return out;
    }

    /// True when nothing reaches the peer within ms milliseconds.
    bool Silent(TUdpPeer& p, int ms = 300) { return !p.Receive(ms); }

    TUdpPeer peer;
    TIdTrivialFTP tftp;
    std::vector<std::string> work;
};

} // namespace

TEST_F(TransferTest, WriteRequestCarriesNameModeAndBothOptions) {
    const struct {
        std::string name;
        TIdTFTPMode mode;
        std::int32_t blksize;
        std::size_t size;
        std::string_view wire;
    } rows[] = {
        {"rrpages.bin", tfOctet, 1500, 1000,
         "\0\x02rrpages.bin\0octet\0blksize\0"
         "1500\0tsize\0"
         "1000\0"sv},
        {"caf\xE9.bin", tfNetAscii, -7, 0,
         "\0\x02"
         "caf?.bin\0netascii\0blksize\0-7\0tsize\0"
         "0\0"sv},
        {"", tfOctet, 512, 5,
         "\0\x02\0octet\0blksize\0"
         "512\0tsize\0"
         "5\0"sv},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        peer.Log.clear();
        tftp.SetTransferMode(r.mode);
        tftp.SetRequestedBlockSize(r.blksize);
        TMemoryStream source = StreamOf(Pattern(r.size));
        auto done = Start(source, r.name);
        const Datagram wrq = Request();
        EXPECT_EQ(wrq.Bytes, Bytes(r.wire));
        peer.Reply(wrq, Words({5, 0}, "stop\0"sv));
        ExpectRaised(done, typeid(EIdTFTPException), "stop");
    }
}

TEST_F(TransferTest, BlockSizesWithAndWithoutOptionAck) {
    const struct {
        const char* what;
        std::size_t size;
        TIdBytes firstReply;
        std::vector<std::size_t> blocks;
    } rows[] = {
        {"ACK 0, two blocks", 1000, Ack(0), {512, 488}},
        {"ACK 0, exactly filled", 1024, Ack(0), {512, 512, 0}},
        {"ACK 0, empty source", 0, Ack(0), {0}},
        {"OACK 1500", 3000, Oack({{"blksize", "1500"}, {"tsize", "3000"}}), {1500, 1500, 0}},
        {"OACK grants less than asked", 1300, Oack({{"BlkSize", " 600 "}}), {600, 600, 100}},
        {"OACK smallest", 20, Oack({{"blksize", "8"}}), {8, 8, 4}},
        {"OACK largest", 70000, Oack({{"blksize", "65464"}}), {65464, 4536}},
        {"OACK hexadecimal", 1000, Oack({{"blksize", "$200"}}), {512, 488}},
        {"OACK tsize only", 600, Oack({{"TSIZE", "abc"}}), {512, 88}},
        {"OACK empty pair", 600, Bytes("\0\x06\0\0"sv), {512, 88}},
        {"OACK blksize twice", 30, Oack({{"blksize", "100"}, {"blksize", "10"}}), {10, 10, 10, 0}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        peer.Log.clear();
        work.clear();
        const TIdBytes content = Pattern(r.size);
        TMemoryStream source = StreamOf(content);
        auto done = Start(source);
        const Datagram wrq = Request();
        peer.Reply(wrq, r.firstReply);
        const TIdBytes received = AckAll(r.blocks.front() == 0 ? 1 : r.blocks.front());
        EXPECT_NO_THROW(done.get());
        EXPECT_EQ(received, content);
        EXPECT_EQ(DataLengths(), r.blocks);
        EXPECT_EQ(source.Position(), static_cast<std::int64_t>(r.size));
        EXPECT_TRUE(Silent(peer, 50)) << "nothing may follow the last ACK";
        EXPECT_FALSE(tftp.IsOpen());
        // Work: begin with the total, the running total after each DATA sent, one end.
        std::vector<std::string> expected{"begin " + std::to_string(r.size)};
        std::size_t total = 0;
        for (const std::size_t n : r.blocks)
            expected.push_back("work " + std::to_string(total += n));
        expected.push_back("end");
        EXPECT_EQ(work, expected);
    }
}

TEST_F(TransferTest, RefusedOptionAckSendsOneErrorAndRaises) {
    const std::type_index refused = typeid(EIdTFTPOptionNegotiationFailed);
    const struct {
        TIdBytes oack;
        std::type_index type;
        std::uint16_t code; // of the ERROR sent back, whose text is the message
        std::string message;
    } rows[] = {
        {Oack({{"blksize", "7"}}), refused, 8, "Unsupported value \"7\" for option: \"blksize\""},
        {Oack({{"BLKSIZE", "65465"}}), refused, 8,
         "Unsupported value \"65465\" for option: \"BLKSIZE\""},
        {Oack({{"blksize", " 12x "}}), typeid(EConvertError), 0,
         "'12x' is not a valid integer value"},
        {Oack({{"timeout", "5"}}), refused, 8, "Unsupported option: \"timeout\""},
        {Bytes("\0\x06"
               "blksize\0"
               "512"sv),
         refused, 8, "Malformed option acknowledgement: \"512\" has no terminating zero"},
        {Bytes("\0\x06"
               "blksize\0"
               "512\0tsi"sv),
         refused, 8, "Malformed option acknowledgement: \"tsi\" has no terminating zero"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.message);
        work.clear();
        TMemoryStream source = StreamOf(Pattern(100));
        auto done = Start(source);
        peer.Reply(Request(), r.oack);
        const auto error = peer.Receive();
        ASSERT_TRUE(error);
        EXPECT_EQ(error->Bytes, Words({5, r.code}, r.message + '\0'));
        ExpectRaised(done, r.type, r.message);
        EXPECT_TRUE(Silent(peer, 50));
        EXPECT_EQ(work, (std::vector<std::string>{"begin 100", "end"}));
        EXPECT_FALSE(tftp.IsOpen());
    }
}

TEST_F(TransferTest, ServerErrorRaisesItsClassAndIsNotAnswered) {
    const std::string longText(10000, 'w');
    const struct {
        TIdBytes error;
        bool afterFirstBlock;
        std::type_index type;
        std::string message;
    } rows[] = {
        {Words({5, 1}, "File not found\0"sv), false, typeid(EIdTFTPFileNotFound), "File not found"},
        {Words({5, 2}), false, typeid(EIdTFTPAccessViolation), ""},
        {Words({5, 3}, "Disk full"sv), true, typeid(EIdTFTPAllocationExceeded), "Disk full"},
        {Words({5, 8}, "no\0"sv), false, typeid(EIdTFTPOptionNegotiationFailed), "no"},
        {Words({5, 9}, "odd\0"sv), true, typeid(EIdTFTPException), "odd"},
        // Far longer than a block: the server's words arrive whole.
        {Words({5, 0}, longText + '\0'), true, typeid(EIdTFTPException), longText},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.message.substr(0, 20));
        TMemoryStream source = StreamOf(Pattern(2000));
        auto done = Start(source);
        const Datagram wrq = Request();
        if (r.afterFirstBlock) {
            peer.Reply(wrq, Ack(0));
            const auto d1 = peer.Receive();
            ASSERT_TRUE(d1);
            peer.Reply(*d1, r.error);
        } else {
            peer.Reply(wrq, r.error);
        }
        ExpectRaised(done, r.type, r.message);
        EXPECT_TRUE(Silent(peer, 100)) << "an ERROR is never answered";
        EXPECT_FALSE(tftp.IsOpen());
    }
}

TEST_F(TransferTest, DatagramsThatDoNotMoveTheTransferOnNeitherResendNorExtendTheWait) {
    // A stray every 30% of the wait: were each to start the wait afresh, the
    // transfer would outlive all four.
    tftp.SetReceiveTimeout(1000);
    TUdpPeer stranger("127.0.0.62");
    const struct {
        const char* what;
        TUdpPeer* sender;
        TIdBytes packet;
    } rows[] = {{"duplicate ACK from the server", &peer, Ack(0)},
                {"ACK 999 from the server", &peer, Ack(999)},
                {"expected ACK from a stranger", &stranger, Ack(1)}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        TMemoryStream source = StreamOf(Pattern(600));
        auto done = Start(source);
        peer.Reply(Request(), Ack(0));
        const auto d1 = peer.Receive();
        ASSERT_TRUE(d1);
        const auto start = Clock::now();
        for (int i = 0; i < 4; ++i) {
            EXPECT_TRUE(Silent(peer, 300)) << "nothing is resent";
            r.sender->SendTo(d1->IP, d1->Port, r.packet);
        }
        ExpectRaised(done, typeid(EIdTFTPException), "Timeout");
        EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1900));
    }
}

TEST_F(TransferTest, WithRetransmissionSilenceResendsTheLastPacketWithinTheReceiveTimeout) {
    tftp.SetReceiveTimeout(1000);
    const struct {
        const char* what;
        bool request; // the request is lost, else DATA 1
        std::int32_t retransmissions;
        std::size_t answerAfter; // copies before the reply; 0: none comes
        std::size_t copies;
    } rows[] = {
        {"none asked for: DATA once", false, 0, 0, 1},
        {"DATA: every re-send asked for, then the silence ends it", false, 3, 0, 4},
        {"DATA: a re-send answered goes on", false, 3, 2, 2},
        // Before any round trip is known the first re-send comes after half
        // a second and the next a second later: past the receive time-out.
        {"request: the receive time-out leaves room for one", true, 3, 0, 2},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        tftp.SetRetransmissions(r.retransmissions);
        const TIdBytes content = Pattern(700);
        TMemoryStream source = StreamOf(content);
        auto done = Start(source);
        std::optional<Datagram> first = Request();
        if (!r.request) {
            peer.Reply(*first, Ack(0));
            first = peer.Receive();
        }
        ASSERT_TRUE(first);
        const auto start = Clock::now();
        std::vector<Clock::time_point> arrived{start};
        while (arrived.size() < r.copies) {
            const auto copy = peer.Receive(1500);
            ASSERT_TRUE(copy);
            EXPECT_EQ(copy->Bytes, first->Bytes) << "the same packet again";
            arrived.push_back(Clock::now());
        }
        for (std::size_t i = 1; i < arrived.size(); ++i)
            EXPECT_GE(arrived[i] - arrived[i - 1], std::chrono::milliseconds(15));
        if (r.answerAfter > 0) {
            peer.Reply(*first, Ack(1));
            EXPECT_EQ(AckAll(512, 2), TIdBytes(content.begin() + 512, content.end()));
            EXPECT_NO_THROW(done.get());
            continue;
        }
        ExpectRaised(done, typeid(EIdTFTPException), "Timeout");
        const auto silence = Clock::now() - start;
        EXPECT_GE(silence, std::chrono::milliseconds(950));
        EXPECT_LT(silence, std::chrono::milliseconds(2500));
        EXPECT_TRUE(Silent(peer, 50));
    }
}

TEST_F(TransferTest, WithRetransmissionARepeatedAnswerStartsNoSecondTransfer) {
    tftp.SetRetransmissions(3);
    TUdpPeer other; // a second port of the server's address
    const struct {
        const char* what;
        TUdpPeer* second; // the sender of the answer to the re-sent request
        TIdBytes answer;
    } rows[] = {
        {"OACK twice from one port", &peer, Oack({{"blksize", "512"}})},
        {"ACK 0 twice from one port", &peer, Ack(0)},
        {"OACK from a second port", &other, Oack({{"blksize", "512"}})},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        const TIdBytes content = Pattern(1000);
        TMemoryStream source = StreamOf(content);
        auto done = Start(source);
        const Datagram wrq = Request();
        const auto again = peer.Receive(); // the request, sent again after the silence
        ASSERT_TRUE(again);
        EXPECT_EQ(again->Bytes, wrq.Bytes);
        peer.Reply(wrq, r.answer);
        r.second->Reply(*again, r.answer);
        if (r.second != &peer) {
            const auto error = other.Receive();
            ASSERT_TRUE(error);
            EXPECT_EQ(error->Bytes, Words({5, 5}, "Unknown transfer ID\0"sv));
        }
        EXPECT_EQ(AckAll(512), content);
        EXPECT_NO_THROW(done.get());
        EXPECT_EQ(DataLengths(), (std::vector<std::size_t>{512, 488})) << "each DATA once";
        EXPECT_TRUE(Silent(other, 50));
        peer.Log.clear();
    }
}

TEST_F(TransferTest, WithRetransmissionDuplicateAcksResendNothing) {
    // Were a duplicate ACK to send DATA again, every block would go out twice
    // from then on, each copy at once (the Sorcerer's Apprentice).
    tftp.SetRetransmissions(5);
    const TIdBytes content = Pattern(20 * 512 + 100);
    TMemoryStream source = StreamOf(content);
    auto done = Start(source);
    const Datagram wrq = Request();
    peer.Reply(wrq, Ack(0));
    peer.Reply(wrq, Ack(0));
    std::map<std::uint16_t, Clock::time_point> sent;
    TIdBytes received;
    while (const auto d = peer.Receive(1000)) {
        ASSERT_EQ(d->Opcode(), toDATA);
        const std::uint16_t block = d->Word(2);
        const auto now = Clock::now();
        if (const auto it = sent.find(block); it != sent.end()) {
            EXPECT_GE(now - it->second, std::chrono::milliseconds(15)) << "block " << block;
            continue;
        }
        sent[block] = now;
        received.insert(received.end(), d->Bytes.begin() + 4, d->Bytes.end());
        peer.Reply(*d, Ack(block));
        peer.Reply(*d, Ack(block));
        if (d->Bytes.size() < 516)
            break;
    }
    EXPECT_NO_THROW(done.get());
    EXPECT_EQ(received, content);
}

TEST_F(TransferTest, UnexpectedPacketsAreAnsweredWithIllegalOperation) {
    const struct {
        const char* what;
        bool afterFirstBlock;
        TIdBytes packet;
    } rows[] = {
        {"late OACK", true, Oack({{"blksize", "1024"}})},
        {"DATA first", false, Words({3, 1}, "xx"sv)},
        {"write request", true, Words({2}, "f\0octet\0"sv)},
        {"read request", false, Words({1}, "f\0octet\0"sv)},
        {"opcode 0", true, Words({0, 0})},
        {"opcode 7", false, Words({7})},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        TMemoryStream source = StreamOf(Pattern(2000));
        // The first reply may come from any port of any address.
        TUdpPeer other;
        TUdpPeer& sender = r.afterFirstBlock ? peer : other;
        auto done = Start(source);
        const Datagram wrq = Request();
        if (r.afterFirstBlock) {
            peer.Reply(wrq, Ack(0));
            ASSERT_TRUE(peer.Receive());
        }
        sender.Reply(wrq, r.packet);
        const auto error = sender.Receive();
        ASSERT_TRUE(error);
        EXPECT_EQ(error->Bytes, Bytes("\0\x05\0\x04\0"sv));
        ExpectRaised(done, typeid(EIdTFTPException),
                     "Unexpected operation from " + sender.IP() + ":" +
                         std::to_string(sender.Port()));
    }
}

TEST_F(TransferTest, DatagramsTooShortToReadEndTheTransferAtOnceUnanswered) {
    tftp.SetReceiveTimeout(5000);
    const struct {
        TIdBytes packet;
        std::type_index type;
        std::string message;
    } rows[] = {
        {{}, typeid(EIdTFTPException), "Timeout"}, // an empty datagram counts as a time-out
        {Bytes("\x04"sv), typeid(ERangeError), "Range check error"},
        {Bytes("\0\x04\0"sv), typeid(ERangeError), "Range check error"},
        {Bytes("\0\x05\0"sv), typeid(ERangeError), "Range check error"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.packet.size());
        TMemoryStream source = StreamOf(Pattern(10));
        auto done = Start(source);
        peer.Reply(Request(), r.packet);
        const auto start = Clock::now();
        ExpectRaised(done, r.type, r.message);
        EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(2500));
        EXPECT_TRUE(Silent(peer, 100));
    }
}

TEST_F(TransferTest, SilentServerTimesOutAfterTheWait) {
    const struct {
        std::int32_t receiveTimeout;
        int expectedMs;
    } rows[] = {{0, 500}, {-2, 500}, {900, 900}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.receiveTimeout);
        work.clear();
        tftp.SetReceiveTimeout(r.receiveTimeout);
        TMemoryStream source = StreamOf(Pattern(10));
        const auto start = Clock::now();
        auto done = Start(source);
        Request();
        ExpectRaised(done, typeid(EIdTFTPException), "Timeout");
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        EXPECT_GE(ms, r.expectedMs - 50);
        EXPECT_LT(ms, r.expectedMs + 1500);
        EXPECT_EQ(tftp.ReplyIP(), "");
        EXPECT_EQ(tftp.ReplyPort(), 0);
        EXPECT_EQ(work, (std::vector<std::string>{"begin 10", "end"}));
    }
}

TEST_F(TransferTest, TheFirstReplyFixesTheServerAndAnyoneElseIsToldUnknownTransferID) {
    // The server answers from a port of its own, from the request's address
    // or from another one of its host (bound to the wildcard address, or
    // with several); after its first reply the intruders come from another
    // port of its address or from another address. Under Wine a peer's
    // datagrams come from 127.0.0.1 whatever loopback address it binds
    // (PlatformWindows.cpp), so "another host" there is another port of the
    // server's: once the server is fixed that is a stranger all the same,
    // but no first reply there can come from another host.
    TUdpPeer server, samePort, otherHost("127.0.0.62");
    const bool otherHostPlayable = otherHost.IP() != server.IP();
    const struct {
        const char* what;
        TUdpPeer* first; // the sender of the first reply to the request
        TUdpPeer* intruder;
        TIdBytes packet;
        bool answered; // with ERROR 5; an ERROR is never answered
    } rows[] = {
        {"expected ACK from another port", &server, &samePort, Ack(1), true},
        {"expected ACK from another host", &server, &otherHost, Ack(1), true},
        {"ERROR from another host", &server, &otherHost, Words({5, 0}, "stop\0"sv), false},
        // Two transfers that took each other for strangers would trade these for ever.
        {"ERROR 5 from another port", &server, &samePort, Words({5, 5}, "Unknown transfer ID\0"sv),
         false},
        {"bare ERROR opcode from another port", &server, &samePort, Words({5}), false},
        {"empty datagram from another host", &server, &otherHost, {}, true},
        {"one byte from another host", &server, &otherHost, Bytes("\x04"sv), true},
        {"first reply from another host, then one from the request's address", &otherHost, &server,
         Ack(0), true},
    };
    const TIdBytes content = Pattern(1500);
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        if (r.first == &otherHost && !otherHostPlayable) {
            std::cout << "  not run: " << r.what << " (no peer here sends from another host)\n";
            continue;
        }
        TMemoryStream source = StreamOf(content);
        auto done = Start(source);
        const Datagram wrq = Request();
        r.first->Reply(wrq, Ack(0));
        const auto d1 = r.first->Receive();
        ASSERT_TRUE(d1);
        r.intruder->Reply(wrq, r.packet);
        if (r.answered) {
            const auto error = r.intruder->Receive();
            ASSERT_TRUE(error);
            EXPECT_EQ(error->Bytes, Words({5, 5}, "Unknown transfer ID\0"sv));
        }
        r.first->Reply(*d1, Ack(1));
        EXPECT_EQ(AckAll(512, 2, r.first), TIdBytes(content.begin() + 512, content.end()));
        EXPECT_NO_THROW(done.get());
        EXPECT_TRUE(Silent(*r.intruder, 50));
        EXPECT_EQ(tftp.ReplyIP(), r.first->IP());
        EXPECT_EQ(tftp.ReplyPort(), r.first->Port());
    }
}

TEST_F(TransferTest, OpenEndpointHearsOnlyItsPeer) {
    TUdpPeer second;
    tftp.SetReceiveTimeout(500);
    tftp.OpenEndpoint();
    ASSERT_TRUE(tftp.IsOpen());
    TMemoryStream source = StreamOf(Pattern(10));
    auto done = Start(source);
    const Datagram wrq = Request();
    second.Reply(wrq, Ack(0));
    ExpectRaised(done, typeid(EIdTFTPException), "Timeout");
    EXPECT_TRUE(Silent(second, 50));
    EXPECT_FALSE(tftp.IsOpen());

    // Opened again, a server that answers from the request port gets every DATA there.
    std::vector<std::string> statuses;
    tftp.OnStatus = [&](TIdComponent*, TIdStatus, const std::string& text) {
        statuses.push_back(text);
    };
    tftp.OpenEndpoint();
    source.SetPosition(0);
    done = Start(source);
    peer.Reply(Request(), Ack(0));
    EXPECT_EQ(AckAll(512), Pattern(10));
    EXPECT_NO_THROW(done.get());
    tftp.CloseEndpoint(); // the transfer released the socket: nothing left to close
    EXPECT_EQ(statuses, std::vector<std::string>{"Connected."});
}

TEST_F(TransferTest, BlockNumbersEndAt65535) {
    // blksize 8 keeps 65535 blocks small: one byte less than 65535 full
    // blocks ends with a block of 7 bytes numbered 65535.
    peer.Recording = false;
    const std::size_t size = 65535 * 8 - 1;
    TMemoryStream source = StreamOf(Pattern(size));
    auto done = Start(source);
    peer.Reply(Request(), Oack({{"blksize", "8"}}));
    EXPECT_EQ(AckAll(8).size(), size);
    EXPECT_NO_THROW(done.get());
    EXPECT_EQ(work.size(), 65535u + 2);
}

TEST_F(TransferTest, SourcesTooLargeForTheBlockNumbersAreRefusedBeforeAnyData) {
    // A source of any size that reads as zeros, held nowhere.
    struct SizedStream : TMemoryStream {
        explicit SizedStream(std::int64_t size) : size_(size) {}
        std::int64_t Size() override { return size_; }
        std::int64_t Read(void* buffer, std::int64_t count) override {
            std::memset(buffer, 0, static_cast<std::size_t>(count));
            return count;
        }
        std::int64_t size_;
    };
    const struct {
        const char* what;
        std::int64_t size;
        std::optional<TIdBytes> firstReply; // none: not even the request goes out
        std::string message;
    } rows[] = {
        {"not even the block asked for would do", 65535 * 1500, std::nullopt,
         "Source too large: 98302500 bytes do not fit into 65535 blocks of 1500 bytes"},
        {"the block granted is too small", 65535 * 8, Oack({{"blksize", "8"}}),
         "Source too large: 524280 bytes do not fit into 65535 blocks of 8 bytes"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        SizedStream source(r.size);
        auto done = Start(source);
        if (r.firstReply) {
            peer.Reply(Request(), *r.firstReply);
            const auto error = peer.Receive();
            ASSERT_TRUE(error);
            EXPECT_EQ(error->Bytes, Words({5, 3}, r.message + '\0'));
        }
        ExpectRaised(done, typeid(EIdTFTPAllocationExceeded), r.message);
        EXPECT_TRUE(Silent(peer, 50));
    }
}

TEST_F(TransferTest, SourceReadFailureIsReportedToTheServer) {
    struct FailingStream : TMemoryStream {
        std::int64_t Read(void*, std::int64_t) override {
            throw EReadError("Stream read error: Input/output error");
        }
    } source;
    source.Write("abc", 3);
    source.SetPosition(0);
    auto done = Start(source);
    peer.Reply(Request(), Ack(0));
    const auto error = peer.Receive();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->Bytes, Words({5, 0}, "Stream read error: Input/output error\0"sv));
    ExpectRaised(done, typeid(EReadError), "Stream read error: Input/output error");
}

TEST_F(TransferTest, AFileChangedDuringTheTransferFailsItAndTellsTheServer) {
    if (kTestPlatform == TTestPlatform::tpWindows)
        GTEST_SKIP() << "Windows' sharing mode keeps every writer out while the file is sent";
    // The lock keeps out only writers that ask for it; these do not.
    const fs::path file = fs::temp_directory_path() / ("tftp-changed-" + ProcessTag());
    const struct {
        const char* what;
        std::function<void()> change;
        std::string message;
    } rows[] = {
        {"cut short", [&] { fs::resize_file(file, 200000); },
         "Source changed during the transfer: it ended after 200000 of 1000000 bytes"},
        {"grown", [&] { std::ofstream(file, std::ios::app) << "more"; },
         "Source changed during the transfer"},
        {"rewritten in place", [&] { std::fstream(file, std::ios::in | std::ios::out) << "new"; },
         "Source changed during the transfer"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        peer.Recording = false;
        const TIdBytes content = Pattern(1000000);
        std::ofstream(file, std::ios::binary)
            .write(reinterpret_cast<const char*>(content.data()),
                   static_cast<std::streamsize>(content.size()));
        // An old time, so that any write now shows in the modification time.
        fs::last_write_time(file, fs::file_time_type::clock::now() - std::chrono::hours(1));
        auto done =
            std::async(std::launch::async, [&] { tftp.UploadFile(file.string(), "rrpages.bin"); });
        peer.Reply(Request(), Oack({{"blksize", "1468"}}));
        r.change();
        // The server acks every DATA until the ERROR: the last block never comes.
        std::optional<Datagram> d;
        while ((d = peer.Receive()) && d->Opcode() == toDATA) {
            EXPECT_EQ(d->Bytes.size(), 1468u + 4) << "block " << d->Word(2);
            peer.Reply(*d, Ack(d->Word(2)));
        }
        ASSERT_TRUE(d);
        EXPECT_EQ(d->Bytes, Words({5, 0}, r.message + '\0'));
        ExpectRaised(done, typeid(EReadError), r.message);
    }
    fs::remove(file);
}

TEST_F(TransferTest, AbortTransferTellsTheServerAndEndsTheWaitAtOnce) {
    tftp.SetReceiveTimeout(10000); // only the abort can end the transfer soon
    for (const bool serverReplies : {false, true}) {
        SCOPED_TRACE(serverReplies ? "while DATA 1 awaits its ACK" : "before the server replied");
        TUdpPeer server; // the server's transfer port: what it hears once it replied
        TMemoryStream source = StreamOf(Pattern(2000));
        auto done = Start(source);
        const Datagram wrq = Request();
        TUdpPeer& told = serverReplies ? server : peer;
        if (serverReplies) {
            server.Reply(wrq, Ack(0));
            ASSERT_TRUE(server.Receive());
        }
        const auto start = Clock::now();
        tftp.AbortTransfer();
        const auto error = told.Receive(2000);
        ASSERT_TRUE(error);
        EXPECT_EQ(error->Bytes, Words({5, 0}, "Transfer cancelled\0"sv));
        EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1000));
        ExpectRaised(done, typeid(EIdTFTPException), "Transfer cancelled");
        EXPECT_FALSE(tftp.Active());
    }
}

TEST_F(TransferTest, UnopenableFilesFailBeforeAnythingIsSent) {
    const fs::path dir = fs::temp_directory_path() / ("tftp-test-" + ProcessTag());
    fs::create_directories(dir);
    const std::string locked = (dir / "locked.bin").string();
    std::ofstream(locked) << "data";
    std::optional<TWriterHold> writer(std::in_place, locked);
    // A pipe with no writer would hold the open for ever; a device reads as
    // endless or as empty.
    const TSpecialFiles special((dir / "").string());

    struct Row {
        std::string path;
        std::string reason;
    };
    // The system's text for each platform's own error.
    std::vector<Row> rows = {
        {(dir / "missing.bin").string(), SysErrorMessage(PlatformValue(ENOENT, 2))},
        {dir.string(), SysErrorMessage(PlatformValue(EISDIR, 5))}, // Windows: access denied
        {locked, SysErrorMessage(PlatformValue(EWOULDBLOCK, 32))}, // a sharing violation
    };
    for (const std::string& path : special.Paths())
        rows.push_back({path, "Not a regular file"});
    std::vector<std::string> statuses;
    tftp.OnStatus = [&](TIdComponent*, TIdStatus, const std::string& text) {
        statuses.push_back(text);
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.path);
        tftp.OpenEndpoint();
        EXPECT_THROW_MSG(tftp.UploadFile(r.path, "x"), EFOpenError,
                         "Cannot open file \"" + ExpandFileName(r.path) + "\". " + r.reason);
        EXPECT_TRUE(tftp.IsOpen());
        EXPECT_TRUE(Silent(peer, 50));
        tftp.CloseEndpoint();
    }
    EXPECT_TRUE(work.empty());
    EXPECT_EQ(statuses.size(), rows.size() * 3);
    EXPECT_EQ(statuses[1], "Disconnecting.");
    EXPECT_EQ(statuses[2], "Disconnected.");
    writer.reset();
    fs::remove_all(dir);
}

TEST(TftpServerInterop, StoredFilesAreByteIdentical) {
    // Each server on an address of its own (127.0.0.61 is where the Windows
    // test run starts tftpd-hpa). npm tftp and Net::TFTPd answer from a
    // socket bound to the wildcard address, so from 127.0.0.1, not from the
    // address the request went to.
    const struct {
        TServerVariant server;
        const char* ip;
    } servers[] = {
        {{"tftpd-hpa", TServerProgram::spTftpdHpa}, "127.0.0.61"},
        {{"tftpd-hpa, options refused", TServerProgram::spTftpdHpa, true}, "127.0.0.161"},
        {{"atftpd", TServerProgram::spAtftpd}, "127.0.0.162"},
        {{"atftpd, options refused", TServerProgram::spAtftpd, true}, "127.0.0.163"},
        {{"npm tftp", TServerProgram::spNpmTftp}, "127.0.0.164"},
        {{"Net::TFTPd", TServerProgram::spNetTftpd}, "127.0.0.165"},
        {{"Net::TFTPd, from the request's port", TServerProgram::spNetTftpd, false, true},
         "127.0.0.166"},
    };
    // tftp-put, and the transfer as the loader makes it: the endpoint opened
    // (connected to the request's address and port). A connected endpoint
    // never hears a server that answers from another port, which ends its
    // wait: 2 s here, the loader's is 4 s. Nothing is re-sent, as by the
    // loader: on a busy machine a re-sent DATA would make the outcome depend
    // on timing, and Net::TFTPd answers a repeated DATA with ERROR 5.
    const struct {
        const char* name;
        std::vector<std::string> args;
        bool connected;
    } clients[] = {
        {"tftp-put", {"--retries", "0", "--timeout", "2000"}, false},
        {"the loader's transfer", {"--open", "--retries", "0", "--timeout", "2000"}, true},
    };
    const std::int32_t blockSizes[] = {512, 1468};
    const fs::path sources = fs::temp_directory_path() / ("tftp-src-" + ProcessTag());
    fs::create_directories(sources);
    std::mt19937 random(20261207);
    struct Cell {
        std::string what, name;
        TIdBytes content;
        const TTftpServer* server;
        bool stored; // else the transfer times out and nothing is stored
        std::unique_ptr<TChildProcess> put;
        std::optional<int> status; // -1: still running after a minute
        std::string errors;
    };
    const auto finish = [](Cell& cell) {
        std::string output;
        const bool ended = ReadUntilEnd(*cell.put, std::chrono::minutes(1), output, cell.errors);
        cell.status = ended ? *cell.put->Ended() : -1;
        std::erase(cell.errors, '\r'); // Windows ends its lines with CR LF
    };
    std::vector<std::unique_ptr<TTftpServer>> running;
    std::vector<Cell> cells;
    // Every transfer at once, the servers' and the clients' waits overlapping;
    // but a server that answers from the request's port takes one at a time,
    // as the unit does: while its transfer socket is bound and not yet
    // connected, a second request could reach that socket.
    for (const auto& s : servers) {
        if (const std::string missing = TTftpServer::Missing(s.server); !missing.empty()) {
            std::cout << "  not run: " << s.server.Name << " (" << missing << ")\n";
            continue;
        }
        auto& server = *running.emplace_back(std::make_unique<TTftpServer>(s.server, s.ip));
        ASSERT_TRUE(server.Ready()) << s.server.Name << " did not answer";
        for (const auto& c : clients)
            for (const std::int32_t blksize : blockSizes)
                // Empty, exactly filled (a last DATA of no bytes) and many blocks.
                for (const std::size_t size :
                     {std::size_t{0}, std::size_t(blksize) * 4, std::size_t{200000}}) {
                    Cell& cell = cells.emplace_back();
                    cell.what = std::string(s.server.Name) + ", " + c.name + ", blksize " +
                                std::to_string(blksize) + ", " + std::to_string(size) + " bytes";
                    cell.name = "upload-" + std::to_string(cells.size()) + ".bin";
                    cell.content.resize(size);
                    for (auto& b : cell.content)
                        b = static_cast<std::uint8_t>(random());
                    cell.server = &server;
                    cell.stored = !c.connected || s.server.OwnPort;
                    const fs::path local = sources / cell.name;
                    std::ofstream(local, std::ios::binary)
                        .write(reinterpret_cast<const char*>(cell.content.data()),
                               static_cast<std::streamsize>(size));
                    std::vector<std::string> args = c.args;
                    args.insert(args.end(),
                                {"--blksize", std::to_string(blksize), "--port",
                                 std::to_string(server.Port()), s.ip, local.string(), cell.name});
                    cell.put = std::make_unique<TChildProcess>(TFTP_PUT_PATH, args);
                    if (s.server.OwnPort)
                        finish(cell);
                }
    }
    for (Cell& cell : cells) {
        SCOPED_TRACE(cell.what);
        if (!cell.status)
            finish(cell);
        if (cell.stored) {
            EXPECT_EQ(cell.status, 0) << cell.errors;
            EXPECT_TRUE(ReadAll(cell.server->Root() / cell.name) == cell.content);
        } else {
            EXPECT_EQ(cell.status, 1);
            EXPECT_EQ(cell.errors, "tftp-put: Timeout\n");
            EXPECT_TRUE(ReadAll(cell.server->Root() / cell.name).empty());
        }
    }
    fs::remove_all(sources);
}
