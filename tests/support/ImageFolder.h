// Temporary image folders for the loader's tests: web-page images (with the
// "MPFS" magic), program images (byte 6 set) and anything else a scan must
// cope with. Removed with the object. And a file read back whole, as a
// server stored it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "runtime/Files.h"

class TTempFolder {
public:
    TTempFolder() {
        // A random name, taken only when nothing has it yet.
        std::random_device random;
        for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
            const std::filesystem::path candidate =
                std::filesystem::temp_directory_path() /
                ("loader-test-" + std::to_string(random()) + "-" + std::to_string(random()));
            if (std::filesystem::create_directory(candidate))
                path_ = candidate.string() + PathDelim;
        }
        if (path_.empty())
            throw std::runtime_error("no temporary folder");
    }
    ~TTempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TTempFolder(const TTempFolder&) = delete;
    TTempFolder& operator=(const TTempFolder&) = delete;

    /// The folder, ending in the platform's separator.
    const std::string& Path() const { return path_; }

    /// Writes bytes to the file at relative, making its folders; returns the full path.
    std::string Write(const std::string& relative, const std::vector<std::uint8_t>& bytes) const {
        const std::filesystem::path full = path_ + relative;
        std::filesystem::create_directories(full.parent_path());
        std::ofstream out(full, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        return full.string();
    }

private:
    std::string path_;
};

/// size bytes of an image: the header (magic or byte 6) and then a pattern
/// that differs from block to block, so a misplaced block shows.
inline std::vector<std::uint8_t> ImageBytes(bool webPages, std::uint8_t byte6, std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>((i * 7 + i / 512) & 0xFF);
    if (webPages && size >= 4)
        std::copy_n("MPFS", 4, bytes.begin());
    else if (size >= 4)
        std::copy_n("PROG", 4, bytes.begin());
    if (size > 6)
        bytes[6] = byte6;
    return bytes;
}

inline std::vector<std::uint8_t> FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

/// What the file at path holds, whole; empty when it cannot be read.
inline std::vector<std::uint8_t> ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
