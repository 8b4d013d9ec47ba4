// Reading a sha256sum list and checking an image against it.
#include "app/ImageManifest.h"

#include <algorithm>
#include <fmt/format.h>

#include "runtime/Convert.h"
#include "runtime/Files.h"
#include "runtime/Stream.h"

namespace {

/// A list of digests is kilobytes; anything larger is some other file.
constexpr std::int64_t ManifestLimit = 1024 * 1024;
constexpr std::size_t DigestLength = 64;

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

/// The name without the folders in front of it; a backslash separates them
/// only where the platform's paths use it.
std::string_view BareName(std::string_view name) {
    const std::size_t slash = name.find_last_of(PathDelim == '/' ? "/" : "/\\");
    return slash == std::string_view::npos ? name : name.substr(slash + 1);
}

/// sha256sum's escapes of a name that holds a backslash or a line break.
std::optional<std::string> Unescape(std::string_view name) {
    std::string plain;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] != '\\') {
            plain += name[i];
            continue;
        }
        if (++i == name.size())
            return std::nullopt;
        if (name[i] == '\\')
            plain += '\\';
        else if (name[i] == 'n')
            plain += '\n';
        else
            return std::nullopt;
    }
    return plain;
}

} // namespace

TImageManifest::TImageManifest(std::string_view text, std::string origin)
    : origin_(std::move(origin)) {
    int number = 0;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1); // a list written on Windows
        if (Trim(line).empty() || line.front() == '#')
            continue;
        const bool escaped = line.front() == '\\';
        if (escaped)
            line.remove_prefix(1);
        const auto bad = [&] {
            return EManifestError(fmt::format("{} line {}: \"{}\" is no SHA-256 and name", origin_,
                                              number, EscapeControls(line)));
        };
        if (line.size() < DigestLength + 3 ||
            !std::all_of(line.begin(), line.begin() + DigestLength, IsHexDigit) ||
            line[DigestLength] != ' ' ||
            (line[DigestLength + 1] != ' ' && line[DigestLength + 1] != '*'))
            throw bad();
        const std::string_view name = line.substr(DigestLength + 2);
        const auto plain = escaped ? Unescape(name) : std::optional<std::string>(name);
        if (!plain)
            throw bad();
        entries_.push_back({LowerCase(line.substr(0, DigestLength)), *plain});
    }
}

TImageManifest TImageManifest::Read(const std::string& path) {
    std::optional<std::string> content;
    try {
        content = ReadFileUpTo(path, ManifestLimit);
    } catch (const Exception& e) {
        throw EManifestError(e.Message());
    }
    if (!content)
        throw EManifestError(
            fmt::format("{} is larger than {} bytes", EscapeControls(path), ManifestLimit));
    return TImageManifest(*content, path);
}

std::optional<std::string> TImageManifest::Refusal(const std::string& name,
                                                   const std::string& sha256) const {
    const std::string actual = LowerCase(sha256);
    std::vector<std::string> listed;
    for (const TManifestEntry& entry : entries_)
        if (BareName(entry.Name) == name &&
            std::find(listed.begin(), listed.end(), entry.Sha256) == listed.end())
            listed.push_back(entry.Sha256);
    const std::string image = EscapeControls(name);
    const std::string manifest = EscapeControls(origin_);
    if (listed.empty())
        return fmt::format("{} is not listed in {} (its SHA-256 is {})", image, manifest, actual);
    if (listed.size() > 1)
        return fmt::format(
            "{} is listed in {} with {} different SHA-256 digests ({}); its own is {}", image,
            manifest, listed.size(), fmt::join(listed, ", "), actual);
    if (listed.front() != actual)
        return fmt::format("{} has SHA-256 {}, but {} lists {}", image, actual, manifest,
                           listed.front());
    return std::nullopt;
}
