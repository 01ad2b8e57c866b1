#include "update/sha1.h"

#include <vector>

#include "common/ascii.h"
#include "common/error.h"
#include "common/files.h"
#include "common/paths.h"

namespace tovi::updater {

Sha1::Sha1(const LibCrypto& crypto) : crypto_(crypto), ctx_(osslOwned(crypto.EVP_MD_CTX_new(), crypto.EVP_MD_CTX_free)) {
    if (!ctx_ || crypto_.EVP_DigestInit_ex(ctx_.get(), crypto_.EVP_sha1(), nullptr) != 1)
        throw Error("cannot start a SHA-1 digest", "RuntimeError");
}

void Sha1::update(std::string_view data) {
    if (!data.empty() && crypto_.EVP_DigestUpdate(ctx_.get(), data.data(), data.size()) != 1)
        throw Error("SHA-1 digest failed", "RuntimeError");
}

std::string Sha1::hexDigest() {
    unsigned char md[64];
    unsigned int n = 0;
    if (crypto_.EVP_DigestFinal_ex(ctx_.get(), md, &n) != 1 || n != 20) throw Error("SHA-1 digest failed", "RuntimeError");
    return ascii::hex(std::string_view(reinterpret_cast<const char*>(md), n), ascii::HexCase::Upper);
}

std::string sha1Hex(const LibCrypto& crypto, std::string_view data) {
    Sha1 h(crypto);
    h.update(data);
    return h.hexDigest();
}

std::string sha1OfFile(const LibCrypto& crypto, const std::string& path) {
    if (fileKind(path) != EntryKind::File) return {};
    InputFile in(path);
    Sha1 h(crypto);
    std::vector<char> buf(256 * 1024);
    while (const std::size_t n = in.read(buf.data(), buf.size())) h.update(std::string_view(buf.data(), n));
    return h.hexDigest();
}

bool sameDigest(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto up = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
        if (up(a[i]) != up(b[i])) return false;
    }
    return true;
}

}  // namespace tovi::updater
