#include "update/signature.h"

#include "common/ascii.h"
#include "common/error.h"

namespace tovi::updater {

namespace {

// Exactly out.size() bytes written as 2 * out.size() hex digits, or false.
template <std::size_t N>
bool fromHex(std::string_view text, std::array<unsigned char, N>& out) {
    if (text.size() != 2 * N) return false;
    for (std::size_t i = 0; i < N; ++i) {
        const int hi = ascii::hexValue(text[2 * i]);
        const int lo = ascii::hexValue(text[2 * i + 1]);
        if (hi < 0 || lo < 0) return false;
        out[i] = static_cast<unsigned char>(hi << 4 | lo);
    }
    return true;
}

std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

}  // namespace

std::string hexText(const unsigned char* data, std::size_t size) {
    return ascii::hex(std::string_view(reinterpret_cast<const char*>(data), size));
}

std::vector<PublicKey> parseUpdateKeys(std::string_view text) {
    std::vector<PublicKey> keys;
    while (true) {
        const auto end = text.find(';');
        const std::string_view item = trimBlanks(text.substr(0, end));
        if (!item.empty()) {
            PublicKey key{};
            if (!fromHex(item, key)) {
                throw valueError("update key is not 64 hexadecimal digits: " + std::string(item));
            }
            keys.push_back(key);
        }
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return keys;
}

std::optional<Signature> parseSignature(std::string_view text) {
    if (text.size() >= 2 && text.substr(text.size() - 2) == "\r\n") text.remove_suffix(2);
    else if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
    Signature sig{};
    if (!fromHex(text, sig)) return std::nullopt;
    return sig;
}

void requireEd25519(const LibCrypto& c) {
    if (!c.EVP_PKEY_new_raw_public_key || !c.EVP_PKEY_free || !c.EVP_DigestVerifyInit || !c.EVP_DigestVerify) {
        throw Error(c.fileName + " cannot check the signature of list.txt: OpenSSL 1.1.1 or later is needed", "LoadError");
    }
}

bool verifySignature(const LibCrypto& c, const std::vector<PublicKey>& keys, const Signature& signature,
                     std::string_view message) {
    requireEd25519(c);
    for (const auto& key : keys) {
        const OsslPtr<ossl::EVP_PKEY> pkey =
            osslOwned(c.EVP_PKEY_new_raw_public_key(kEvpPkeyEd25519, nullptr, key.data(), key.size()), c.EVP_PKEY_free);
        if (!pkey) {
            // Every 32 bytes make an Ed25519 public key; a library without the algorithm says no here.
            c.ERR_clear_error();
            throw Error(c.fileName + " cannot check the signature of list.txt: no Ed25519", "LoadError");
        }
        const OsslPtr<ossl::EVP_MD_CTX> ctx = osslOwned(c.EVP_MD_CTX_new(), c.EVP_MD_CTX_free);
        bool ok = false;
        if (ctx && c.EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, pkey.get()) == 1) {
            ok = c.EVP_DigestVerify(ctx.get(), signature.data(), signature.size(),
                                    reinterpret_cast<const unsigned char*>(message.data()), message.size()) == 1;
        }
        // A signature that does not verify leaves its reason in the queue of this thread.
        c.ERR_clear_error();
        if (ok) return true;
    }
    return false;
}

}  // namespace tovi::updater
