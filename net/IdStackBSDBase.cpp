// Address texts and host rules shared by BSD-style stacks: the IPv4 literal
// test, the canonical IPv6 form, "LOCALHOST" and literals resolved without a
// lookup, and the conversion between address texts and raw addresses. The
// platform resolver itself and every system call live in the platform stack.
#include <algorithm>
#include <array>
#include <charconv>
#include <cstddef>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

#include "net/IdStackBSDBase.h"
#include "runtime/Convert.h"
#include "runtime/Format.h"

namespace {

constexpr const char* IPVersionUnsupportedText =
    "The requested IPVersion / Address family is not supported.";

void CheckIPVersion(TIdIPVersion AIPVersion) {
    if (AIPVersion != Id_IPv4 && AIPVersion != Id_IPv6)
        throw EIdIPVersionUnsupported(IPVersionUnsupportedText);
}

/// The text before the first "." of rest (all of it when there is none);
/// removes that part and its "." from rest.
std::string FetchPart(std::string& rest) {
    const std::size_t dot = rest.find('.');
    std::string part = rest.substr(0, dot);
    rest = dot == std::string::npos ? std::string() : rest.substr(dot + 1);
    return part;
}

/// The bytes of a plain dotted-decimal text: four parts of one to three
/// digits, each 0 to 255, and nothing else. Every address the stack writes,
/// and so every sender of a received datagram, has this form, which the
/// general rules below read the same way; this shortcut spares each packet
/// of a transfer the general parse and its allocations.
std::optional<std::array<std::uint8_t, 4>> PlainDottedBytes(std::string_view text) {
    std::array<std::uint8_t, 4> bytes{};
    int part = 0;
    int digits = 0;
    int value = 0;
    for (const char c : text) {
        if (c >= '0' && c <= '9') {
            value = value * 10 + (c - '0');
            if (++digits > 3 || value > 255)
                return std::nullopt;
        } else if (c == '.' && digits > 0 && part < 3) {
            bytes[part++] = static_cast<std::uint8_t>(value);
            digits = value = 0;
        } else {
            return std::nullopt;
        }
    }
    if (part != 3 || digits == 0)
        return std::nullopt;
    bytes[3] = static_cast<std::uint8_t>(value);
    return bytes;
}

/// A hexadecimal group as the runtime converts "$" followed by the text.
std::optional<std::int32_t> HexGroup(const std::string& group) {
    return TryStrToInt(Trim("$" + group));
}

bool IsHexLetter(char c) {
    return (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

/// The groups of the hexadecimal groups text s, none when it is no address:
/// groups of hexadecimal digits, each 0 to $FFFF, separated by ":"; eight of
/// them, or up to seven and one "::" that stands for the missing zeros.
std::optional<std::array<std::uint16_t, 8>> HexGroups(std::string_view s) {
    const std::size_t gap = s.find("::");
    if (gap != std::string_view::npos && s.find("::", gap + 1) != std::string_view::npos)
        return std::nullopt;
    const auto groupsOf = [](std::string_view text, std::vector<std::uint16_t>& groups) {
        if (text.empty())
            return true;
        for (std::size_t from = 0;;) {
            const std::size_t colon = std::min(text.find(':', from), text.size());
            // An empty group: a lone ":" at either end, which no "::" explains.
            const auto v = colon > from ? HexGroup(std::string(text.substr(from, colon - from)))
                                        : std::nullopt;
            if (!v || *v < 0 || *v > 0xFFFF)
                return false;
            groups.push_back(static_cast<std::uint16_t>(*v));
            if (colon == text.size())
                return true;
            from = colon + 1;
        }
    };
    std::vector<std::uint16_t> head, tail;
    if (gap == std::string_view::npos) {
        if (!groupsOf(s, head) || head.size() != 8)
            return std::nullopt;
    } else if (!groupsOf(s.substr(0, gap), head) || !groupsOf(s.substr(gap + 2), tail) ||
               head.size() + tail.size() > 7) {
        return std::nullopt;
    }
    std::array<std::uint16_t, 8> groups{};
    std::copy(head.begin(), head.end(), groups.begin());
    std::copy(tail.begin(), tail.end(), groups.end() - static_cast<std::ptrdiff_t>(tail.size()));
    return groups;
}

/// An IPv6 address read from its text.
struct TIPv6Address {
    std::array<std::uint16_t, 8> Groups{};
    /// Written with a dotted IPv4 tail, which the canonical form keeps as two
    /// groups of four digits.
    bool IPv4Tail = false;
};

/// The address of an IPv6 text, none when it is not one: hexadecimal groups
/// (see HexGroups), the last two of which may be written as a dotted IPv4
/// tail of four decimal numbers 0 to 255 ("::ffff:192.168.1.1"). A text that
/// the platform's own address parser takes gives the same address here;
/// leading zeros that it refuses ("::0001", "::1.2.3.04") are taken too.
std::optional<TIPv6Address> ParseIPv6(std::string_view text) {
    int dots = 0;
    for (const char c : text) {
        if (c == '.')
            ++dots;
        else if (IsHexLetter(c) ? dots > 0 : !IsDigit(c) && c != ':')
            return std::nullopt; // hexadecimal letters only before the IPv4 tail
    }
    if (dots == 0) {
        if (const auto groups = HexGroups(text))
            return TIPv6Address{*groups, false};
        return std::nullopt;
    }
    const std::size_t lastColon = text.rfind(':');
    if (dots != 3 || lastColon == std::string_view::npos || lastColon > text.find('.'))
        return std::nullopt;
    std::string_view tail = text.substr(lastColon + 1);
    int bytes[4];
    for (int& byte : bytes) {
        const std::size_t dot = std::min(tail.find('.'), tail.size());
        const auto v = TryStrToInt(tail.substr(0, dot));
        if (!v || *v < 0 || *v > 255)
            return std::nullopt;
        byte = *v;
        tail.remove_prefix(std::min(dot + 1, tail.size()));
    }
    // The tail takes the place of the last two groups: read the groups with
    // two zeros there, then put the tail's bytes in.
    const auto groups = HexGroups(std::string(text.substr(0, lastColon + 1)) + "0:0");
    if (!groups)
        return std::nullopt;
    TIPv6Address address{*groups, true};
    address.Groups[6] = static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
    address.Groups[7] = static_cast<std::uint16_t>(bytes[2] << 8 | bytes[3]);
    return address;
}

/// Appends the decimal digits of one part of an IPv4 address.
void AppendPart(std::string& text, std::uint8_t part) {
    char digits[3]; // "255"
    const auto [end, ec] = std::to_chars(std::begin(digits), std::end(digits), part);
    // A byte always fits; a failed conversion would leave end at the buffer's
    // end with nothing written, so it is never appended.
    if (ec == std::errc())
        text.append(digits, end);
}

} // namespace

std::string CanonicalIPv6Text(const std::string& AText) {
    const auto address = ParseIPv6(AText);
    if (!address)
        return {};
    std::string out;
    for (int g = 0; g < 8; ++g) {
        // An IPv4 tail keeps its two groups at four digits: one per byte pair.
        const bool tailGroup = address->IPv4Tail && g >= 6;
        out += Format(tailGroup ? "%.4X" : "%X", address->Groups[g]);
        if (g < 7)
            out += ':';
    }
    return out;
}

bool TIdStackBSDBase::IsIPv4Literal(const std::string& AText) {
    if (PlainDottedBytes(AText))
        return true;
    std::string rest = AText;
    bool inRange = true;
    for (int i = 0; i < 4; ++i) {
        const std::int32_t v = TryStrToInt(Trim(FetchPart(rest))).value_or(-1);
        inRange = inRange && v >= 0 && v <= 255;
    }
    return inRange && rest.empty();
}

std::string TIdStackBSDBase::ResolveHostAddress(const std::string& AHost, TIdIPVersion AIPVersion) {
    CheckIPVersion(AIPVersion);
    if (AIPVersion == Id_IPv4) {
        if (SameText(AHost, "LOCALHOST"))
            return "127.0.0.1";
        if (IsIPv4Literal(AHost))
            return AHost;
    } else {
        if (SameText(AHost, "LOCALHOST"))
            return "::1";
        std::string canonical = CanonicalIPv6Text(AHost);
        if (!canonical.empty())
            return canonical;
    }
    return LookupHostAddress(AHost, AIPVersion);
}

TIdRawAddress TIdStackBSDBase::TextToAddress(const std::string& AText, TIdIPVersion AIPVersion) {
    CheckIPVersion(AIPVersion);
    TIdRawAddress address;
    if (AIPVersion == Id_IPv4) {
        if (const auto plain = PlainDottedBytes(AText)) {
            std::copy(plain->begin(), plain->end(), address.Bytes.begin());
            return address;
        }
        std::string rest = AText;
        for (int i = 0; i < 4; ++i)
            address.Bytes[i] = static_cast<std::uint8_t>(StrToInt(Trim(FetchPart(rest))) & 0xFF);
        return address;
    }
    const auto parsed = ParseIPv6(AText);
    if (!parsed)
        throw EIdInvalidIPv6Address(Format("%s is not a valid IPv6 address", AText));
    for (int g = 0; g < 8; ++g) {
        address.Bytes[2 * g] = static_cast<std::uint8_t>(parsed->Groups[g] >> 8);
        address.Bytes[2 * g + 1] = static_cast<std::uint8_t>(parsed->Groups[g] & 0xFF);
    }
    return address;
}

std::string TIdStackBSDBase::AddressToText(const TIdRawAddress& AAddress, TIdIPVersion AIPVersion) {
    CheckIPVersion(AIPVersion);
    const auto& b = AAddress.Bytes;
    if (AIPVersion == Id_IPv4) {
        // Called for the sender of every datagram received: no formatter, and
        // the longest text, "255.255.255.255", fits the string's own buffer.
        std::string text;
        for (int i = 0; i < 4; ++i) {
            if (i > 0)
                text += '.';
            AppendPart(text, b[i]);
        }
        return text;
    }
    std::string text;
    for (int g = 0; g < 8; ++g) {
        if (g > 0)
            text += ':';
        text += Format("%X", (b[2 * g] << 8) | b[2 * g + 1]);
    }
    return text;
}

// ---- Socket address records ------------------------------------------------------

namespace {

constexpr std::size_t PortOffset = 2;
constexpr std::size_t kIPv4AddressOffset = 4;
constexpr std::size_t kIPv6AddressOffset = 8; // after the 32-bit flow information

} // namespace

TIdSockAddr TIdStackBSDBase::MakeSockAddr(const std::string& AIP, std::uint16_t APort,
                                          TIdIPVersion AIPVersion) {
    // A transfer sends every datagram to one peer: the record of the last
    // destination is kept per thread, so that a datagram costs no address
    // parsing of its own.
    thread_local struct {
        std::string IP;
        std::uint16_t Port = 0;
        TIdIPVersion Version = Id_IPv4;
        TIdSockAddr Record;
        bool Valid = false;
    } last;
    if (last.Valid && last.Port == APort && last.Version == AIPVersion && last.IP == AIP)
        return last.Record;
    last.Valid = false;
    last.Record = BuildSockAddr(AIP, APort, AIPVersion);
    last.IP = AIP;
    last.Port = APort;
    last.Version = AIPVersion;
    last.Valid = true;
    return last.Record;
}

TIdSockAddr TIdStackBSDBase::BuildSockAddr(const std::string& AIP, std::uint16_t APort,
                                           TIdIPVersion AIPVersion) {
    TIdSockAddr a;
    const auto family = static_cast<std::uint16_t>(AddressFamily(AIPVersion));
    // An empty text leaves the address zero: any local address.
    TIdRawAddress raw;
    if (!AIP.empty())
        raw = TextToAddress(AIP, AIPVersion);
    std::memcpy(a.Bytes.data(), &family, sizeof family);
    a.Bytes[PortOffset] = static_cast<std::uint8_t>(APort >> 8);
    a.Bytes[PortOffset + 1] = static_cast<std::uint8_t>(APort & 0xFF);
    if (AIPVersion == Id_IPv4) {
        std::copy_n(raw.Bytes.begin(), 4, a.Bytes.begin() + kIPv4AddressOffset);
        a.Length = 16;
    } else {
        std::copy_n(raw.Bytes.begin(), 16, a.Bytes.begin() + kIPv6AddressOffset);
        a.Length = 28;
    }
    return a;
}

void TIdStackBSDBase::DecodeSockAddr(const TIdSockAddr& AAddr, std::string& VIP,
                                     std::uint16_t& VPort, TIdIPVersion& VIPVersion) {
    std::uint16_t family = 0;
    std::memcpy(&family, AAddr.Bytes.data(), sizeof family);
    TIdRawAddress raw;
    if (family == AddressFamily(Id_IPv4)) {
        std::copy_n(AAddr.Bytes.begin() + kIPv4AddressOffset, 4, raw.Bytes.begin());
        VIPVersion = Id_IPv4;
    } else if (family == AddressFamily(Id_IPv6)) {
        std::copy_n(AAddr.Bytes.begin() + kIPv6AddressOffset, 16, raw.Bytes.begin());
        VIPVersion = Id_IPv6;
    } else {
        throw EIdIPVersionUnsupported(IPVersionUnsupportedText);
    }
    VPort =
        static_cast<std::uint16_t>((AAddr.Bytes[PortOffset] << 8) | AAddr.Bytes[PortOffset + 1]);
    // Datagrams come from one peer, mostly: the text of the last sender's
    // address is kept per thread instead of being written anew for each.
    thread_local struct {
        TIdRawAddress Raw;
        TIdIPVersion Version = Id_IPv4;
        std::string Text;
    } last;
    if (last.Text.empty() || last.Version != VIPVersion || last.Raw.Bytes != raw.Bytes) {
        last.Text.clear();
        last.Text = AddressToText(raw, VIPVersion);
        last.Raw = raw;
        last.Version = VIPVersion;
    }
    VIP = last.Text;
}

std::size_t TIdStackBSDBase::SendCount(const TIdBytes& AData, int AOffset, int ASize) {
    if (AOffset < 0)
        throw EInternalError("Negative offset into the data to send");
    std::int64_t count = static_cast<std::int64_t>(AData.size()) - AOffset;
    if (ASize >= 0 && ASize < count)
        count = ASize;
    return count < 1 ? 0 : static_cast<std::size_t>(count);
}
