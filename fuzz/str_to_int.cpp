// The integer conversion against a plain reading of its rule: blanks, a sign,
// then decimal digits in the signed 32-bit range, or hexadecimal digits after
// "$", "x", "X", "0x" or "0X" spelling a 32-bit pattern. The revision query,
// the address texts and the option acknowledgement all read numbers with it.
#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "runtime/Convert.h"
#include "runtime/Exception.h"

namespace {

std::optional<std::int32_t> Reference(std::string_view s) {
    s.remove_prefix(std::min(s.find_first_not_of(' '), s.size()));
    bool negative = false;
    if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
        negative = s[0] == '-';
        s.remove_prefix(1);
    }
    int base = 10;
    if (s.starts_with("0x") || s.starts_with("0X")) {
        base = 16;
        s.remove_prefix(2);
    } else if (!s.empty() && (s[0] == '$' || s[0] == 'x' || s[0] == 'X')) {
        base = 16;
        s.remove_prefix(1);
    }
    // from_chars would take a sign or a prefix of its own; only digits may follow.
    const auto digit = [base](char c) {
        return (c >= '0' && c <= '9') ||
               (base == 16 && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')));
    };
    if (s.empty() || !std::all_of(s.begin(), s.end(), digit))
        return std::nullopt;
    std::uint64_t magnitude = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), magnitude, base);
    if (ec != std::errc() || end != s.data() + s.size())
        return std::nullopt; // more than 64 bits: too large either way
    if (base == 16) {
        if (magnitude > 0xFFFFFFFFu)
            return std::nullopt;
        const auto pattern = static_cast<std::uint32_t>(magnitude);
        return static_cast<std::int32_t>(negative ? 0u - pattern : pattern);
    }
    const std::int64_t limit = negative ? 2147483648LL : 2147483647LL;
    if (magnitude > static_cast<std::uint64_t>(limit))
        return std::nullopt;
    return static_cast<std::int32_t>(negative ? -static_cast<std::int64_t>(magnitude)
                                              : static_cast<std::int64_t>(magnitude));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::optional<std::int32_t> expected = Reference(text);
    if (TryStrToInt(text) != expected)
        std::abort();
    try {
        if (StrToInt(text) != expected)
            std::abort();
    } catch (const EConvertError& e) {
        // The failure carries the text whole, whatever bytes it holds.
        if (expected || e.Message() != "'" + std::string(text) + "' is not a valid integer value")
            std::abort();
    }
    return 0;
}
