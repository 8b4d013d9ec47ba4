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

#include "net/IdStackBSDBase.h"
#include "runtime/Convert.h"
#include "runtime/Format.h"

namespace {

constexpr const char* kIPVersionUnsupported =
    "The requested IPVersion / Address family is not supported.";

void CheckIPVersion(TIdIPVersion AIPVersion) {
    if (AIPVersion != Id_IPv4 && AIPVersion != Id_IPv6)
        throw EIdIPVersionUnsupported(kIPVersionUnsupported);
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
    if (AText.empty())
        return {};
    std::string s = AText;
    if (s.front() == ':')
        s.insert(s.begin(), '0');
    if (s.back() == ':')
        s.push_back('0');

    std::size_t colonAt[7] = {};
    std::size_t dotAt[3] = {};
    int colons = 0;
    int dots = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '.') {
            if (dots == 3)
                return {};
            dotAt[dots++] = i;
        } else if (c == ':') {
            if (colons == 7)
                return {};
            colonAt[colons++] = i;
        } else if (IsHexLetter(c)) {
            if (dots > 0)
                return {};
        } else if (!IsDigit(c)) {
            return {};
        }
    }
    if (dots == 3) {
        if (colons < 2 || colons > 6 || colonAt[colons - 1] > dotAt[0])
            return {};
    } else if (dots != 0 || colons < 2 || colons > 7) {
        return {};
    }

    std::string out;
    auto putGroup = [&](std::size_t from, std::size_t to) {
        const auto v = HexGroup(s.substr(from, to - from));
        if (!v || *v < 0 || *v > 0xFFFF)
            return false;
        out += Format("%X:", *v);
        return true;
    };
    if (!putGroup(0, colonAt[0]))
        return {};
    bool abbreviated = false;
    for (int k = 1; k < colons; ++k) {
        if (colonAt[k] == colonAt[k - 1] + 1) {
            if (abbreviated)
                return {};
            abbreviated = true;
            const int zeros = 8 - colons - (dots > 0 ? 1 : 0);
            for (int z = 0; z < zeros; ++z)
                out += "0:";
        } else if (!putGroup(colonAt[k - 1] + 1, colonAt[k])) {
            return {};
        }
    }
    const std::size_t last = colonAt[colons - 1] + 1;
    if (dots == 0) {
        if (!putGroup(last, s.size()))
            return {};
    } else {
        const std::string parts[4] = {
            s.substr(last, dotAt[0] - last), s.substr(dotAt[0] + 1, dotAt[1] - dotAt[0] - 1),
            s.substr(dotAt[1] + 1, dotAt[2] - dotAt[1] - 1), s.substr(dotAt[2] + 1, 3)};
        int bytes[4];
        for (int i = 0; i < 4; ++i) {
            const auto v = TryStrToInt(Trim(parts[i]));
            if (!v || *v < 0 || *v > 255)
                return {};
            bytes[i] = *v;
        }
        out += Format("%.2X%.2X:%.2X%.2X:", bytes[0], bytes[1], bytes[2], bytes[3]);
    }
    out.pop_back();
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
    const std::string canonical = CanonicalIPv6Text(AText);
    if (canonical.empty())
        throw EIdInvalidIPv6Address(Format("%s is not a valid IPv6 address", AText));
    std::size_t from = 0;
    for (int g = 0; g < 8 && from <= canonical.size(); ++g) {
        std::size_t colon = canonical.find(':', from);
        if (colon == std::string::npos)
            colon = canonical.size();
        const std::int32_t v = HexGroup(canonical.substr(from, colon - from)).value_or(0);
        address.Bytes[2 * g] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
        address.Bytes[2 * g + 1] = static_cast<std::uint8_t>(v & 0xFF);
        from = colon + 1;
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

constexpr std::size_t kPortOffset = 2;
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
    a.Bytes[kPortOffset] = static_cast<std::uint8_t>(APort >> 8);
    a.Bytes[kPortOffset + 1] = static_cast<std::uint8_t>(APort & 0xFF);
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
        throw EIdIPVersionUnsupported(kIPVersionUnsupported);
    }
    VPort =
        static_cast<std::uint16_t>((AAddr.Bytes[kPortOffset] << 8) | AAddr.Bytes[kPortOffset + 1]);
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
