// The revision that the loader reads from a unit's home page, on fuzzed pages:
// it never crashes, and it names a unit only when the page holds the marker,
// then an integer, then the closing quote. A page cut short inside the
// revision must give no unit rather than the revision's first digits.
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "app/UnitPages.h"
#include "runtime/Convert.h"
#include "runtime/Exception.h"

namespace {

constexpr std::string_view Marker = "g_HwId = \"";

/// The text between the quotes after the first marker; none without a
/// marker or without a closing quote after it.
std::optional<std::string_view> QuotedRevision(std::string_view page) {
    const auto marker = page.find(Marker);
    if (marker == std::string_view::npos)
        return std::nullopt;
    const std::string_view rest = page.substr(marker + Marker.size());
    const auto quote = rest.find('"');
    if (quote == std::string_view::npos)
        return std::nullopt;
    return rest.substr(0, quote);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view page(reinterpret_cast<const char*>(data), size);
    const std::optional<std::string_view> text = QuotedRevision(page);
    try {
        const std::int32_t revision = RevisionOfPage(page);
        // No marker, or no closing quote: no unit, whatever digits follow.
        if (!text && revision != 0)
            std::abort();
        if (text && TryStrToInt(*text) != revision)
            std::abort();
    } catch (const EConvertError& e) {
        // Only a complete marker with no integer inside fails, and says which text.
        if (!text || TryStrToInt(*text) ||
            e.Message() != "'" + std::string(*text) + "' is not a valid integer value")
            std::abort();
    }
    return 0;
}
