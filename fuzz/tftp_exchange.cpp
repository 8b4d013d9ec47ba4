// The TFTP write transfer on fuzzed datagrams: a component whose endpoint is
// a script instead of a socket, so that the real transfer code answers
// whatever the fuzzer makes a server (or a stranger) send, and every packet
// it sends is checked against what must always hold: the request first, to
// the request's address; DATA blocks numbered 1, 2, 3 in order, only to the
// sender of the first reply, from whatever address, carrying the file's
// bytes in order; ERROR 5 to every stranger that sent anything but an ERROR,
// and to nobody else; nothing after an ERROR of its own; and success only
// once the server acknowledged the last, short block of the whole file.
//
// Input: two bytes of file size, then actions of one byte each, low three
// bits the kind and the next two the sender, with their operands:
//   0 ACK of the last block sent     1 ACK, 2-byte block number
//   2 OACK, 2-byte "blksize"          3 datagram, 1-byte length, bytes
//   4 ERROR, code byte, text length and text
//   5 nothing (a wait slice passes)   6 AbortTransfer, then a wait slice
//   7 empty datagram
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "runtime/Exception.h"
#include "runtime/Stream.h"
#include "tftp/IdTrivialFTP.h"

namespace {

/// The end of the script: not an Exception, so that no failure handler of
/// the transfer takes it for one of its own.
struct TEndOfScript {};

using TAddress = std::pair<std::string, std::uint16_t>;

const TAddress RequestTo{"127.0.0.1", 69};
/// The senders an action picks from: the server's address at a port of its
/// own, at the request port and at a third one, and another host.
const TAddress Senders[] = {
    {"127.0.0.1", 2000}, RequestTo, {"127.0.0.1", 3000}, {"127.0.0.2", 2000}};

void Check(bool holds) {
    if (!holds)
        std::abort();
}

/// A packet of 16-bit words and a tail of bytes.
TIdBytes Packet(std::initializer_list<std::uint16_t> words, const std::string& tail = {}) {
    TIdBytes b;
    for (const std::uint16_t w : words)
        AppendWord(b, w);
    b.insert(b.end(), tail.begin(), tail.end());
    return b;
}

class TFuzzedTFTP : public TIdTrivialFTP {
public:
    using TIdTrivialFTP::ReceiveDatagram;
    using TIdTrivialFTP::SendDatagramTo;

    TFuzzedTFTP(const std::uint8_t* data, std::size_t size, const TIdBytes& file)
        : next_(data), end_(data + size), file_(file) {
        SetHost(RequestTo.first);
        SetPort(RequestTo.second);
    }

    int ReceiveDatagram(TIdBytes& ABuffer, std::string& VPeerIP, std::uint16_t& VPeerPort,
                        std::int32_t /*AMSec*/) override {
        // Room for any datagram, and nothing awaited once the transfer spoke its last.
        Check(ABuffer.size() >= 65535 && !ended_ && !owedUnknownID_ && !abortPending_);
        const std::uint8_t action = Take();
        const TAddress& sender = Senders[(action >> 3) & 3];
        TIdBytes datagram;
        switch (action & 7) {
        case 0:
            datagram = Packet({4, lastBlock_});
            break;
        case 1:
            datagram = Packet({4, TakeWord()});
            break;
        case 2:
            datagram = Packet({6}, std::string("blksize\0", 8) + std::to_string(TakeWord()) + '\0');
            break;
        case 3:
            datagram = TakeBytes(Take());
            break;
        case 4: {
            const std::uint8_t code = Take();
            const TIdBytes text = TakeBytes(Take());
            datagram = Packet({5, code}, std::string(text.begin(), text.end()) + '\0');
            break;
        }
        case 6:
            AbortTransfer();
            abortPending_ = true;
            [[fallthrough]];
        case 5:
            VPeerIP.clear();
            VPeerPort = 0;
            return 0;
        case 7:
            break;
        }
        // The first datagram fixes the server, whoever sends it; anyone else
        // must be answered with ERROR 5, unless what they sent is an ERROR.
        if (!server_)
            server_ = sender;
        const bool error = datagram.size() >= 2 && datagram[0] == 0 && datagram[1] == 5;
        if (sender != server_ && !error)
            owedUnknownID_ = sender;
        std::copy(datagram.begin(), datagram.end(), ABuffer.begin());
        VPeerIP = sender.first;
        VPeerPort = sender.second;
        lastDelivered_ = {sender, datagram};
        return static_cast<int>(datagram.size());
    }

    void SendDatagramTo(const std::string& AHost, std::uint16_t APort, TIdIPVersion,
                        const TIdBytes& AData) override {
        Check(!ended_ && AData.size() >= 4);
        const TAddress to{AHost, APort};
        const std::uint16_t opcode = ReadWord(AData, 0);
        if (!requestSent_) {
            Check(opcode == 2 && to == RequestTo);
            const std::string options = std::string("\0octet\0blksize\0", 15) + "1500" +
                                        std::string("\0tsize\0", 7) + std::to_string(file_.size()) +
                                        '\0';
            Check(AData == Packet({2}, "rrpages.bin" + options));
            requestSent_ = true;
            return;
        }
        if (owedUnknownID_) {
            Check(opcode == 5 && to == *owedUnknownID_ &&
                  AData == Packet({5, 5}, std::string("Unknown transfer ID") + '\0'));
            owedUnknownID_.reset();
            return;
        }
        if (abortPending_) {
            Check(opcode == 5 && to == server_.value_or(RequestTo) &&
                  AData == Packet({5, 0}, std::string("Transfer cancelled") + '\0'));
            ended_ = true;
            return;
        }
        Check(server_ && to == *server_);
        if (opcode == 5) {
            Check(ReadWord(AData, 2) != 5);
            ended_ = true;
            return;
        }
        // DATA: the next block, the file's next bytes, full unless it is the last.
        const std::size_t length = AData.size() - 4;
        const auto blockSize = static_cast<std::size_t>(BufferSize() - 4);
        Check(opcode == 3 && !lastBlockSent_ && ReadWord(AData, 2) == lastBlock_ + 1 &&
              length <= blockSize && offset_ + length <= file_.size() &&
              std::equal(AData.begin() + 4, AData.end(), file_.begin() + offset_));
        lastBlock_ = ReadWord(AData, 2);
        offset_ += length;
        lastBlockSent_ = length < blockSize;
    }

    /// Called after UploadStream returned: the server acknowledged the last,
    /// short block, and the whole file went out.
    void CheckSuccess() const {
        const auto& [sender, datagram] = lastDelivered_;
        Check(lastBlockSent_ && offset_ == file_.size() && sender == server_ &&
              datagram.size() >= 4 && ReadWord(datagram, 0) == 4 &&
              ReadWord(datagram, 2) == lastBlock_ && !owedUnknownID_ && !abortPending_);
    }

private:
    std::uint8_t Take() {
        if (next_ == end_)
            throw TEndOfScript{};
        return *next_++;
    }
    std::uint16_t TakeWord() {
        const std::uint8_t high = Take();
        return static_cast<std::uint16_t>((high << 8) | Take());
    }
    TIdBytes TakeBytes(std::size_t count) {
        TIdBytes bytes;
        while (bytes.size() < count && next_ != end_)
            bytes.push_back(*next_++);
        return bytes;
    }

    const std::uint8_t* next_;
    const std::uint8_t* end_;
    const TIdBytes& file_;
    std::optional<TAddress> server_;
    std::optional<TAddress> owedUnknownID_;
    std::pair<TAddress, TIdBytes> lastDelivered_;
    bool requestSent_ = false;
    bool abortPending_ = false;
    bool ended_ = false;
    bool lastBlockSent_ = false;
    std::uint16_t lastBlock_ = 0;
    std::size_t offset_ = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    TIdBytes file((data[0] << 8 | data[1]) % 5000);
    for (std::size_t i = 0; i < file.size(); ++i)
        file[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    TMemoryStream source;
    source.Write(file.data(), static_cast<std::int64_t>(file.size()));
    source.SetPosition(0);

    TFuzzedTFTP tftp(data + 2, size - 2, file);
    try {
        tftp.UploadStream(source, "rrpages.bin");
        tftp.CheckSuccess();
    } catch (const TEndOfScript&) {
    } catch (const Exception&) {
        // Every failure of the transfer is one of the system's own.
    }
    return 0;
}
