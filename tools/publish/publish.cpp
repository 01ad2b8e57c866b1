#include "tools/publish/publish.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "update/manifest.h"
#include "update/sha1.h"
#include "update/signature.h"
#include "common/ascii.h"
#include "common/entry.h"
#include "common/error.h"
#include "common/files.h"
#include "common/paths.h"
#include "update/release_store.h"
#include "common/text.h"

namespace tovi::publish {

namespace {

// Folders of a release nest at most this deep: a link that leads back up would otherwise be
// followed for ever.
constexpr int kMaxDepth = 32;

std::string join(const std::string& folder, const std::string& relative) {
    std::string out = folder;
    if (!out.empty() && out.back() != '/' && out.back() != pathSeparator()) out += pathSeparator();
    for (const char c : relative) out += c == '/' ? pathSeparator() : c;
    return out;
}

// The regular files under folder, as "/"-separated paths relative to it. A folder that cannot be
// read fails the run: a release published without some of its files would look complete.
void collectFiles(const std::string& folder, const std::string& relative, int depth, std::vector<std::string>& out) {
    if (depth > kMaxDepth) throw ioError("folders nested too deep: " + folder);
    const auto names = folderNames(folder);
    if (!names) throw ioError("cannot read folder: " + folder);
    for (const std::string& name : *names) {
        const std::string path = join(folder, name);
        const std::string rel = relative.empty() ? name : relative + "/" + name;
        switch (fileKind(path)) {
            case EntryKind::Folder: collectFiles(path, rel, depth + 1, out); break;
            case EntryKind::File: out.push_back(rel); break;
            default: break;
        }
    }
}

// Whether the existing folder inner is outer or lies inside it.
bool isWithin(const std::string& inner, const std::string& outer) {
    auto a = absolutePath(inner);
    auto b = absolutePath(outer);
    if (!a || !b) return false;
#ifdef _WIN32
    *a = ascii::uppered(*a);  // Windows file names ignore case
    *b = ascii::uppered(*b);
#endif
    if (!b->empty() && (b->back() == '/' || b->back() == pathSeparator())) b->pop_back();
    return a->starts_with(*b) && (a->size() == b->size() || (*a)[b->size()] == '/' || (*a)[b->size()] == pathSeparator());
}

// Copies from to a temporary name beside to and moves it into place; returns the SHA-1 digest and
// adds the bytes copied to size.
std::string copyInPlace(const updater::OpenSsl& ssl, const std::string& from, const std::string& to,
                        unsigned long long* size) {
    InputFile in(from);
    const std::string temp = temporaryNameFor(to);
    OutputFile out(temp);
    updater::Sha1 digest(ssl.crypto);
    std::vector<char> buf(256 * 1024);
    while (const std::size_t n = in.read(buf.data(), buf.size())) {
        const std::string_view piece(buf.data(), n);
        out.write(piece);
        digest.update(piece);
        *size += n;
    }
    out.commit();
    if (!replaceFile(temp, to)) throw ioError("cannot replace " + to);
    out.release();
    return digest.hexDigest();
}

std::string listText(const std::string& version, const std::vector<PublishedFile>& files,
                     std::optional<std::uint64_t> serial, std::optional<int> rollout) {
    std::vector<updater::ListedFile> listed;
    for (const auto& f : files) listed.push_back({f.path, f.sha1, f.executable});
    return updater::manifestText(version, listed, serial, rollout);
}

}  // namespace

std::vector<PublishedFile> publish(const updater::OpenSsl& ssl, const std::string& releaseFolder, const std::string& version,
                                   const std::string& updateFolder, const std::optional<Signing>& signing,
                                   std::optional<int> rollout) {
    if (rollout && (*rollout < 1 || *rollout > 100)) throw valueError("rollout is not a percentage from 1 to 100");
    if (fileKind(releaseFolder) != EntryKind::Folder) throw ioError("not a folder: " + releaseFolder);
    if (!createFolders(updateFolder)) throw ioError("cannot create folder: " + updateFolder);
    if (isWithin(updateFolder, releaseFolder) || isWithin(releaseFolder, updateFolder))
        throw valueError("the release folder and the update folder must not contain each other");

    std::vector<std::string> sources;
    collectFiles(releaseFolder, "", 0, sources);
    std::vector<PublishedFile> files;
    for (const auto& path : sources) {
        const auto slash = path.rfind('/');
        if (updater::isTempName(slash == std::string::npos ? path : path.substr(slash + 1))) continue;  // a leftover of an interrupted copy
        // A folder published from a till: its previous release is the till's own, never part of one.
        if (sameFileName(path.substr(0, path.find('/')), release::kStoreFolder) || sameFileName(path, release::kLockFile)) continue;
        files.push_back({path, "", 0, hasExecutePermission(join(releaseFolder, path))});
    }
    std::sort(files.begin(), files.end(), [](const PublishedFile& a, const PublishedFile& b) { return a.path < b.path; });
    const std::optional<std::uint64_t> serial = signing ? std::optional<std::uint64_t>(signing->serial) : std::nullopt;
    if (serial && *serial > updater::kMaxSerial) throw valueError("serial above " + std::to_string(updater::kMaxSerial));
    // Check every name (and that the key signs) before writing anything.
    if (signing) (void)sign(ssl.crypto, signing->key, listText(version, files, serial, rollout));
    else (void)listText(version, files, std::nullopt, rollout);

    for (auto& f : files) {
        const std::string to = join(updateFolder, f.path + std::string(updater::kServedSuffix));
        const auto slash = f.path.rfind('/');
        if (slash != std::string::npos) createFolders(join(updateFolder, f.path.substr(0, slash)));
        f.sha1 = copyInPlace(ssl, join(releaseFolder, f.path), to, &f.size);
    }
    const std::string list = listText(version, files, serial, rollout);
    if (signing) {
        const updater::Signature sig = sign(ssl.crypto, signing->key, list);
        replaceFileContent(join(updateFolder, std::string(updater::kSignatureFile)), updater::hexText(sig.data(), sig.size()) + "\n");
    }
    replaceFileContent(join(updateFolder, std::string(updater::kListFile)), list);
    return files;
}

namespace {

constexpr const char* kUsage =
    "usage: publish [--key KEYFILE] [--serial N] [--rollout N] <release folder> <version> <update folder>\n"
    "       publish --keygen KEYFILE\n"
    "Copies every file of the release folder to the update folder as <path>.txt and writes list.txt last.\n"
    "With --key, list.txt carries \"serial\" (N, default the current time in seconds) and list.txt.sig\n"
    "its Ed25519 signature. --rollout N (1 to 100) offers the release to N percent of the tills first.\n"
    "--keygen writes a new private key (PEM, owner-only) and prints its public\n"
    "key, the 64 hex digits to build into the client (TOVI_UPDATE_KEYS).\n";

std::optional<std::uint64_t> parseSerial(const std::string& text) {
    if (text.empty() || text.size() > 16) return std::nullopt;
    std::uint64_t v = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + static_cast<unsigned>(c - '0');
    }
    if (v > updater::kMaxSerial) return std::nullopt;
    return v;
}

int keygen(const std::string& keyFile) {
    const updater::OpenSsl ssl = updater::loadOpenSsl();
    const KeySeed seed = generateKey(ssl.crypto);
    const updater::PublicKey pub = publicKeyOf(ssl.crypto, seed);
    writePrivateFile(keyFile, privateKeyPem(seed));
    std::printf("%s\n", updater::hexText(pub.data(), pub.size()).c_str());
    return 0;
}

}  // namespace

int publishMain(const std::vector<std::string>& args) {
    std::vector<std::string> positional;
    std::optional<std::string> keyFile;
    std::optional<std::string> keygenFile;
    std::optional<std::uint64_t> serial;
    std::optional<int> rollout;
    bool bad = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--keygen" && hasValue) {
            keygenFile = args[++i];
        } else if (a == "--key" && hasValue) {
            keyFile = args[++i];
        } else if (a == "--serial" && hasValue) {
            serial = parseSerial(args[++i]);
            bad = bad || !serial;
        } else if (a == "--rollout" && hasValue) {
            const auto n = parseSerial(args[++i]);
            bad = bad || !n || *n < 1 || *n > 100;
            if (n) rollout = static_cast<int>(*n);
        } else if (a.rfind("--", 0) == 0) {
            bad = true;
        } else {
            positional.push_back(a);
        }
    }
    if (keygenFile) bad = bad || keyFile || serial || rollout || !positional.empty();
    else bad = bad || positional.size() != 3;
    if (bad) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    return runReportingErrorsOnConsole([&] {
        if (keygenFile) return keygen(*keygenFile);
        const updater::OpenSsl ssl = updater::loadOpenSsl();
        std::optional<Signing> signing;
        if (keyFile) {
            signing = Signing{parsePrivateKeyPem(readFile(*keyFile)),
                              serial ? *serial : static_cast<std::uint64_t>(std::time(nullptr))};
        } else if (serial) {
            std::fputs("publish: --serial needs --key (an unsigned list has no serial)\n", stderr);
            return 2;
        }
        const auto files = publish(ssl, positional[0], positional[1], positional[2], signing, rollout);
        unsigned long long total = 0;
        for (const auto& f : files) {
            std::printf("%s  %s\n", f.sha1.c_str(), f.path.c_str());
            total += f.size;
        }
        std::printf("published %zu files (%llu bytes), version %s", files.size(), total, positional[1].c_str());
        if (signing) std::printf(", serial %llu, signed", static_cast<unsigned long long>(signing->serial));
        if (rollout) std::printf(", for %d%% of the tills", *rollout);
        std::printf("\n");
        return 0;
    });
}

}  // namespace tovi::publish
