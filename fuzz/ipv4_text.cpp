// The IPv4 address texts against the platform's own parser: a text that it
// takes is an IPv4 literal here and converts to the same four bytes. The
// looser literals the stack also takes (blanks around parts, leading zeros,
// hexadecimal parts) convert without failing, each byte its part's value,
// and the text written back for the bytes reads as the same address.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "net/IdStack.h"
#include "runtime/Convert.h"
#include "runtime/Exception.h"
#include "tests/support/PlatformAddress.h"

namespace {

/// The four parts' values by the literal rule, each stripped and converted.
std::array<std::uint8_t, 4> PartValues(std::string rest) {
    std::array<std::uint8_t, 4> bytes{};
    for (auto& byte : bytes) {
        const std::size_t dot = std::min(rest.find('.'), rest.size());
        byte = static_cast<std::uint8_t>(TryStrToInt(Trim(rest.substr(0, dot))).value_or(-1));
        rest.erase(0, std::min(dot + 1, rest.size()));
    }
    return bytes;
}

std::array<std::uint8_t, 4> FirstFour(const TIdRawAddress& address) {
    std::array<std::uint8_t, 4> bytes{};
    std::copy_n(address.Bytes.begin(), 4, bytes.begin());
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // One usage for the whole run, as a component holds it: GStack stays.
    static const bool stack = (TIdStack::IncUsage(), true);
    (void)stack;
    const std::string text(reinterpret_cast<const char*>(data), size);
    const bool literal = GStack->IsIPv4Literal(text);
    const auto platform = PlatformAddressBytes<4>(text);
    if (platform && !literal)
        std::abort();
    if (!literal) {
        try {
            (void)GStack->TextToAddress(text, Id_IPv4); // any bytes, or the conversion error
        } catch (const EConvertError&) {
        }
        return 0;
    }
    const auto bytes = FirstFour(GStack->TextToAddress(text, Id_IPv4)); // must not throw
    if (bytes != PartValues(text) || (platform && bytes != *platform))
        std::abort();
    TIdRawAddress raw;
    std::copy(bytes.begin(), bytes.end(), raw.Bytes.begin());
    if (PlatformAddressBytes<4>(GStack->AddressToText(raw, Id_IPv4)) != bytes)
        std::abort();
    return 0;
}
