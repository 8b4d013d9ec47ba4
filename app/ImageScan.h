// The image folder scan: which "*.bin" files of a folder are web-page images
// for the connected unit's revision and which are program images, by their
// first 16 bytes, listed in an order that is the same on every platform.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

/// What the header of an image file makes of it.
enum class TImageKind { ikNone, ikWebPages, ikProgram };

/// The order in which the scan lists image names, the same on every
/// platform: by name without regard to the letter case of a to z, compared
/// in capitals as the Windows file system sorts them; names that differ only
/// in case by their bytes. The first entries are what Upload sends when the
/// user picks nothing, so the order must not depend on the platform.
bool ImageNameLess(std::string_view a, std::string_view b);

/// The kind of the image at path for a unit of revision, by its first 16
/// bytes and, for web pages, the family tag ("V1" for revision 171, "V4"
/// for any other) in the file's name, not in its folder's path (the same
/// for every file of a scan). Throws EInOutError when the file cannot be
/// opened or is shorter.
TImageKind ClassifyImage(const std::string& path, std::uint8_t revision);

/// The images of one folder: the names of each kind, in ImageNameLess order.
struct TImageScan {
    /// The folder as scanned, ending in PathDelim.
    std::string Folder;
    std::vector<std::string> WebPages, Programs;
    /// Why the scan stopped at a file that cannot be read (ClassifyImage's
    /// failure, which names no file); the lists hold the files before it.
    /// Empty when every file was read.
    std::string Failure;
    /// The file it stopped at.
    std::string FailedName;
};

/// Scans folder for a unit of revision; none when it names no directory.
/// Directories, pipes and devices named like images are none.
std::optional<TImageScan> ScanImageFolder(const std::string& folder, std::uint8_t revision);
