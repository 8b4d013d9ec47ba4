// TFTP on the wire: opcodes, error codes and option limits, the transfer
// modes, the TFTP failure classes, the byte-level packet helpers and the two
// operations that send an ERROR packet. Everything that turns a TFTP error
// code into a failure class, or back, lives here and nowhere else. No transfer
// logic (that is IdTrivialFTP) and no socket calls (those are net/).
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <span>
#include <string>
#include <string_view>

#include "net/IdException.h"
#include "net/IdGlobal.h"

class TIdUDPBase;

/// Opcodes, RFC 1350 section 5; OACK from RFC 2347.
enum TTftpOpcode : std::uint16_t {
    toRRQ = 1,
    toWRQ = 2,
    toDATA = 3,
    toACK = 4,
    toERROR = 5,
    toOACK = 6
};

/// Error codes, RFC 1350 appendix; 8 from RFC 2347.
enum TTftpErrorCode : std::uint16_t {
    teUndefined = 0,
    teNotFound = 1,
    teAccessViolation = 2,
    teDiskFull = 3,
    teIllegalOperation = 4,
    teUnknownTransferId = 5,
    teFileExists = 6,
    teNoSuchUser = 7,
    teOptionRefused = 8
};

constexpr std::int32_t TftpHeaderSize = 4;         // opcode + block number, RFC 1350
constexpr std::int32_t TftpBlockSizeDefault = 512; // RFC 1350
constexpr std::int32_t TftpBlockSizeMin = 8;       // RFC 2348
constexpr std::int32_t TftpBlockSizeMax = 65464;   // RFC 2348
constexpr std::uint16_t TftpBlockMax = 65535;      // block numbers are 16 bits and never wrap here

/// The mode named in a write request; the data bytes go out unchanged in both.
enum TIdTFTPMode : std::uint8_t { tfNetAscii, tfOctet };

/// Base of every TFTP failure; code 0 and 9 to 65535 of an ERROR packet.
class EIdTFTPException : public EIdException {
public:
    using EIdException::EIdException;
};

// One class per error code 1 to 8, siblings directly under EIdTFTPException.
class EIdTFTPFileNotFound : public EIdTFTPException {
public:
    using EIdTFTPException::EIdTFTPException;
};
class EIdTFTPAccessViolation : public EIdTFTPException {
public:
    using EIdTFTPException::EIdTFTPException;
};
class EIdTFTPAllocationExceeded : public EIdTFTPException {
public:
    using EIdTFTPException::EIdTFTPException;
};
class EIdTFTPIllegalOperation : public EIdTFTPException {
public:
    using EIdTFTPException::EIdTFTPException;
};
class EIdTFTPUnknownTransferID : public EIdTFTPException {
public:
    using EIdTFTPException::EIdTFTPException;
};
class EIdTFTPFileAlreadyExists : public EIdTFTPException {
public:
    using EIdTFTPException::EIdTFTPException;
};
class EIdTFTPNoSuchUser : public EIdTFTPException {
public:
    using EIdTFTPException::EIdTFTPException;
};
class EIdTFTPOptionNegotiationFailed : public EIdTFTPException {
public:
    using EIdTFTPException::EIdTFTPException;
};

/// Raises the failure class of an ERROR packet's code with the given text.
[[noreturn]] void RaiseTFTPError(std::uint16_t AErrorCode, const std::string& AText);

/// The error code of a failure's class (codes 1 to 8 tested in code order);
/// 0 for EIdTFTPException itself and for every failure outside the family.
std::uint16_t TFTPErrorCodeOf(const std::exception& AFailure);

/// Appends a 16-bit value in network byte order.
void AppendWord(TIdBytes& APacket, std::uint16_t AValue);

/// Appends a text as US-ASCII ("?" for every byte above 0x7F) and its zero.
void AppendText(TIdBytes& APacket, std::string_view AText);

/// The 16-bit value at AOffset. Throws ERangeError "Range check error" when
/// the packet is too short for it.
std::uint16_t ReadWord(std::span<const std::uint8_t> APacket, std::size_t AOffset);

/// True for a datagram long enough to carry an opcode and carrying ERROR's.
bool IsErrorPacket(std::span<const std::uint8_t> APacket);

/// Sends one ERROR packet (code, text, zero) to APeerIP:APeerPort; a send
/// failure of the endpoint propagates.
void SendErrorPacket(TIdUDPBase& AEndpoint, const std::string& APeerIP, std::uint16_t APeerPort,
                     std::uint16_t AErrorCode, const std::string& AErrorText);

/// Sends the ERROR packet that reports AFailure: its class's code and its
/// message.
void SendErrorForFailure(TIdUDPBase& AEndpoint, const std::string& APeerIP, std::uint16_t APeerPort,
                         const std::exception& AFailure);
