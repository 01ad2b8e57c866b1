#include "update/update_check.h"

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <thread>

#include "net/http_client.h"
#include "update/manifest.h"
#include "update/rollout.h"
#include "update/sha1.h"
#include "net/tls.h"
#include "net/url.h"
#include "common/ascii.h"
#include "common/error.h"
#include "common/files.h"
#include "common/ini.h"
#include "common/paths.h"
#include "common/process.h"
#include "update/config_ini.h"
#include "update/release_store.h"

#ifndef TOVI_DEFAULT_HOST
#error "TOVI_DEFAULT_HOST must name the host of the default update address"
#endif

namespace tovi::updater {

namespace {

// A manifest beyond this is no manifest of ours; refuse it before it eats the memory.
constexpr std::size_t kMaxManifest = 64u * 1024 * 1024;
// A signature is 128 digits and a line break; of a longer body no more than this is kept.
constexpr std::size_t kMaxSignature = 1024;

// The serial recorded by the last completed run of a signed list; 0 when none is recorded.
std::uint64_t recordedSerial(const IniFile& ini) {
    const std::string text = ini.get(config::kSection, config::kSerial, "");
    if (text.empty()) return 0;
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9' || value > (kMaxSerial - static_cast<unsigned>(c - '0')) / 10) {
            throw valueError("config.ini: serial is not an integer from 0 to " + std::to_string(kMaxSerial) + ": " + text);
        }
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    return value;
}

std::string folderOf(const std::string& path) {
    const auto pos = path.find_last_of(pathSeparator() == '\\' ? "\\/" : "/");
    if (pos == std::string::npos) return ".";
    return pos == 0 ? path.substr(0, 1) : path.substr(0, pos);
}

// Temporary files that an interrupted run left behind in the folders this run writes to. They
// never pass for the files themselves (their names are distinct), but they should not pile up.
void removeLeftovers(const std::set<std::string>& folders) {
    for (const auto& folder : folders) {
        for (const auto& name : folderNames(folder).value_or(std::vector<std::string>{})) {
            if (isTempName(name)) removeFile(folder + pathSeparator() + name);
        }
    }
}

// Creates the folders that lead from the program folder to a target. An existing one must be a
// plain folder: a link (or junction) could lead the write anywhere on the disk.
void makeFolders(const EntryNames& names) {
    for (const auto& folder : names.folders) {
        switch (entryKind(folder)) {
            case EntryKind::Folder: continue;
            case EntryKind::Missing:
                // Another process may have made it meanwhile: only the result counts.
                if (createFolder(folder) || entryKind(folder) == EntryKind::Folder) continue;
                throw ioError("cannot create folder: " + folder);
            case EntryKind::Link: throw ioError("folder is a link, not written through: " + folder);
            default: throw ioError("not a folder: " + folder);
        }
    }
}

// A verified download waiting to be moved into place.
struct Staged {
    std::unique_ptr<OutputFile> file;  // removes the temporary file unless released
    std::string target;
    std::string path;  // relative to the program folder, "/"-separated
    bool selfUpdate = false;
    bool executable = false;
};

// The path of a file inside the program folder, relative to it and "/"-separated.
std::string relativeTo(const std::string& folder, const std::string& path) {
    std::string rel = path.substr(folder.size() + (folder.empty() || folder.back() == pathSeparator() ? 0 : 1));
    for (char& c : rel) {
        if (c == pathSeparator()) c = '/';
    }
    return rel;
}

class Run {
public:
    Run(const OpenSsl& ssl, const TlsContext& tls, StatusSink& sink, std::atomic<bool>& selfUpdatePending,
        const UpdateSettings& settings)
        : ssl_(ssl), sink_(sink), selfUpdatePending_(selfUpdatePending), settings_(settings),
          connector_(tls, settings.idleTimeout), http_(connector_) {}

    // The run, as named steps: each step's failure is thrown and ends it there.
    void operator()() {
        Plan plan = planRun();
        if (plan.install) {
            const std::vector<Target> targets = validate(plan);
            std::vector<Staged> staged = download(targets);
            install(plan, staged);
        }
        sink_.completed();
    }

private:
    // What config.ini and the list say this run is to do.
    struct Plan {
        IniFile config;  // as read; rewritten with the new version once the release is in place
        std::string updateUrl;
        std::string localVersion;
        Manifest manifest;
        bool isSigned = false;
        std::uint64_t serial = 0;  // of a signed list
        release::ReleaseId candidate;
        bool install = false;  // false: up to date, or a release this till does not take
    };

    // One file of the list with the names it is written under.
    struct Target {
        const ManifestEntry* entry;
        EntryNames names;
    };

    // Step 1: config.ini and the list (signed, when keys are built in), and whether this till takes
    // the release: not an older signed list, not the installed version, not a release rolled back
    // here, not before its rollout reaches this till.
    Plan planRun() {
        Plan p{IniFile::load(settings_.configPath), {}, {}, {}, false, 0, {}, false};
        p.updateUrl = p.config.get(config::kSection, config::kUpdateUrl, defaultUpdateUrl());
        p.localVersion = p.config.get(config::kSection, config::kVersion, "");
        // Only TLS authenticates the server of an unsigned list; never fetch a list in the clear.
        if (!parseUrl(p.updateUrl).secure()) throw valueError("updateUrl is not an https address: " + p.updateUrl);

        p.isSigned = !settings_.updateKeys.empty();
        const std::string body =
            p.isSigned ? fetchSignedList(p.updateUrl) : fetch(p.updateUrl + std::string(kListFile), kMaxManifest);
        p.manifest = parseManifest(body);
        if (p.isSigned) {
            p.serial = manifestSerial(p.manifest);
            const std::uint64_t installed = recordedSerial(p.config);
            if (p.serial < installed) {
                throw valueError("list.txt is older than the installed release (serial " + std::to_string(p.serial) +
                                 ", installed " + std::to_string(installed) + ")");
            }
            // Equal versions write nothing else, but a newer serial is recorded all the same: an older
            // signed list of another version must not pass later.
            if (p.manifest.version == p.localVersion && p.serial > installed) {
                p.config.set(config::kSection, config::kSerial, std::to_string(p.serial));
                writeConfig(p.config.text());
            }
        }
        if (p.manifest.version == p.localVersion) return p;
        p.candidate = {p.manifest.version, p.isSigned ? std::to_string(p.serial) : "", sha1Hex(ssl_.crypto, body)};
        // A release that this till rolled back is not taken again while it is offered; a later one is.
        if (release::wasRolledBack(p.config, p.candidate)) {
            sink_.note("update: release " + p.manifest.version + " was rolled back on this till and is not installed again");
            return p;
        }
        if (!takesRelease(ssl_.crypto, p.config.get(config::kSection, config::kTillId, ""), p.manifest.version,
                          p.manifest.rollout)) {
            sink_.note("update: release " + p.manifest.version + " held back by its staged rollout (" +
                       std::to_string(p.manifest.rollout) + "% of the tills, not yet this one)");
            return p;
        }
        p.install = true;
        return p;
    }

    // Step 2: every entry's names, checked before anything is written (a bad list changes no file);
    // a file listed twice is taken once. Leftover temporary files of the folders written to go.
    std::vector<Target> validate(const Plan& p) const {
        std::vector<Target> targets;
        std::map<std::string, std::size_t> byTarget;  // letter case folded: one file on Windows
        std::set<std::string> folders{folderOf(settings_.configPath)};
        for (const ManifestEntry& entry : manifestEntries(p.manifest)) {
            EntryNames names = entryNames(entry, p.updateUrl, settings_.programFolder, pathSeparator());
            const auto [it, fresh] = byTarget.emplace(ascii::lowered(names.target), targets.size());
            if (!fresh) {
                // Two different contents for one file: whichever came last would win, silently.
                if (!sameDigest(targets[it->second].entry->sha1, entry.sha1))
                    throw valueError("list.txt: path listed twice with different contents: " + names.utf8Path);
                continue;
            }
            // Only through plain folders: never clean up behind a link.
            if (std::all_of(names.folders.begin(), names.folders.end(),
                            [](const std::string& f) { return entryKind(f) == EntryKind::Folder; }))
                folders.insert(folderOf(names.target));
            targets.push_back({&entry, std::move(names)});
        }
        removeLeftovers(folders);
        return targets;
    }

    // Step 3: every out-of-date file downloaded and verified into a temporary file beside its
    // target. A failure here changes no file.
    std::vector<Staged> download(const std::vector<Target>& targets) {
        std::vector<Staged> staged;
        for (const Target& t : targets) {
            if (sameDigest(sha1OfFile(ssl_.crypto, t.names.localPath), t.entry->sha1)) continue;
            if (entryKind(t.names.target) == EntryKind::Folder) throw ioError("Unable to open file");
            makeFolders(t.names);
            staged.push_back(fetchFile(*t.entry, t.names));
        }
        return staged;
    }

    // Step 4: every download moved into place, the new client last, so that the hand-off file only
    // ever appears next to a complete release: whoever finds it (the next start included) completes
    // the hand-off. What they replace is kept as the previous release until the new one has proven
    // itself. The version last: a run that ends before it is walked again at the next start, and
    // finds in place whatever it had already moved.
    void install(Plan& p, std::vector<Staged>& staged) {
        std::stable_partition(staged.begin(), staged.end(), [](const Staged& s) { return !s.selfUpdate; });
        std::vector<release::Placement> placements;
        bool selfUpdate = false;
        for (const auto& st : staged) {
            placements.push_back({st.path, st.file->path(), st.target, st.selfUpdate, st.executable});
            selfUpdate = selfUpdate || st.selfUpdate;
        }
        release::Store store(settings_.programFolder, settings_.configPath, pathSeparator(),
                             [this](std::string_view text) { sink_.note(std::string(text)); });
        store.setStepHook(settings_.stepHook);
        store.install({p.localVersion, p.config.get(config::kSection, config::kSerial, ""), ""}, p.candidate, placements);
        for (auto& st : staged) st.file->release();
        p.config.set(config::kSection, config::kVersion, p.manifest.version);
        if (p.isSigned) p.config.set(config::kSection, config::kSerial, std::to_string(p.serial));
        writeConfig(p.config.text());
        if (selfUpdate) selfUpdatePending_ = true;
    }

    // The body of a small file of the update folder (list.txt, list.txt.sig), at most limit bytes.
    std::string fetch(const std::string& url, std::size_t limit) {
        std::string body;
        http_.get(url, [&](std::string_view piece) {
            if (body.size() + piece.size() > limit) throw valueError(url.substr(url.rfind('/') + 1) + " is too large");
            body.append(piece);
        });
        return body;
    }

    // list.txt, returned only once list.txt.sig verifies under one of the keys. A missing, malformed
    // or wrong signature gets one more try of both files after a pause (the publisher may have
    // written one of them but not yet the other); then it fails the check.
    std::string fetchSignedList(const std::string& updateUrl) {
        requireEd25519(ssl_.crypto);
        for (int attempt = 1;; ++attempt) {
            const std::string body = fetch(updateUrl + std::string(kListFile), kMaxManifest);
            std::optional<Error> refusal;
            std::string sigText;
            try {
                // Bytes past the limit are dropped, not kept: what is left is then no signature.
                http_.get(updateUrl + std::string(kSignatureFile), [&](std::string_view piece) {
                    sigText.append(piece.substr(0, kMaxSignature + 1 - sigText.size()));
                });
            } catch (const Error& e) {
                refusal = Error("list.txt is not signed: " + std::string(kSignatureFile) + ": " + e.what(), e.kind());
            }
            if (!refusal) {
                const std::optional<Signature> sig = parseSignature(sigText);
                if (!sig) {
                    refusal = valueError(std::string(kSignatureFile) + " is not a signature (128 hexadecimal digits expected)");
                } else if (!verifySignature(ssl_.crypto, settings_.updateKeys, *sig, body)) {
                    refusal = valueError("list.txt does not match its signature " + std::string(kSignatureFile) +
                                         " under any update key");
                }
            }
            if (!refusal) return body;
            if (attempt == 2) throw *refusal;
            std::this_thread::sleep_for(settings_.signatureRetryDelay);
        }
    }

    Staged fetchFile(const ManifestEntry& entry, const EntryNames& names) {
        sink_.progress(names.displayName);
        const std::string temp = temporaryNameFor(names.target);
        Staged staged;
        staged.target = names.target;
        staged.selfUpdate = names.selfUpdate;
        staged.executable = entry.executable;
        staged.path = relativeTo(settings_.programFolder, names.localPath);
        Sha1 digest(ssl_.crypto);
        http_.get(names.url, [&](std::string_view piece) {
            // Opened at the first byte of a successful response.
            if (!staged.file) staged.file = std::make_unique<OutputFile>(temp);
            staged.file->write(piece);
            digest.update(piece);
        });
        if (!staged.file) staged.file = std::make_unique<OutputFile>(temp);  // an empty file
        staged.file->commit();
        const std::string got = digest.hexDigest();
        if (!entry.sha1.empty() && !sameDigest(got, entry.sha1)) {
            throw ioError("downloaded file does not match list.txt: " + names.utf8Path + " (expected " + entry.sha1 +
                          ", received " + got + ")");
        }
        return staged;
    }

    void writeConfig(const std::string& text) { replaceFileContent(settings_.configPath, text); }

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
    settings.updateKeys = parseUpdateKeys(builtInUpdateKeys());
    // One TLS context per process, made on first use and kept until exit (never freed: the
    // libraries may be unloaded before static destructors run).
    static const TlsContext* const tls = new TlsContext(ssl, settings.programFolder);
    Run(ssl, *tls, sink, selfUpdatePending, settings)();
}

}  // namespace tovi::updater
