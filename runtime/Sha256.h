// SHA-256 of a run of bytes, fed in pieces as they go out, and of a whole
// file: what tells afterwards exactly which bytes a unit was sent. The
// digest itself is the platform's (OpenSSL's libcrypto on POSIX, the
// system's cryptography service on Windows); no platform type belongs here.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

class TSha256 {
public:
    TSha256();
    ~TSha256();
    TSha256(const TSha256&) = delete;
    TSha256& operator=(const TSha256&) = delete;

    /// Adds bytes to what the digest covers.
    void Update(std::span<const std::uint8_t> bytes);
    /// The digest of every byte added since the start or the last digest,
    /// as 64 lower-case hexadecimal digits; starts anew afterwards.
    std::string HexDigest();

private:
    struct TState;
    std::unique_ptr<TState> state_;
};

/// The SHA-256 of the whole file at path, as TSha256::HexDigest gives it.
/// Throws EFOpenError when the file cannot be opened, EReadError when it
/// cannot be read.
std::string FileSha256(const std::string& path);
