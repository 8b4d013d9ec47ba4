// The TFTP write transfer: the request, the lock-step exchange of DATA and ACK
// packets, option negotiation and the reading of the server's ERROR packets.
// Byte layouts and the error-code mapping come from IdTrivialFTPBase; no
// socket calls here, the endpoint does them.
#include "tftp/IdTrivialFTP.h"

#include <algorithm>
#include <cstring>

#include "net/IdStack.h"
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
// A wait is cut into slices of at most this long, so that AbortTransfer (a
// Ctrl-C, a closed window) ends it within a quarter of a second.
constexpr std::int32_t WaitSlice = 250;
// Larger than any UDP payload: a datagram is never cut, so a server's long
// ERROR text arrives whole.
constexpr std::size_t MaxDatagramSize = 65536;

constexpr const char* TimeoutText = "Timeout";
constexpr const char* CancelledText = "Transfer cancelled";
constexpr const char* UnknownTransferIDText = "Unknown transfer ID"; // RFC 1350 section 4
constexpr const char* ChangedSourceText = "Source changed during the transfer";

/// The source file of UploadFile: opened for reading only and kept open for
/// the whole transfer, with writers shut out so that the file cannot change
/// under it (on POSIX an advisory shared lock: a writer that takes the
/// exclusive lock waits until the transfer is over, and a file that such a
/// writer holds right now is not opened at all; a writer that ignores the
/// lock is caught by the transfer, which checks the source for a change).
/// Only a regular file opens: a directory, a pipe or a device is refused at
/// once, as none of them is a file that could be sent.
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

/// Refuses a source that needs more than 65535 blocks of ABlockSize bytes.
/// Block numbers do not wrap: some servers would take block 0 after 65535
/// for a duplicate and keep a corrupted file. The last block is always
/// short, so a source of exactly 65535 full blocks needs one block more.
void CheckBlockCount(std::int64_t ASize, std::int32_t ABlockSize) {
    if (ASize >= std::int64_t{TftpBlockMax} * ABlockSize)
        throw EIdTFTPAllocationExceeded(
            Format("Source too large: %d bytes do not fit into %d blocks of %d bytes", ASize,
                   TftpBlockMax, ABlockSize));
}

/// What tells that a source changed under the transfer: its size, and for a
/// file its modification time too.
TFileStamp StampOf(TStream& ASource) {
    if (auto* file = dynamic_cast<TFileStream*>(&ASource))
        return file->Stamp();
    return {ASource.Size(), 0};
}

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
        abortRequested_ = false;
        replyIP_.clear();
        replyPort_ = 0;
        sentSha256_.clear();
        SetBufferSize(TftpBlockSizeDefault + TftpHeaderSize);
        TTransfer T{ASource};
        // A source positioned past its end has nothing left to send, not a
        // negative amount.
        T.Remaining = std::max<std::int64_t>(ASource.Size() - ASource.Position(), 0);
        T.Total = T.Remaining;
        T.SourceStamp = StampOf(ASource);
        // The server may grant a smaller block than asked, never a larger one
        // (RFC 2348), and one that ignores the options gives 512: when not
        // even the largest can carry the source, nothing is sent at all.
        CheckBlockCount(T.Total, std::max(TftpBlockSizeDefault,
                                          std::min(requestedBlockSize_, TftpBlockSizeMax)));
        // The largest packet a server can make us build, and room for any
        // datagram, reserved once: no allocation per packet for the rest of
        // the transfer.
        T.Packet.reserve(TftpBlockSizeMax + TftpHeaderSize);
        T.Reply.resize(MaxDatagramSize);
        T.RequestIP = RequestAddress();

        AppendWord(T.Packet, toWRQ);
        AppendText(T.Packet, ARemoteFile);
        AppendText(T.Packet, ModeName());
        AppendText(T.Packet, "blksize");
        AppendText(T.Packet, std::to_string(requestedBlockSize_));
        AppendText(T.Packet, "tsize");
        AppendText(T.Packet, std::to_string(T.Remaining));
        SendDatagram(T.Packet);

        WorkBegin(wmWrite, T.Remaining);
        try {
            RestartWait(T);
            ExchangeBlocks(T);
        } catch (...) {
            WorkEnd(wmWrite);
            throw;
        }
        sentSha256_ = T.Sent.HexDigest();
        WorkEnd(wmWrite);
    } catch (...) {
        ReleaseTransferSocket();
        throw;
    }
    ReleaseTransferSocket();
}

std::string TIdTrivialFTP::RequestAddress() {
    // An open endpoint knows its peer; otherwise the request goes to Host,
    // resolved, in the stack's canonical text ("127.000.000.001" and
    // "127.0.0.1" are one address).
    if (IsOpen())
        return SocketHandle().PeerIP();
    const std::string address = GStack->ResolveHostAddress(Host(), IPVersion());
    return GStack->AddressToText(GStack->TextToAddress(address, IPVersion()), IPVersion());
}

void TIdTrivialFTP::ExchangeBlocks(TTransfer& T) {
    while (!T.LastBlockSent || T.AwaitingAck) {
        const std::span<const std::uint8_t> reply = AwaitReply(T);
        switch (ReadWord(reply, 0)) {
        case toACK:
            if (ReadWord(reply, 2) != T.ExpectedBlock)
                break; // a duplicate or stray ACK: nothing is resent, and the wait goes on
            T.AwaitingAck = false;
            if (!T.LastBlockSent)
                SendNextBlock(T, static_cast<std::uint16_t>(T.ExpectedBlock + 1));
            break;
        case toERROR:
            RaiseServerError(reply);
        case toOACK:
            // Options are negotiated only before the first DATA packet. A
            // request sent more than once may be answered more than once:
            // the first answer stands, and a repeat passes as a duplicate
            // ACK does.
            if (T.ExpectedBlock != 0) {
                if (retransmissions_ > 0)
                    break;
                RaiseUnexpected();
            }
            ParseOptionAck(reply);
            SendNextBlock(T, 1);
            break;
        default:
            RaiseUnexpected();
        }
    }
}

std::span<const std::uint8_t> TIdTrivialFTP::AwaitReply(TTransfer& T) {
    std::string ip;
    std::uint16_t port = 0;
    bool lastLook = false;
    for (;;) {
        if (abortRequested_)
            RaiseAborted(T);
        // The wait counts from the packet that moved the transfer on, so
        // datagrams that do not (strays, strangers) cannot stretch it.
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(T.Deadline - TClock::now()).count();
        // A reply that came in time but was not taken in time (the program
        // was stopped, Ctrl-Z, and continued later) still counts: one look
        // at what is waiting, without waiting, before the transfer gives up.
        if (left <= 0 && lastLook)
            throw EIdTFTPException(TimeoutText);
        lastLook = left <= 0;
        std::int64_t wait = std::clamp<std::int64_t>(left, 0, WaitSlice);
        if (T.Resends < retransmissions_) {
            const auto resendIn =
                std::chrono::ceil<std::chrono::milliseconds>(T.ResendAt - TClock::now()).count();
            if (resendIn <= 0) {
                Resend(T);
                continue;
            }
            wait = std::min(wait, resendIn);
        }
        const int n = ReceiveDatagram(T.Reply, ip, port, static_cast<std::int32_t>(wait));
        if (ip.empty())
            continue; // the slice passed with nothing
        if (!FromServer(T, ip, port)) {
            // Another host or port: it is told so (RFC 1350 section 4), and
            // this transfer goes on as if nothing had come. An ERROR is never
            // answered, a stranger's neither: two transfers that each took
            // the other for a stranger would trade ERROR 5 without end.
            if (!IsErrorPacket({T.Reply.data(), static_cast<std::size_t>(std::max(n, 0))}))
                SendErrorPacket(*this, ip, port, teUnknownTransferId, UnknownTransferIDText);
            continue;
        }
        // An empty datagram from the server answers nothing: it ends the
        // transfer as silence would, re-sends or not.
        if (n <= 0)
            throw EIdTFTPException(TimeoutText);
        return {T.Reply.data(), static_cast<std::size_t>(n)};
    }
}

bool TIdTrivialFTP::FromServer(TTransfer& T, const std::string& AIP, std::uint16_t APort) {
    if (T.PeerKnown)
        return AIP == replyIP_ && APort == replyPort_;
    // The server answers from a port of its own choice, which then stands
    // for the transfer (RFC 1350 section 4), and not always from the address
    // the request went to: a server bound to the wildcard address, or on a
    // host with several addresses, answers from the one its host picks for
    // the way back. So the first reply names both, as other TFTP clients
    // take it (curl, atftp, tftp-hpa). An open endpoint hears its peer alone.
    replyIP_ = AIP;
    replyPort_ = APort;
    T.PeerKnown = true;
    return true;
}

void TIdTrivialFTP::RestartWait(TTransfer& T) {
    const auto now = TClock::now();
    T.Deadline = now + std::chrono::milliseconds(std::max(MinimumWait, ReceiveTimeout()));
    if (retransmissions_ > 0) {
        T.SentAt = now;
        T.Resends = 0;
        T.ResendAt = now + T.ResendTimer.Timeout();
    }
}

void TIdTrivialFTP::Resend(TTransfer& T) {
    // Until the first DATA the packet is the request, which goes where the
    // first one went; the server's answer to either starts the transfer.
    if (T.ExpectedBlock == 0)
        SendDatagram(T.Packet);
    else
        SendDatagramTo(replyIP_, replyPort_, T.Packet);
    ++T.Resends;
    T.ResendTimer.Backoff();
    T.ResendAt = TClock::now() + T.ResendTimer.Timeout();
}

void TIdTrivialFTP::SendNextBlock(TTransfer& T, std::uint16_t ABlock) {
    // The reply to the packet before came just now; a packet that went out
    // more than once tells nothing about the round trip (Karn's rule).
    if (retransmissions_ > 0 && T.Resends == 0)
        T.ResendTimer.Sample(
            std::chrono::duration_cast<TIdRetransmitTimer::Duration>(TClock::now() - T.SentAt));
    const std::int32_t blockSize = std::max(BufferSize() - TftpHeaderSize, 0);
    try {
        // The server's block size is known only now.
        if (ABlock == 1)
            CheckBlockCount(T.Total, blockSize);
        ReadBlock(T, ABlock, blockSize);
    } catch (const std::exception& e) {
        // Tell the server, so that it does not keep a half-written file waiting.
        SendErrorForFailure(*this, replyIP_, replyPort_, e);
        throw;
    }
    SendDatagramTo(replyIP_, replyPort_, T.Packet);
    T.AwaitingAck = true;
    WorkAdd(wmWrite, T.DataLength);
    T.Remaining -= T.DataLength;
    T.LastBlockSent = T.DataLength < blockSize;
    T.ExpectedBlock = ABlock;
    RestartWait(T);
}

void TIdTrivialFTP::ReadBlock(TTransfer& T, std::uint16_t ABlock, std::int32_t ABlockSize) {
    const auto length = static_cast<std::int32_t>(std::min<std::int64_t>(T.Remaining, ABlockSize));
    T.Packet.resize(static_cast<std::size_t>(length + TftpHeaderSize));
    T.Packet[0] = 0;
    T.Packet[1] = toDATA;
    T.Packet[2] = static_cast<std::uint8_t>(ABlock >> 8);
    T.Packet[3] = static_cast<std::uint8_t>(ABlock & 0xFF);
    for (std::int32_t got = 0; got < length;) {
        const std::int64_t n = T.Source.Read(T.Packet.data() + TftpHeaderSize + got, length - got);
        // The request announced the size: a source that ends before it was
        // cut under the transfer, and a shorter file would pass for complete.
        if (n <= 0)
            throw EReadError(Format("%s: it ended after %d of %d bytes", ChangedSourceText,
                                    T.Total - T.Remaining + got, T.Total));
        got += static_cast<std::int32_t>(std::min<std::int64_t>(n, length - got));
    }
    // Before the last block goes out: once it is acknowledged the server
    // holds the file as complete, however it was rewritten meanwhile.
    if (length < ABlockSize && StampOf(T.Source) != T.SourceStamp)
        throw EReadError(ChangedSourceText);
    T.DataLength = length;
    T.Sent.Update(std::span(T.Packet).subspan(TftpHeaderSize));
}

void TIdTrivialFTP::RaiseServerError(std::span<const std::uint8_t> APacket) {
    const std::uint16_t code = ReadWord(APacket, 2);
    auto end = APacket.end();
    if (APacket.size() > TftpHeaderSize && APacket.back() == 0)
        --end;
    // The server gave up already: an ERROR is never answered (RFC 1350).
    RaiseTFTPError(code, std::string(APacket.begin() + TftpHeaderSize, end));
}

void TIdTrivialFTP::ParseOptionAck(std::span<const std::uint8_t> APacket) {
    const auto nextText = [&APacket](std::size_t& pos) {
        const auto from = APacket.begin() + static_cast<std::ptrdiff_t>(pos);
        const auto zero = std::find(from, APacket.end(), std::uint8_t{0});
        if (zero == APacket.end())
            throw EIdTFTPOptionNegotiationFailed(
                Format("Malformed option acknowledgement: \"%s\" has no terminating zero",
                       std::string(from, zero)));
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
                if (size < TftpBlockSizeMin || size > TftpBlockSizeMax)
                    throw EIdTFTPOptionNegotiationFailed(
                        Format("Unsupported value \"%s\" for option: \"%s\"", value, name));
                SetBufferSize(size + TftpHeaderSize);
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
    SendErrorPacket(*this, replyIP_, replyPort_, teIllegalOperation, "");
    throw EIdTFTPException(Format("Unexpected operation from %s:%d", replyIP_, replyPort_));
}

void TIdTrivialFTP::RaiseAborted(const TTransfer& T) {
    const EIdTFTPException cancelled(CancelledText);
    // The server would otherwise wait for DATA until it gives up. Before its
    // first reply only the request's destination is known.
    if (T.PeerKnown)
        SendErrorForFailure(*this, replyIP_, replyPort_, cancelled);
    else
        SendErrorForFailure(*this, T.RequestIP, Port(), cancelled);
    throw cancelled;
}

void TIdTrivialFTP::ReleaseTransferSocket() noexcept {
    // Each transfer ends with its socket closed, so the next one starts on a
    // fresh socket and no late datagram of this one can reach it. A handle
    // without a socket has nothing to close; asking SocketHandle() for it
    // would allocate a new one, so it is not asked.
    if (Active())
        SocketHandle().ReleaseSocket();
}
