// SHA-256 through the system's cryptography service (CNG's BCrypt).
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <bcrypt.h>
#include <vector>

#include "runtime/Exception.h"
#include "runtime/Sha256.h"

struct TSha256::TState {
    BCRYPT_ALG_HANDLE Algorithm = nullptr;
    BCRYPT_HASH_HANDLE Hash = nullptr;
    ~TState() {
        if (Hash != nullptr)
            BCryptDestroyHash(Hash);
        if (Algorithm != nullptr)
            BCryptCloseAlgorithmProvider(Algorithm, 0);
    }
};

namespace {

bool Succeeded(NTSTATUS status) {
    return status >= 0;
}

} // namespace

TSha256::TSha256() : state_(std::make_unique<TState>()) {
    // A reusable hash object: HexDigest starts the next digest in place.
    if (!Succeeded(
            BCryptOpenAlgorithmProvider(&state_->Algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) ||
        !Succeeded(BCryptCreateHash(state_->Algorithm, &state_->Hash, nullptr, 0, nullptr, 0,
                                    BCRYPT_HASH_REUSABLE_FLAG)))
        throw EInternalError("SHA-256 is not available");
}

TSha256::~TSha256() = default;

void TSha256::Update(std::span<const std::uint8_t> bytes) {
    // BCryptHashData takes at most 4 GiB at a time.
    while (!bytes.empty()) {
        const std::size_t n = std::min<std::size_t>(bytes.size(), 1u << 30);
        if (!Succeeded(BCryptHashData(state_->Hash, const_cast<PUCHAR>(bytes.data()),
                                      static_cast<ULONG>(n), 0)))
            throw EInternalError("SHA-256 failed");
        bytes = bytes.subspan(n);
    }
}

std::string TSha256::HexDigest() {
    unsigned char digest[32];
    if (!Succeeded(BCryptFinishHash(state_->Hash, digest, sizeof digest, 0)))
        throw EInternalError("SHA-256 failed");
    static constexpr char Digits[] = "0123456789abcdef";
    std::string hex;
    for (const unsigned char byte : digest) {
        hex += Digits[byte >> 4];
        hex += Digits[byte & 0xF];
    }
    return hex;
}
