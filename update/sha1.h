// SHA-1 through the bound libcrypto, streaming; digests as 40 upper-case hexadecimal digits.
#pragma once

#include <string>
#include <string_view>

#include "net/openssl.h"

namespace tovi::updater {

class Sha1 {
public:
    explicit Sha1(const LibCrypto& crypto);
    Sha1(const Sha1&) = delete;
    Sha1& operator=(const Sha1&) = delete;

    void update(std::string_view data);
    // The digest of everything given so far; the object is spent afterwards.
    std::string hexDigest();

private:
    const LibCrypto& crypto_;
    OsslPtr<ossl::EVP_MD_CTX> ctx_;
};

std::string sha1Hex(const LibCrypto& crypto, std::string_view data);

// The digest of the regular file at path, or empty text when no regular file is there (missing,
// or a folder). Throws IOError "cannot read: " + path when the file exists but cannot be read.
std::string sha1OfFile(const LibCrypto& crypto, const std::string& path);

// "a3f..." and "A3F..." name the same digest.
bool sameDigest(std::string_view a, std::string_view b);

}  // namespace tovi::updater
