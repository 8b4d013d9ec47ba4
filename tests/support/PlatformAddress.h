// The platform's own reading of address texts (inet_pton), the reference the
// address fuzzers hold the stack's texts against. A text with a NUL byte has
// no reading: the platform would stop at the NUL and read only a prefix.
#pragma once

#include <arpa/inet.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>

/// The bytes of an address text in family (AF_INET: 4, AF_INET6: 16), or
/// none when the platform refuses the text.
template <std::size_t N>
std::optional<std::array<std::uint8_t, N>> PlatformAddressBytes(const std::string& text) {
    static_assert(N == 4 || N == 16);
    std::array<std::uint8_t, N> bytes{};
    if (text.find('\0') != std::string::npos ||
        ::inet_pton(N == 4 ? AF_INET : AF_INET6, text.c_str(), bytes.data()) != 1)
        return std::nullopt;
    return bytes;
}
