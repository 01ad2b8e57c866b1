// Signed update lists: the Ed25519 public keys built into the client, the text of "list.txt.sig",
// and the check of a signature through the run-time OpenSSL (EVP_DigestVerify; 1.1.1 or later).
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/openssl.h"

namespace tovi::updater {

using PublicKey = std::array<unsigned char, 32>;
using Signature = std::array<unsigned char, 64>;


// The keys built into this program: the ";"-separated hex text of the TOVI_UPDATE_KEYS build
// setting, empty when the build has none. Defined in a generated source of its own, so that a
// test build can link another key set.
std::string_view builtInUpdateKeys();

// Keys of 64 hexadecimal digits (either case), separated by ";"; blanks around a key and empty
// items are ignored. Throws ValueError naming the item that is not a key.
std::vector<PublicKey> parseUpdateKeys(std::string_view text);

// The body of "list.txt.sig": 128 hexadecimal digits (either case), optionally followed by one line
// break (LF or CR LF). Anything else is no signature.
std::optional<Signature> parseSignature(std::string_view text);

// Whether signature is an Ed25519 signature of message under one of keys. A library that cannot
// check (before 1.1.1) throws Error kind "LoadError": with keys built in, a check that cannot run
// is a failure, never a skipped check.
bool verifySignature(const LibCrypto& crypto, const std::vector<PublicKey>& keys, const Signature& signature,
                     std::string_view message);

// Throws the "LoadError" above when crypto lacks the Ed25519 functions.
void requireEd25519(const LibCrypto& crypto);

// Lower-case hexadecimal digits of bytes.
std::string hexText(const unsigned char* data, std::size_t size);

}  // namespace tovi::updater
