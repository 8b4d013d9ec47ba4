// The TFTP write transfer: the request, the lock-step exchange of DATA and ACK
// packets, option negotiation and the reading of the server's ERROR packets.
// Byte layouts and the error-code mapping come from IdTrivialFTPBase; no
// socket calls here, the endpoint does them.
#include "tftp/IdTrivialFTP.h"

#include <algorithm>
#include <cstring>

#include "runtime/Convert.h"
#include "runtime/Exception.h"
#include "runtime/Format.h"

namespace {

constexpr std::uint16_t DefaultPort = 69;                // RFC 1350
constexpr std::int32_t DefaultRequestedBlockSize = 1500; // asked of every server; it may grant less
constexpr std::int32_t DefaultReceiveTimeout = 4000;
// Every wait lasts at least this long, so that a ReceiveTimeout of 0 or the
// endpoint's "no limit" (-2) cannot make the transfer hang for ever.
constexpr std::int32_t MinimumWait = 500;

/// The source file of UploadFile: opened for reading only and kept open for
/// the whole transfer, with writers shut out so that the file cannot change
/// under it (on POSIX an advisory shared lock: a writer that takes the
/// exclusive lock waits until the transfer is over, and a file that such a
/// writer holds right now is not opened at all). Directories are refused, as
/// they are not files that could be sent.
///
/// The transfer reads one block at a time; the stream reads ahead in 64 KiB
/// pieces, so that a block costs no system call of its own besides the
/// exchange (one wait, one receive, one send). Memory stays bounded.
class TIdReadFileExclusiveStream : public TFileStream {
public:
    explicit TIdReadFileExclusiveStream(const std::string& path)
        : TFileStream(path, TOpenMode::fmOpenRead, TShareMode::fmShareDenyWrite) {}

    std::int64_t Read(void* buffer, std::int64_t count) override {
        auto* out = static_cast<std::uint8_t*>(buffer);
        std::int64_t done = 0;
        while (done < count) {
            if (next_ == end_) {
                if (ahead_.empty())
                    ahead_.resize(ReadAhead);
                const std::int64_t n = TFileStream::Read(ahead_.data(), ReadAhead);
                if (n <= 0)
                    break;
                next_ = 0;
                end_ = n;
            }
            const std::int64_t take = std::min(count - done, end_ - next_);
            std::memcpy(out + done, ahead_.data() + next_, static_cast<std::size_t>(take));
            next_ += take;
            done += take;
        }
        return done;
    }

    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override {
        const std::int64_t unread = end_ - next_;
        if (origin == TSeekOrigin::soCurrent && offset == 0)
            return TFileStream::Seek(0, origin) - unread; // a position query keeps the buffer
        if (origin == TSeekOrigin::soCurrent)
            offset -= unread;
        next_ = end_ = 0;
        return TFileStream::Seek(offset, origin);
    }

private:
    static constexpr std::int64_t ReadAhead = 64 * 1024;

    std::vector<std::uint8_t> ahead_;
    std::int64_t next_ = 0; // first unread byte in ahead_
    std::int64_t end_ = 0;  // end of the valid bytes in ahead_
};

} // namespace

TIdTrivialFTP::TIdTrivialFTP(TComponent* AOwner) : TIdUDPClient(AOwner) {
    InitDefaults();
}

void TIdTrivialFTP::InitDefaults() {
    transferMode_ = tfOctet;
    SetPort(DefaultPort);
    requestedBlockSize_ = DefaultRequestedBlockSize;
    SetReceiveTimeout(DefaultReceiveTimeout);
}

std::string TIdTrivialFTP::ModeName() const {
    return transferMode_ == tfNetAscii ? "netascii" : "octet";
}

void TIdTrivialFTP::UploadFile(const std::string& ALocalFile, const std::string& ARemoteFile) {
    TIdReadFileExclusiveStream source(ALocalFile);
    UploadStream(source, ARemoteFile);
}

void TIdTrivialFTP::UploadStream(TStream& ASource, const std::string& ARemoteFile) {
    try {
        SetBufferSize(TFTP_BLKSIZE_DEFAULT + TFTP_HEADER_SIZE);
        TTransfer T{ASource};
        // A source positioned past its end has nothing left to send, not a
        // negative amount.
        T.Remaining = std::max<std::int64_t>(ASource.Size() - ASource.Position(), 0);
        // The largest packet a server can make us build or accept, reserved
        // once: no allocation per packet for the rest of the transfer.
        T.Packet.reserve(TFTP_BLKSIZE_MAX + TFTP_HEADER_SIZE);

        AppendWord(T.Packet, TFTP_WRQ);
        AppendText(T.Packet, ARemoteFile);
        AppendText(T.Packet, ModeName());
        AppendText(T.Packet, "blksize");
        AppendText(T.Packet, std::to_string(requestedBlockSize_));
        AppendText(T.Packet, "tsize");
        AppendText(T.Packet, std::to_string(T.Remaining));
        SendDatagram(T.Packet);

        WorkBegin(wmWrite, T.Remaining);
        try {
            ExchangeBlocks(T);
        } catch (...) {
            WorkEnd(wmWrite);
            throw;
        }
        WorkEnd(wmWrite);
    } catch (...) {
        ReleaseTransferSocket();
        throw;
    }
    ReleaseTransferSocket();
}

void TIdTrivialFTP::ExchangeBlocks(TTransfer& T) {
    while (!T.LastBlockSent || T.AwaitingAck) {
        T.Packet.resize(static_cast<std::size_t>(std::max(BufferSize(), TFTP_HEADER_SIZE)));
        // No retransmission: the unit's server answers at once or not at all.
        const int n = ReceiveDatagram(T.Packet, replyIP_, replyPort_,
                                      std::max(MinimumWait, ReceiveTimeout()));
        if (n <= 0)
            throw EIdTFTPException("Timeout");
        T.Packet.resize(static_cast<std::size_t>(n));

        switch (ReadWord(T.Packet, 0)) {
        case TFTP_ACK: {
            const std::uint16_t block = ReadWord(T.Packet, 2);
            if (block != T.ExpectedBlock)
                break; // a duplicate or stray ACK; nothing is resent, the wait starts anew
            T.AwaitingAck = false;
            if (T.LastBlockSent)
                break;
            if (block == TFTP_BLOCK_MAX) {
                // Block numbers do not wrap: some servers would take block 0
                // after 65535 as a duplicate and the file would be corrupted.
                SendErrorPacket(*this, replyIP_, replyPort_, TFTP_ERR_DISKFULL, "");
                throw EIdTFTPAllocationExceeded("");
            }
            SendNextBlock(T, static_cast<std::uint16_t>(block + 1));
            break;
        }
        case TFTP_ERROR:
            RaiseServerError(T.Packet);
        case TFTP_OACK:
            // Options are negotiated only before the first DATA packet.
            if (T.ExpectedBlock != 0)
                RaiseUnexpected();
            ParseOptionAck(T.Packet);
            SendNextBlock(T, 1);
            break;
        default:
            RaiseUnexpected();
        }
    }
}

void TIdTrivialFTP::SendNextBlock(TTransfer& T, std::uint16_t ABlock) {
    const std::int32_t blockSize = std::max(BufferSize() - TFTP_HEADER_SIZE, 0);
    T.DataLength = static_cast<std::int32_t>(std::min<std::int64_t>(T.Remaining, blockSize));
    T.Packet.resize(static_cast<std::size_t>(T.DataLength + TFTP_HEADER_SIZE));
    T.Packet[0] = 0;
    T.Packet[1] = TFTP_DATA;
    T.Packet[2] = static_cast<std::uint8_t>(ABlock >> 8);
    T.Packet[3] = static_cast<std::uint8_t>(ABlock & 0xFF);
    try {
        const std::int64_t got = T.Source.Read(T.Packet.data() + TFTP_HEADER_SIZE, T.DataLength);
        T.DataLength = static_cast<std::int32_t>(std::clamp<std::int64_t>(got, 0, T.DataLength));
    } catch (const std::exception& e) {
        // Tell the server, so that it does not keep a half-written file waiting.
        SendErrorForFailure(*this, replyIP_, replyPort_, e);
        throw;
    }
    T.Packet.resize(static_cast<std::size_t>(T.DataLength + TFTP_HEADER_SIZE));
    SendDatagramTo(replyIP_, replyPort_, T.Packet);
    T.AwaitingAck = true;
    WorkAdd(wmWrite, T.DataLength);
    T.Remaining -= T.DataLength;
    T.LastBlockSent = T.DataLength < blockSize;
    T.ExpectedBlock = ABlock;
}

void TIdTrivialFTP::RaiseServerError(const TIdBytes& APacket) {
    const std::uint16_t code = ReadWord(APacket, 2);
    auto end = APacket.end();
    if (APacket.size() > TFTP_HEADER_SIZE && APacket.back() == 0)
        --end;
    // The server gave up already: an ERROR is never answered (RFC 1350).
    RaiseTFTPError(code, std::string(APacket.begin() + TFTP_HEADER_SIZE, end));
}

void TIdTrivialFTP::ParseOptionAck(const TIdBytes& APacket) {
    const auto nextText = [&APacket](std::size_t& pos) {
        const auto from = APacket.begin() + static_cast<std::ptrdiff_t>(pos);
        const auto zero = std::find(from, APacket.end(), std::uint8_t{0});
        if (zero == APacket.end())
            throw EIdTFTPOptionNegotiationFailed("");
        pos = static_cast<std::size_t>(zero - APacket.begin()) + 1;
        return std::string(from, zero);
    };
    try {
        std::size_t pos = 2;
        while (pos < APacket.size()) {
            const std::string name = nextText(pos);
            const std::string value = nextText(pos);
            if (SameText(name, "blksize")) {
                const std::int32_t size = StrToInt(Trim(value));
                if (size < TFTP_BLKSIZE_MIN || size > TFTP_BLKSIZE_MAX)
                    throw EIdTFTPOptionNegotiationFailed(
                        Format("Unsupported value \"%s\" for option: \"%s\"", value, name));
                SetBufferSize(size + TFTP_HEADER_SIZE);
            } else if (SameText(name, "tsize")) {
                // The server's view of the size changes nothing for a writer.
            } else if (!name.empty() || !value.empty()) {
                throw EIdTFTPOptionNegotiationFailed(Format("Unsupported option: \"%s\"", name));
            }
        }
    } catch (const std::exception& e) {
        // RFC 2347: a client that refuses the server's options answers with
        // ERROR 8 so the server does not wait for DATA that never comes.
        SendErrorForFailure(*this, replyIP_, replyPort_, e);
        throw;
    }
}

void TIdTrivialFTP::RaiseUnexpected() {
    SendErrorPacket(*this, replyIP_, replyPort_, TFTP_ERR_ILLEGAL, "");
    throw EIdTFTPException(Format("Unexpected operation from %s:%d", replyIP_, replyPort_));
}

void TIdTrivialFTP::ReleaseTransferSocket() noexcept {
    // Each transfer ends with its socket closed, so the next one starts on a
    // fresh socket and no late datagram of this one can reach it. A handle
    // without a socket has nothing to close; asking SocketHandle() for it
    // would allocate a new one, so it is not asked.
    if (Active())
        SocketHandle().ReleaseSocket();
}
