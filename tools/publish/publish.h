// Publishing an update folder from a release folder.
//
// Every file of the release is copied to the update folder under its path plus ".txt" (the client's
// executable thus becomes "tovipos.exe.txt", or "tovipos.txt" on Linux), and "list.txt" lists each
// with its SHA-1 digest (upper-case), its path in GB2312, as raw bytes inside the JSON strings, and
// whether it is a program, so that a till gives a new one execute permission. Each file is written
// under a temporary name and moved into place, and "list.txt" comes last, so a client that reads
// the folder while it is being published sees the old release or the new one, never a mix that
// claims the new version.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "net/openssl.h"
#include "tools/publish/keys.h"

namespace tovi::publish {

struct PublishedFile {
    std::string path;  // relative, "/"-separated, UTF-8, without ".txt"
    std::string sha1;
    unsigned long long size = 0;
    bool executable = false;  // a program (POSIX execute permission): "executable": true in the list
};

struct Signing {
    KeySeed key{};
    std::uint64_t serial = 0;  // written into list.txt as "serial"
};

// Publishes releaseFolder into updateFolder (created if missing); returns the files in list order
// (sorted by path). With signing, list.txt carries the serial and "list.txt.sig" its signature
// (written just before list.txt); with rollout, list.txt offers the release to that percentage of
// the tills. Throws tovi::Error; on failure list.txt is left as it was.
std::vector<PublishedFile> publish(const updater::OpenSsl& ssl, const std::string& releaseFolder, const std::string& version,
                                   const std::string& updateFolder, const std::optional<Signing>& signing = std::nullopt,
                                   std::optional<int> rollout = std::nullopt);

// The command; returns the exit status:
//   publish --keygen KEYFILE    a new private key in KEYFILE; prints the public key (64 hex digits)
//   publish [--key KEYFILE] [--serial N] [--rollout N] <release folder> <version> <update folder>
int publishMain(const std::vector<std::string>& args);

}  // namespace tovi::publish
