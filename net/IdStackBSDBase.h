// The part of a stack shared by every platform with BSD-style sockets (POSIX
// and Windows Sockets alike): address texts and host rules, which need no
// system call. A platform stack derives from it and adds the socket calls.
#pragma once

#include <string>

#include "net/IdStack.h"

/// The canonical form of an IPv6 address text (upper-case hexadecimal groups
/// without leading zeros, "::" expanded, an IPv4 tail as two four-digit
/// groups), or "" when the text is not a valid IPv6 address.
std::string CanonicalIPv6Text(const std::string& AText);

/// The generic part of a BSD-style stack: address texts and host rules.
class TIdStackBSDBase : public TIdStack {
public:
    bool IsIPv4Literal(const std::string& AText) override;
    std::string ResolveHostAddress(const std::string& AHost, TIdIPVersion AIPVersion) override;
    TIdRawAddress TextToAddress(const std::string& AText, TIdIPVersion AIPVersion) override;
    std::string AddressToText(const TIdRawAddress& AAddress, TIdIPVersion AIPVersion) override;
};
