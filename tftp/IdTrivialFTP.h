// The TFTP client component: the write transfer that sends a local file, or
// the rest of a stream, to a TFTP server over the UDP endpoint it derives
// from. Only the writing side exists: no read transfer, no server. Packet
// layouts and the error-code mapping belong in IdTrivialFTPBase, socket work
// in net/.
#pragma once

#include <cstdint>
#include <string>

#include "net/IdUDPClient.h"
#include "runtime/Stream.h"
#include "tftp/IdTrivialFTPBase.h"

class TIdTrivialFTP : public TIdUDPClient {
public:
    explicit TIdTrivialFTP(TComponent* AOwner = nullptr);

    TIdTFTPMode TransferMode() const { return transferMode_; }
    void SetTransferMode(TIdTFTPMode AValue) { transferMode_ = AValue; }
    /// The "blksize" value sent in every write request, unchecked.
    std::int32_t RequestedBlockSize() const { return requestedBlockSize_; }
    void SetRequestedBlockSize(std::int32_t AValue) { requestedBlockSize_ = AValue; }
    /// Source address and port of the latest datagram received ("" and 0
    /// after a time-out).
    const std::string& ReplyIP() const { return replyIP_; }
    std::uint16_t ReplyPort() const { return replyPort_; }

    /// "netascii" for tfNetAscii, "octet" for tfOctet.
    std::string ModeName() const;

    /// Sends the file at ALocalFile as ARemoteFile. Throws EFOpenError
    /// "Cannot open file "%s". %s" before anything is sent when the file
    /// cannot be opened; otherwise as UploadStream.
    void UploadFile(const std::string& ALocalFile, const std::string& ARemoteFile);

    /// Sends ASource from its position to its end as ARemoteFile and returns
    /// once the server acknowledged the last block. Throws EIdTFTPException
    /// "Timeout" when a wait ends without a datagram, the class of the code
    /// for an ERROR from the server, and the endpoint's failures. Always
    /// ends with the endpoint's socket released.
    void UploadStream(TStream& ASource, const std::string& ARemoteFile);

protected:
    /// Raises the failure of a received ERROR packet; sends nothing back.
    [[noreturn]] void RaiseServerError(const TIdBytes& APacket);
    /// Applies a received OACK (possibly a new BufferSize); on a bad one
    /// sends an ERROR packet to the OACK's sender and raises.
    void ParseOptionAck(const TIdBytes& APacket);

private:
    /// The state of one UploadStream run.
    struct TTransfer {
        explicit TTransfer(TStream& ASource) : Source(ASource) {}
        TStream& Source;
        std::int64_t Remaining = 0;
        std::uint16_t ExpectedBlock = 0;
        bool LastBlockSent = false;
        bool AwaitingAck = false;
        std::int32_t DataLength = 0;
        TIdBytes Packet; // the one packet buffer of the transfer
    };

    void InitDefaults();
    void ExchangeBlocks(TTransfer& T);
    void SendNextBlock(TTransfer& T, std::uint16_t ABlock);
    [[noreturn]] void RaiseUnexpected();
    void ReleaseTransferSocket() noexcept;

    TIdTFTPMode transferMode_ = tfOctet;
    std::int32_t requestedBlockSize_ = 0;
    std::uint16_t replyPort_ = 0;
    std::string replyIP_;
};
