// What every platform shares of SHA-256: the digest of a whole file.
#include "runtime/Sha256.h"

#include <vector>

#include "runtime/Stream.h"

std::string FileSha256(const std::string& path) {
    TFileStream file(path, TFileStream::TOpenMode::fmOpenRead);
    TSha256 digest;
    std::vector<std::uint8_t> buffer(64 * 1024);
    for (std::int64_t n;
         (n = file.Read(buffer.data(), static_cast<std::int64_t>(buffer.size()))) > 0;)
        digest.Update(std::span(buffer).first(static_cast<std::size_t>(n)));
    return digest.HexDigest();
}
