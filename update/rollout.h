// Staged rollouts: a release whose list.txt carries "rollout" N reaches N percent of the tills.
// Each till holds a random identity of its own, config.ini's tillId, which is never sent
// anywhere; the till itself decides from it whether a release is its turn, so the update server
// stays a folder of static files.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "net/openssl.h"

namespace tovi::updater {

// 32 hexadecimal digits (either case).
bool isTillId(std::string_view text);

// A fresh identity: 128 random bits from the library's generator (the system's where it has none),
// as 32 lower-case hexadecimal digits.
std::string newTillId(const LibCrypto& crypto);

// Writes a fresh tillId into the config.ini at configPath when it has none, or one that is not 32
// hex digits (a hand edit: no identity, so replaced, and note says so; staged rollouts stay evenly
// spread over every till). Returns the identity in effect; empty when there is none (the file
// cannot be read or written).
std::string ensureTillId(const LibCrypto& crypto, const std::string& configPath,
                         const std::function<void(const std::string&)>& note = {});

// The till's bucket for a release, 0 to 99: the first 64 bits of the SHA-1 digest of the identity
// (lower case), a line break and the version, taken modulo 100. The same for the same till and
// release at every start; independent from one release to the next.
int rolloutBucket(const LibCrypto& crypto, std::string_view tillId, std::string_view version);

// Whether this till takes a release offered to rollout percent of the tills: its bucket lies below
// rollout, so that raising the share never drops a till that had it. Without an identity only
// releases for every till are taken.
bool takesRelease(const LibCrypto& crypto, std::string_view tillId, std::string_view version, int rollout);

}  // namespace tovi::updater
