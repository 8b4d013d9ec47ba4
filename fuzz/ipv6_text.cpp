// The IPv6 address texts against the platform's own parser: a text that it
// takes has a canonical form here and converts to the same sixteen bytes. A
// text the stack takes and the platform refuses (leading zeros) still
// converts; its canonical form, and the text written back for its bytes,
// read as the same address on both sides.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "net/IdStackBSDBase.h"
#include "net/IdStackExceptions.h"
#include "tests/support/PlatformAddress.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // One usage for the whole run, as a component holds it: GStack stays.
    static const bool stack = (TIdStack::IncUsage(), true);
    (void)stack;
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string canonical = CanonicalIPv6Text(text);
    const auto platform = PlatformAddressBytes<16>(text);
    if (canonical.empty()) {
        if (platform)
            std::abort();
        try {
            (void)GStack->TextToAddress(text, Id_IPv6);
            std::abort(); // no canonical form, so no address
        } catch (const EIdInvalidIPv6Address&) {
        }
        return 0;
    }
    const auto bytes = GStack->TextToAddress(text, Id_IPv6).Bytes;
    if (platform && bytes != *platform)
        std::abort();
    if (PlatformAddressBytes<16>(canonical) != bytes ||
        GStack->TextToAddress(canonical, Id_IPv6).Bytes != bytes)
        std::abort();
    TIdRawAddress raw;
    raw.Bytes = bytes;
    if (PlatformAddressBytes<16>(GStack->AddressToText(raw, Id_IPv6)) != bytes)
        std::abort();
    return 0;
}
