// SHA-256 through OpenSSL's libcrypto, which the HTTP service loads anyway.
#include <openssl/evp.h>

#include "runtime/Exception.h"
#include "runtime/Sha256.h"

struct TSha256::TState {
    EVP_MD_CTX* Context = EVP_MD_CTX_new();
    ~TState() { EVP_MD_CTX_free(Context); }
};

TSha256::TSha256() : state_(std::make_unique<TState>()) {
    if (state_->Context == nullptr ||
        EVP_DigestInit_ex(state_->Context, EVP_sha256(), nullptr) != 1)
        throw EInternalError("SHA-256 is not available");
}

TSha256::~TSha256() = default;

void TSha256::Update(std::span<const std::uint8_t> bytes) {
    if (!bytes.empty() && EVP_DigestUpdate(state_->Context, bytes.data(), bytes.size()) != 1)
        throw EInternalError("SHA-256 failed");
}

std::string TSha256::HexDigest() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(state_->Context, digest, &length) != 1 ||
        EVP_DigestInit_ex(state_->Context, EVP_sha256(), nullptr) != 1)
        throw EInternalError("SHA-256 failed");
    static constexpr char Digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        hex += Digits[digest[i] >> 4];
        hex += Digits[digest[i] & 0xF];
    }
    return hex;
}
