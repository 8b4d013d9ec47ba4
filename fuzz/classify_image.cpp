// The image classification and the folder scan on fuzzed files: a header of
// any length (16 bytes or more for a verdict, fewer for the short-file
// failure) under a fuzzed name, for a fuzzed revision. Each must be what the
// header and the revision's family tag in the path say, and the scan must
// offer the file in that list alone, under its own name, when it ends in
// ".bin" in any letter case.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "app/Loader.h"
#include "runtime/Exception.h"
#include "tests/app/RecordingWindow.h"

namespace {

/// A folder of the run's own, removed when the run ends.
struct TScratch {
    std::filesystem::path Folder = std::filesystem::temp_directory_path() /
                                   ("classify-fuzz-" + std::to_string(std::random_device{}()));
    TScratch() { std::filesystem::create_directories(Folder); }
    ~TScratch() {
        std::error_code ignored;
        std::filesystem::remove_all(Folder, ignored);
    }
};

std::string Upper(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

/// What the header and the path make of a file of 16 bytes or more.
TImageKind Expected(const std::string& header, const std::string& path, std::uint8_t revision) {
    if (header.compare(0, 4, "MPFS") == 0)
        return Upper(path).find(revision == 171 ? "V1" : "V4") != std::string::npos
                   ? TImageKind::ikWebPages
                   : TImageKind::ikNone;
    return header[6] != 0 ? TImageKind::ikProgram : TImageKind::ikNone;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static TScratch scratch;
    if (size < 2)
        return 0;
    const std::uint8_t revision = data[0];
    const std::size_t headerSize = std::min<std::size_t>(data[1], size - 2);
    const std::string header(reinterpret_cast<const char*>(data) + 2, headerSize);
    // A name the file system takes: no separator, no NUL, not "." or "..".
    std::string name(reinterpret_cast<const char*>(data) + 2 + headerSize,
                     std::min<std::size_t>(size - 2 - headerSize, 200));
    std::replace(name.begin(), name.end(), '/', '_');
    std::replace(name.begin(), name.end(), '\0', '_');
    if (name.empty() || name == "." || name == "..")
        name = "x";
    const std::string folder = scratch.Folder.string() + "/";
    const std::string path = folder + name;
    std::ofstream(path, std::ios::binary)
        .write(header.data(), static_cast<std::streamsize>(header.size()));

    TRecordingWindow window;
    TLoader loader(window);
    window.OnDirEditChange = [&loader] { loader.direditChange(); };
    loader.HardwareRevision = revision;
    const bool complete = header.size() >= 16;
    TImageKind kind = TImageKind::ikNone;
    try {
        kind = loader.ClassifyImage(path);
        if (!complete || kind != Expected(header, path, revision))
            std::abort();
    } catch (const EInOutError& e) {
        if (complete || std::strcmp(e.what(), "Read beyond end of file") != 0)
            std::abort();
    }

    window.SetDirEditText(folder);
    const bool image = name.size() >= 4 && Upper(name.substr(name.size() - 4)) == ".BIN";
    // The file alone in its list, or in no list.
    const auto listed = [&](TImageKind listKind) {
        return image && complete && kind == listKind ? std::vector<std::string>{name}
                                                     : std::vector<std::string>{};
    };
    if (window.List(TImageList::ilWebPages) != listed(TImageKind::ikWebPages) ||
        window.List(TImageList::ilPrograms) != listed(TImageKind::ikProgram) ||
        window.Errors.size() != (image && !complete ? 1u : 0u))
        std::abort();
    std::filesystem::remove(path);
    return 0;
}
