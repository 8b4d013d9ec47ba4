// The address list of a run: the --address options and the lines of an
// --addresses file, each checked as the address field would take it.
#include "app/cli/AddressList.h"

#include <algorithm>
#include <fmt/format.h>

#include "app/MaskRules.h"
#include "runtime/Convert.h"
#include "runtime/Stream.h"

namespace {

/// An address list is a few kilobytes; a file beyond this is some other file.
constexpr std::int64_t AddressFileLimit = 1024 * 1024;

/// One unit's address as given, and where it was given, for the messages.
struct TFleetAddress {
    std::string Text;
    std::string Origin;
};

std::vector<TFleetAddress> ReadAddressFile(const std::string& path) {
    std::optional<std::string> content;
    try {
        content = ReadFileUpTo(path, AddressFileLimit);
    } catch (const Exception& e) {
        throw EFleetUsage("--addresses: " + EscapeControls(e.Message()));
    }
    if (!content)
        throw EFleetUsage(fmt::format("--addresses: {} is larger than {} bytes",
                                      EscapeControls(path), AddressFileLimit));
    std::vector<TFleetAddress> addresses;
    const std::string& text = *content;
    int number = 0;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        const std::string_view line = std::string_view(text).substr(at, end - at);
        at = end + 1;
        ++number;
        const std::string entry = Trim(line.substr(0, line.find('#')));
        if (!entry.empty())
            addresses.push_back({entry, fmt::format("--addresses: {} line {}", path, number)});
    }
    return addresses;
}

std::vector<std::string> FleetAddresses(const std::vector<TFleetAddress>& addresses) {
    std::vector<std::string> masked;
    for (const TFleetAddress& address : addresses) {
        const auto text = MaskedAddressText(address.Text);
        if (!text)
            throw EFleetUsage(fmt::format("{}: \"{}\" is no address: four groups of 1 to 3 "
                                          "digits, each 0 to 255, expected",
                                          EscapeControls(address.Origin),
                                          EscapeControls(address.Text)));
        if (std::find(masked.begin(), masked.end(), *text) != masked.end())
            throw EFleetUsage(fmt::format("{}: {} is given twice", EscapeControls(address.Origin),
                                          EscapeControls(address.Text)));
        masked.push_back(*text);
    }
    return masked;
}

} // namespace

std::vector<std::string> UnitAddresses(const TCliOptions& options) {
    std::vector<TFleetAddress> given;
    for (const std::string& address : options.Addresses)
        given.push_back({address, "--address"});
    if (!options.AddressFile.empty()) {
        const auto listed = ReadAddressFile(options.AddressFile);
        given.insert(given.end(), listed.begin(), listed.end());
    }
    return FleetAddresses(given);
}
