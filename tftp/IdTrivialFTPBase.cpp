// Packet helpers and ERROR-packet operations of the TFTP client, and the one
// mapping between TFTP error codes and failure classes. Transfer logic does
// not belong here.
#include "tftp/IdTrivialFTPBase.h"

#include <iterator>

#include "net/IdUDPBase.h"
#include "runtime/Exception.h"

namespace {

template <class E> [[noreturn]] void Raise(const std::string& text) {
    throw E(text);
}
template <class E> bool Is(const std::exception& failure) {
    return dynamic_cast<const E*>(&failure) != nullptr;
}

struct TErrorClass {
    void (*raise)(const std::string&);
    bool (*is)(const std::exception&);
};

// The failure class of each error code 1 to 8, in code order; both directions
// of the mapping read this one table.
constexpr TErrorClass ErrorClasses[] = {
    {Raise<EIdTFTPFileNotFound>, Is<EIdTFTPFileNotFound>},
    {Raise<EIdTFTPAccessViolation>, Is<EIdTFTPAccessViolation>},
    {Raise<EIdTFTPAllocationExceeded>, Is<EIdTFTPAllocationExceeded>},
    {Raise<EIdTFTPIllegalOperation>, Is<EIdTFTPIllegalOperation>},
    {Raise<EIdTFTPUnknownTransferID>, Is<EIdTFTPUnknownTransferID>},
    {Raise<EIdTFTPFileAlreadyExists>, Is<EIdTFTPFileAlreadyExists>},
    {Raise<EIdTFTPNoSuchUser>, Is<EIdTFTPNoSuchUser>},
    {Raise<EIdTFTPOptionNegotiationFailed>, Is<EIdTFTPOptionNegotiationFailed>},
};
static_assert(std::size(ErrorClasses) == teOptionRefused);

} // namespace

void RaiseTFTPError(std::uint16_t AErrorCode, const std::string& AText) {
    if (AErrorCode >= teNotFound && AErrorCode <= teOptionRefused)
        ErrorClasses[AErrorCode - 1].raise(AText);
    throw EIdTFTPException(AText);
}

std::uint16_t TFTPErrorCodeOf(const std::exception& AFailure) {
    for (std::uint16_t code = teNotFound; code <= teOptionRefused; ++code)
        if (ErrorClasses[code - 1].is(AFailure))
            return code;
    return teUndefined;
}

void AppendWord(TIdBytes& APacket, std::uint16_t AValue) {
    APacket.push_back(static_cast<std::uint8_t>(AValue >> 8));
    APacket.push_back(static_cast<std::uint8_t>(AValue & 0xFF));
}

void AppendText(TIdBytes& APacket, std::string_view AText) {
    // Packet texts are US-ASCII: a byte of the 8-bit code page above 0x7F has
    // no agreed meaning on the other side, so it goes out as "?".
    for (const char c : AText) {
        const auto b = static_cast<std::uint8_t>(c);
        APacket.push_back(b > 0x7F ? std::uint8_t{'?'} : b);
    }
    APacket.push_back(0);
}

std::uint16_t ReadWord(std::span<const std::uint8_t> APacket, std::size_t AOffset) {
    if (APacket.size() < AOffset + 2)
        throw ERangeError("Range check error");
    return static_cast<std::uint16_t>((APacket[AOffset] << 8) | APacket[AOffset + 1]);
}

bool IsErrorPacket(std::span<const std::uint8_t> APacket) {
    return APacket.size() >= 2 && ReadWord(APacket, 0) == toERROR;
}

void SendErrorPacket(TIdUDPBase& AEndpoint, const std::string& APeerIP, std::uint16_t APeerPort,
                     std::uint16_t AErrorCode, const std::string& AErrorText) {
    TIdBytes packet;
    packet.reserve(AErrorText.size() + 5);
    AppendWord(packet, toERROR);
    AppendWord(packet, AErrorCode);
    AppendText(packet, AErrorText);
    AEndpoint.SendDatagramTo(APeerIP, APeerPort, packet);
}

void SendErrorForFailure(TIdUDPBase& AEndpoint, const std::string& APeerIP, std::uint16_t APeerPort,
                         const std::exception& AFailure) {
    // Our own failures carry their text byte for byte; what() would stop at a zero.
    const auto* own = dynamic_cast<const Exception*>(&AFailure);
    SendErrorPacket(AEndpoint, APeerIP, APeerPort, TFTPErrorCodeOf(AFailure),
                    own ? own->Message() : std::string(AFailure.what()));
}
