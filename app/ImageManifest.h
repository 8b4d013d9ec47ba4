// The list of images an operator vouches for, with the SHA-256 of each: a
// file in the form that sha256sum and shasum -a 256 write ("HASH  NAME" or
// "HASH *NAME", one a line). An Upload checks every image it is about to send
// against it before the unit gets any command, so that a stale, damaged or
// swapped file is never flashed. No window and no protocol belongs here.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/Exception.h"

/// A manifest that cannot be read, or a line of it that is no entry.
class EManifestError : public Exception {
public:
    using Exception::Exception;
};

/// The name of the manifest that an image folder may hold for the windows.
inline constexpr const char* FolderManifestName = "SHA256SUMS";

struct TManifestEntry {
    /// 64 hexadecimal digits, lower case.
    std::string Sha256;
    /// The name as listed, its escapes undone.
    std::string Name;
};

class TImageManifest {
public:
    /// The entries of text; origin names it in messages. Blank lines and
    /// lines starting with "#" are skipped. A name that sha256sum escaped (a
    /// line starting with "\") has "\\" and "\n" undone. Throws
    /// EManifestError naming the line for any other line that is not
    /// 64 hexadecimal digits, a blank, a blank or "*", and a name.
    TImageManifest(std::string_view text, std::string origin);

    /// Reads the manifest at path (at most a megabyte). Throws EManifestError.
    static TImageManifest Read(const std::string& path);

    const std::vector<TManifestEntry>& Entries() const { return entries_; }
    const std::string& Origin() const { return origin_; }

    /// Why the image named name, whose SHA-256 is sha256, may not be sent:
    /// none when the manifest lists it with that digest. An entry lists it
    /// when its name, without a folder in front ("./", "images/"), is name;
    /// two such entries with different digests leave it unlisted, since the
    /// manifest then does not say which one is meant.
    std::optional<std::string> Refusal(const std::string& name, const std::string& sha256) const;

private:
    std::vector<TManifestEntry> entries_;
    std::string origin_;
};
