// The part of a stack shared by every platform with BSD-style sockets (POSIX
// and Windows Sockets alike): address texts and host rules, which need no
// system call. A platform stack derives from it and adds the socket calls.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "net/IdStack.h"

/// The canonical form of an IPv6 address text (upper-case hexadecimal groups
/// without leading zeros, "::" expanded, an IPv4 tail as two four-digit
/// groups), or "" when the text is not a valid IPv6 address.
std::string CanonicalIPv6Text(const std::string& AText);

/// A socket address record as BSD-style socket calls take and give it: a
/// zero-filled 128-byte area (the family as a 16-bit value in host order, the
/// port in network order, then the address) and the length that the family
/// needs, 16 bytes for IPv4 and 28 for IPv6. POSIX and Windows Sockets lay
/// both families out alike; only the family numbers differ.
struct TIdSockAddr {
    alignas(8) std::array<std::uint8_t, 128> Bytes{};
    int Length = 128;
};

/// The generic part of a BSD-style stack: address texts and host rules, and
/// the socket address records built from them.
class TIdStackBSDBase : public TIdStack {
public:
    bool IsIPv4Literal(const std::string& AText) override;
    std::string ResolveHostAddress(const std::string& AHost, TIdIPVersion AIPVersion) override;
    TIdRawAddress TextToAddress(const std::string& AText, TIdIPVersion AIPVersion) override;
    std::string AddressToText(const TIdRawAddress& AAddress, TIdIPVersion AIPVersion) override;

protected:
    /// The platform's address family number of AIPVersion; throws
    /// EIdIPVersionUnsupported for any other version.
    virtual int AddressFamily(TIdIPVersion AIPVersion) = 0;
    /// The record for AIP ("": any local address) and APort.
    TIdSockAddr MakeSockAddr(const std::string& AIP, std::uint16_t APort, TIdIPVersion AIPVersion);
    /// MakeSockAddr without the record of the last destination.
    TIdSockAddr BuildSockAddr(const std::string& AIP, std::uint16_t APort, TIdIPVersion AIPVersion);
    /// The address text, port and family of a record the system filled in;
    /// throws EIdIPVersionUnsupported for a family other than the two.
    void DecodeSockAddr(const TIdSockAddr& AAddr, std::string& VIP, std::uint16_t& VPort,
                        TIdIPVersion& VIPVersion);
    /// The bytes to send from AOffset to the end of AData, limited to ASize
    /// when it is 0 or more; below 1 an empty datagram is sent.
    static std::size_t SendCount(const TIdBytes& AData, int AOffset, int ASize);
};
