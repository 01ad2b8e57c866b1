#include "client/updater/update_check.h"

#include <set>

#include "client/updater/files.h"
#include "client/updater/http_client.h"
#include "client/updater/manifest.h"
#include "client/updater/sha1.h"
#include "client/updater/tls.h"
#include "common/error.h"
#include "common/ini.h"
#include "common/paths.h"

#ifndef TOVI_DEFAULT_HOST
#error "TOVI_DEFAULT_HOST must name the host of the default update address"
#endif

namespace tovi::updater {

namespace {

// A manifest beyond this is no manifest of ours; refuse it before it eats the memory.
constexpr std::size_t kMaxManifest = 64u * 1024 * 1024;

std::string folderOf(const std::string& path) {
    const auto pos = path.find_last_of(pathSeparator() == '\\' ? "\\/" : "/");
    if (pos == std::string::npos) return ".";
    return pos == 0 ? path.substr(0, 1) : path.substr(0, pos);
}

std::string tempNameFor(const std::string& target) { return target + "." + randomTag() + std::string(kTempSuffix); }

// Temporary files that an interrupted run left behind in the folders this run writes to. They
// never pass for the files themselves (their names are distinct), but they should not pile up.
void removeLeftovers(const std::set<std::string>& folders) {
    for (const auto& folder : folders) {
        for (const auto& name : listFolder(folder)) {
            if (isTempName(name)) removeFile(folder + pathSeparator() + name);
        }
    }
}

class Run {
public:
    Run(const OpenSsl& ssl, const TlsContext& tls, StatusSink& sink, std::atomic<bool>& selfUpdatePending,
        const UpdateSettings& settings)
        : ssl_(ssl), sink_(sink), selfUpdatePending_(selfUpdatePending), settings_(settings),
          connector_(tls, settings.idleTimeout), http_(connector_) {}

    void operator()() {
        IniFile config = IniFile::load(settings_.configPath);
        const std::string updateUrl = config.get("base", "updateUrl", defaultUpdateUrl());
        const std::string localVersion = config.get("base", "version", "");

        const Manifest manifest = parseManifest(fetchManifest(updateUrl + "list.txt"));
        if (manifest.version == localVersion) {
            sink_.completed();
            return;
        }

        // Every entry is checked before anything is written: a bad manifest changes no file.
        const auto& entries = manifestEntries(manifest);
        std::vector<EntryNames> names;
        names.reserve(entries.size());
        std::set<std::string> folders{folderOf(settings_.configPath)};
        for (const auto& e : entries) {
            names.push_back(entryNames(e, updateUrl, settings_.programFolder, pathSeparator()));
            folders.insert(folderOf(names.back().target));
        }
        removeLeftovers(folders);

        for (std::size_t i = 0; i < entries.size(); ++i) {
            const std::string local = sha1OfFile(ssl_.crypto, names[i].localPath);
            if (sameDigest(local, entries[i].sha1)) continue;
            download(entries[i], names[i]);
        }

        config.set("base", "version", manifest.version);
        writeConfig(config.text());
        sink_.completed();
    }

private:
    std::string fetchManifest(const std::string& url) {
        std::string body;
        http_.get(url, [&](std::string_view piece) {
            if (body.size() + piece.size() > kMaxManifest) throw valueError("list.txt is too large");
            body.append(piece);
        });
        return body;
    }

    void download(const ManifestEntry& entry, const EntryNames& names) {
        sink_.progress(names.displayName);
        const std::string temp = tempNameFor(names.target);
        std::optional<OutputFile> file;  // opened at the first byte of a successful response
        Sha1 digest(ssl_.crypto);
        http_.get(names.url, [&](std::string_view piece) {
            if (!file) file.emplace(temp);
            file->write(piece);
            digest.update(piece);
        });
        if (!file) file.emplace(temp);  // an empty file
        file->commit();
        const std::string got = digest.hexDigest();
        if (!entry.sha1.empty() && !sameDigest(got, entry.sha1)) {
            throw ioError("downloaded file does not match list.txt: " + names.utf8Path + " (expected " + entry.sha1 +
                          ", received " + got + ")");
        }
        if (!replaceFile(temp, names.target)) throw ioError("Unable to open file");
        file->release();
        if (names.selfUpdate) selfUpdatePending_ = true;
    }

    void writeConfig(const std::string& text) {
        const std::string temp = tempNameFor(settings_.configPath);
        OutputFile file(temp);
        file.write(text);
        file.commit();
        if (!replaceFile(temp, settings_.configPath)) throw ioError("cannot write: " + settings_.configPath);
        file.release();
    }

    const OpenSsl& ssl_;
    StatusSink& sink_;
    std::atomic<bool>& selfUpdatePending_;
    const UpdateSettings& settings_;
    NetworkConnector connector_;
    HttpClient http_;
};

}  // namespace

std::string defaultUpdateUrl() { return std::string("https://") + TOVI_DEFAULT_HOST + "/tovimis/update/"; }

void runUpdateCheck(const OpenSsl& ssl, StatusSink& sink, std::atomic<bool>& selfUpdatePending, const UpdateSettings& settings) {
    const TlsContext tls(ssl, settings.programFolder);
    Run(ssl, tls, sink, selfUpdatePending, settings)();
}

void runUpdateCheck(const OpenSsl& ssl, StatusSink& sink, std::atomic<bool>& selfUpdatePending) {
    UpdateSettings settings;
    settings.programFolder = programFolder();
    // One TLS context per process, made on first use and kept until exit (never freed: the
    // libraries may be unloaded before static destructors run).
    static const TlsContext* const tls = new TlsContext(ssl, settings.programFolder);
    Run(ssl, *tls, sink, selfUpdatePending, settings)();
}

}  // namespace tovi::updater
