// The TFTP client component: the write transfer that sends a local file, or
// the rest of a stream, to a TFTP server over the UDP endpoint it derives
// from. Only the writing side exists: no read transfer, no server. Packet
// layouts and the error-code mapping belong in IdTrivialFTPBase, socket work
// in net/.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <span>
#include <string>

#include "net/IdUDPClient.h"
#include "runtime/Sha256.h"
#include "runtime/Stream.h"
#include "tftp/IdRetransmitTimer.h"
#include "tftp/IdTrivialFTPBase.h"

class TIdTrivialFTP : public TIdUDPClient {
public:
    explicit TIdTrivialFTP(TComponent* AOwner = nullptr);

    TIdTFTPMode TransferMode() const { return transferMode_; }
    void SetTransferMode(TIdTFTPMode AValue) { transferMode_ = AValue; }
    /// The "blksize" value sent in every write request, unchecked.
    std::int32_t RequestedBlockSize() const { return requestedBlockSize_; }
    void SetRequestedBlockSize(std::int32_t AValue) { requestedBlockSize_ = AValue; }
    /// How often a packet (the request, or the last DATA) is sent again when
    /// no reply comes, each time after a wait measured from the transfer's
    /// round trips and doubled per re-send; ReceiveTimeout still bounds the
    /// whole silence. 0, the default, sends every packet once.
    std::int32_t Retransmissions() const { return retransmissions_; }
    void SetRetransmissions(std::int32_t AValue) { retransmissions_ = AValue; }
    /// Address and port of the server's end of the latest transfer (its
    /// transfer identifier): the sender of the first reply to the request.
    /// "" and 0 until a reply came.
    const std::string& ReplyIP() const { return replyIP_; }
    std::uint16_t ReplyPort() const { return replyPort_; }

    /// The SHA-256 (lower-case hex) of the bytes that the latest transfer
    /// sent, taken from the very packets that went out; set once the server
    /// acknowledged the last block, empty until then and after a transfer
    /// that failed.
    const std::string& SentSha256() const { return sentSha256_; }

    /// "netascii" for tfNetAscii, "octet" for tfOctet.
    std::string ModeName() const;

    /// Sends the file at ALocalFile as ARemoteFile. Throws EFOpenError
    /// "Cannot open file "%s". %s" before anything is sent when the file
    /// cannot be opened or is no regular file; otherwise as UploadStream.
    void UploadFile(const std::string& ALocalFile, const std::string& ARemoteFile);

    /// Sends ASource from its position to its end as ARemoteFile and returns
    /// once the server acknowledged the last block. The first reply to the
    /// request names the server, from whatever address and port it comes
    /// (an open endpoint hears only its peer); anyone else is told ERROR 5,
    /// unless what they sent is an ERROR, which is never answered. Throws
    /// EIdTFTPAllocationExceeded before the request, or after the server's
    /// first reply, when the source needs more than 65535 blocks;
    /// EIdTFTPException "Timeout" when no reply moves the transfer on within
    /// the wait; EReadError when the source ends early or changes; the class
    /// of the code for an ERROR from the server, and the endpoint's failures.
    /// Always ends with the endpoint's socket released.
    void UploadStream(TStream& ASource, const std::string& ARemoteFile);

    /// Asks the running transfer to end: at its next wait slice (within a
    /// quarter of a second) it sends the server ERROR 0 "Transfer cancelled"
    /// and throws EIdTFTPException with that text. Safe from another thread
    /// and from a notification; a request made between transfers is dropped
    /// when the next one starts.
    void AbortTransfer() noexcept { abortRequested_ = true; }

protected:
    /// Raises the failure of a received ERROR packet; sends nothing back.
    [[noreturn]] void RaiseServerError(std::span<const std::uint8_t> APacket);
    /// Applies a received OACK (possibly a new BufferSize); on a bad one
    /// sends an ERROR packet to the server and raises.
    void ParseOptionAck(std::span<const std::uint8_t> APacket);

private:
    using TClock = std::chrono::steady_clock;

    /// The state of one UploadStream run.
    struct TTransfer {
        explicit TTransfer(TStream& ASource) : Source(ASource) {}
        TStream& Source;
        std::int64_t Total = 0; // the bytes announced in the request
        std::int64_t Remaining = 0;
        std::uint16_t ExpectedBlock = 0;
        bool LastBlockSent = false;
        bool AwaitingAck = false;
        std::int32_t DataLength = 0;
        TIdBytes Packet; // the one buffer of the packets sent
        TIdBytes Reply;  // the one buffer of the datagrams received
        /// Where the request went: a cancel before the first reply is told there.
        std::string RequestIP;
        /// ReplyIP and ReplyPort hold the server's transfer identifier.
        bool PeerKnown = false;
        /// The wait for a reply to the packet sent last ends here.
        TClock::time_point Deadline;
        /// Retransmission: when the packet sent last first went out, how
        /// often it went out again, when it goes next, and after how long.
        TClock::time_point SentAt;
        std::int32_t Resends = 0;
        TClock::time_point ResendAt;
        TIdRetransmitTimer ResendTimer;
        /// The source as it was when the transfer began.
        TFileStamp SourceStamp;
        /// Of every byte that DATA packets carried, each block once.
        TSha256 Sent;
    };

    void InitDefaults();
    /// The address the request goes to.
    std::string RequestAddress();
    void ExchangeBlocks(TTransfer& T);
    /// The next datagram from the server; tells anyone else ERROR 5 unless
    /// they sent an ERROR.
    std::span<const std::uint8_t> AwaitReply(TTransfer& T);
    /// True for a datagram from the server; the first reply to the request
    /// fixes the server's transfer identifier, address and port.
    bool FromServer(TTransfer& T, const std::string& AIP, std::uint16_t APort);
    void SendNextBlock(TTransfer& T, std::uint16_t ABlock);
    void ReadBlock(TTransfer& T, std::uint16_t ABlock, std::int32_t ABlockSize);
    /// Starts the wait for a reply to the packet just sent.
    void RestartWait(TTransfer& T);
    /// Sends the packet sent last once more and doubles the next wait.
    void Resend(TTransfer& T);
    [[noreturn]] void RaiseUnexpected();
    [[noreturn]] void RaiseAborted(const TTransfer& T);
    void ReleaseTransferSocket() noexcept;

    TIdTFTPMode transferMode_ = tfOctet;
    std::int32_t requestedBlockSize_ = 0;
    std::int32_t retransmissions_ = 0;
    std::uint16_t replyPort_ = 0;
    std::string replyIP_;
    std::string sentSha256_;
    std::atomic<bool> abortRequested_{false};
};
