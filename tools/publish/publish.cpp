#include "tools/publish/publish.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <system_error>

#include "client/updater/files.h"
#include "client/updater/manifest.h"
#include "client/updater/sha1.h"
#include "client/updater/signature.h"
#include "common/entry.h"
#include "common/error.h"
#include "common/paths.h"
#include "common/text.h"

namespace tovi::publish {

namespace fs = std::filesystem;

namespace {

fs::path fromUtf8(const std::string& s) { return fs::path(std::u8string(s.begin(), s.end())); }

std::string toUtf8(const fs::path& p) {
    const std::u8string u = p.generic_u8string();
    return std::string(u.begin(), u.end());
}

std::string nativeUtf8(const fs::path& p) {
    const std::u8string u = p.u8string();
    return std::string(u.begin(), u.end());
}

bool isInside(const fs::path& inner, const fs::path& outer) {
    const auto rel = fs::weakly_canonical(inner).lexically_relative(fs::weakly_canonical(outer));
    return !rel.empty() && *rel.begin() != "..";
}

// Copies from to a temporary name beside to and moves it into place; returns the SHA-1 digest.
std::string copyInPlace(const updater::OpenSsl& ssl, const std::string& from, const std::string& to) {
    updater::InputFile in(from);
    const std::string temp = to + "." + updater::randomTag() + std::string(updater::kTempSuffix);
    updater::OutputFile out(temp);
    updater::Sha1 digest(ssl.crypto);
    std::vector<char> buf(256 * 1024);
    while (const std::size_t n = in.read(buf.data(), buf.size())) {
        const std::string_view piece(buf.data(), n);
        out.write(piece);
        digest.update(piece);
    }
    out.commit();
    if (!updater::replaceFile(temp, to)) throw ioError("cannot replace " + to);
    out.release();
    return digest.hexDigest();
}

void writeInPlace(const std::string& text, const std::string& to) {
    const std::string temp = to + "." + updater::randomTag() + std::string(updater::kTempSuffix);
    updater::OutputFile out(temp);
    out.write(text);
    out.commit();
    if (!updater::replaceFile(temp, to)) throw ioError("cannot replace " + to);
    out.release();
}

}  // namespace

std::string manifestText(const std::string& version, const std::vector<PublishedFile>& files,
                         std::optional<std::uint64_t> serial) {
    rapidjson::StringBuffer buf;
    rapidjson::Writer<rapidjson::StringBuffer> w(buf);
    w.StartObject();
    w.Key("version");
    w.String(version.data(), static_cast<rapidjson::SizeType>(version.size()));
    if (serial) {
        w.Key("serial");
        w.Uint64(*serial);
    }
    w.Key("list");
    w.StartArray();
    for (const auto& f : files) {
        const std::string name = f.path + ".txt";
        const std::string gb = utf8ToGb2312(name);
        if (gb2312ToUtf8(gb) != name) throw valueError("path cannot be written in GB2312: " + f.path);
        w.StartObject();
        w.Key("sha1");
        w.String(f.sha1.data(), static_cast<rapidjson::SizeType>(f.sha1.size()));
        w.Key("path");
        // GB2312 bytes go out as they are: the writer does not validate or escape bytes >= 0x80,
        // and no GB2312 byte of a two-byte character is a quote or a backslash.
        w.String(gb.data(), static_cast<rapidjson::SizeType>(gb.size()));
        w.EndObject();
    }
    w.EndArray();
    w.EndObject();
    return std::string(buf.GetString(), buf.GetSize()) + "\n";
}

std::vector<PublishedFile> publish(const updater::OpenSsl& ssl, const std::string& releaseFolder, const std::string& version,
                                   const std::string& updateFolder, const std::optional<Signing>& signing) {
    const fs::path release = fromUtf8(releaseFolder);
    const fs::path update = fromUtf8(updateFolder);
    std::error_code ec;
    if (!fs::is_directory(release, ec)) throw ioError("not a folder: " + releaseFolder);
    fs::create_directories(update, ec);
    if (!fs::is_directory(update, ec)) throw ioError("cannot create folder: " + updateFolder);
    if (isInside(update, release) || isInside(release, update) || fs::equivalent(update, release, ec))
        throw valueError("the release folder and the update folder must not contain each other");

    std::vector<fs::path> sources;
    for (const auto& e : fs::recursive_directory_iterator(release)) {
        if (e.is_regular_file()) sources.push_back(e.path());
    }
    std::vector<PublishedFile> files;
    for (const auto& src : sources) {
        PublishedFile f;
        f.path = toUtf8(src.lexically_relative(release));
        if (updater::isTempName(src.filename().string())) continue;  // a leftover of an interrupted copy
        files.push_back(f);
    }
    std::sort(files.begin(), files.end(), [](const PublishedFile& a, const PublishedFile& b) { return a.path < b.path; });
    const std::optional<std::uint64_t> serial = signing ? std::optional<std::uint64_t>(signing->serial) : std::nullopt;
    if (serial && *serial > updater::kMaxSerial) throw valueError("serial above " + std::to_string(updater::kMaxSerial));
    // Check every name (and that the key signs) before writing anything.
    if (signing) (void)sign(ssl.crypto, signing->key, manifestText(version, files, serial));
    else (void)manifestText(version, files);

    for (auto& f : files) {
        const fs::path to = update / fromUtf8(f.path + ".txt");
        fs::create_directories(to.parent_path(), ec);
        f.sha1 = copyInPlace(ssl, nativeUtf8(release / fromUtf8(f.path)), nativeUtf8(to));
        f.size = fs::file_size(to);
    }
    const std::string list = manifestText(version, files, serial);
    if (signing) {
        const updater::Signature sig = sign(ssl.crypto, signing->key, list);
        writeInPlace(updater::hexText(sig.data(), sig.size()) + "\n", nativeUtf8(update / std::string(updater::kSignatureFile)));
    }
    writeInPlace(list, nativeUtf8(update / "list.txt"));
    return files;
}

namespace {

constexpr const char* kUsage =
    "usage: publish [--key KEYFILE] [--serial N] <release folder> <version> <update folder>\n"
    "       publish --keygen KEYFILE\n"
    "Copies every file of the release folder to the update folder as <path>.txt and writes list.txt last.\n"
    "With --key, list.txt carries \"serial\" (N, default the current time in seconds) and list.txt.sig\n"
    "its Ed25519 signature. --keygen writes a new private key (PEM, owner-only) and prints its public\n"
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
    std::cout << updater::hexText(pub.data(), pub.size()) << "\n";
    return 0;
}

}  // namespace

int publishMain(const std::vector<std::string>& args) {
    std::vector<std::string> positional;
    std::optional<std::string> keyFile;
    std::optional<std::string> keygenFile;
    std::optional<std::uint64_t> serial;
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
        } else if (a.rfind("--", 0) == 0) {
            bad = true;
        } else {
            positional.push_back(a);
        }
    }
    if (keygenFile) bad = bad || keyFile || serial || !positional.empty();
    else bad = bad || positional.size() != 3;
    if (bad) {
        std::cerr << kUsage;
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
            std::cerr << "publish: --serial needs --key (an unsigned list has no serial)\n";
            return 2;
        }
        const auto files = publish(ssl, positional[0], positional[1], positional[2], signing);
        unsigned long long total = 0;
        for (const auto& f : files) {
            std::cout << f.sha1 << "  " << f.path << "\n";
            total += f.size;
        }
        std::cout << "published " << files.size() << " files (" << total << " bytes), version " << positional[1];
        if (signing) std::cout << ", serial " << signing->serial << ", signed";
        std::cout << "\n";
        return 0;
    });
}

}  // namespace tovi::publish
