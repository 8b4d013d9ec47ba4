// The folder scan and the classification of an image by its header.
#include "app/ImageScan.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "runtime/Convert.h"
#include "runtime/Exception.h"
#include "runtime/Files.h"

namespace {

constexpr std::size_t ImageHeaderSize = 16;

/// The names of the folder's entries that end in ".bin" in any letter case
/// and are files, in ImageNameLess order. A folder that cannot be read has
/// none. Directories, pipes and devices (or links to them) are no images: a
/// link named like an image to an endless device would otherwise be
/// offered, and sent, as a program.
std::vector<std::string> ImageNames(const std::string& folder) {
    std::vector<std::string> names;
    for (const TFolderEntry& entry : FolderEntries(folder, ".bin"))
        if (!entry.Directory && !entry.Special)
            names.push_back(entry.Name);
    std::sort(names.begin(), names.end(), ImageNameLess);
    return names;
}

/// The name part of a path: what follows its last separator.
std::string_view FileNameOf(std::string_view path) {
    const std::size_t slash = path.find_last_of(PathDelim == '/' ? "/" : "/\\");
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

} // namespace

bool ImageNameLess(std::string_view a, std::string_view b) {
    const std::string upperA = UpperCase(a), upperB = UpperCase(b);
    return upperA != upperB ? upperA < upperB : a < b;
}

TImageKind ClassifyImage(const std::string& path, std::uint8_t revision) {
    // A read-only image is as good as any other, and a pipe named like an
    // image ends the scan instead of freezing it.
    std::array<std::uint8_t, ImageHeaderSize> header{};
    ReadFileStart(path, header);
    if (std::memcmp(header.data(), "MPFS", 4) == 0) {
        const char* tag = revision == 171 ? "V1" : "V4";
        // The tag names the family in the file's name. The folder's path is
        // the same for every file of a scan and says nothing about any one
        // image: a folder "DEV1-images" must not make every image in it one
        // for revision 171.
        return UpperCase(FileNameOf(path)).find(tag) != std::string::npos ? TImageKind::ikWebPages
                                                                          : TImageKind::ikNone;
    }
    return header[6] != 0 ? TImageKind::ikProgram : TImageKind::ikNone;
}

std::optional<TImageScan> ScanImageFolder(const std::string& folder, std::uint8_t revision) {
    if (!DirectoryExists(folder))
        return std::nullopt;
    TImageScan scan;
    scan.Folder = folder.back() == PathDelim ? folder : folder + PathDelim;
    for (const std::string& name : ImageNames(scan.Folder)) {
        TImageKind kind;
        try {
            kind = ClassifyImage(scan.Folder + name, revision);
        } catch (const Exception& e) {
            scan.Failure = e.Message();
            scan.FailedName = name;
            break;
        }
        switch (kind) {
        case TImageKind::ikWebPages:
            scan.WebPages.push_back(name);
            break;
        case TImageKind::ikProgram:
            scan.Programs.push_back(name);
            break;
        case TImageKind::ikNone:
            break;
        }
    }
    return scan;
}
