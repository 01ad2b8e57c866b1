#include "update/release_store.h"

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <set>

#include "common/ascii.h"
#include "common/error.h"
#include "common/file_names.h"
#include "common/files.h"
#include "common/ini.h"
#include "common/logfile.h"
#include "common/paths.h"
#include "common/process.h"
#include "common/scope_guard.h"
#include "update/config_ini.h"
#include "update/handoff.h"

namespace tovi::release {

namespace {

// A state is a few lines per file of a release; anything near this is no state of ours.
constexpr std::uint64_t kMaxStateBytes = 64u * 1024 * 1024;
// Folders of a store nest no deeper than a release's: a removal never recurses further.
constexpr int kMaxDepth = 64;

// Why a recorded path is none that an install of ours could have written.
const char* relativePathProblem(std::string_view path) {
    if (path.empty()) return "empty path";
    std::size_t i = 0;
    bool first = true;
    while (true) {
        const auto next = path.find('/', i);
        const std::string_view part = path.substr(i, next == std::string_view::npos ? std::string_view::npos : next - i);
        if (part.empty() || part == "." || part == ".." || part.find_first_of("\\:") != std::string_view::npos)
            return "path leaves the program folder";
        if (const char* problem = fileNameProblem(part)) return problem;
        if (first && sameFileName(part, kStoreFolder)) return "path names the store of the previous release";
        first = false;
        if (next == std::string_view::npos) return nullptr;
        i = next + 1;
    }
}

void writeId(rapidjson::Writer<rapidjson::StringBuffer>& w, const char* key, const ReleaseId& id) {
    w.Key(key);
    w.StartObject();
    for (const auto& [name, value] : {std::pair{"version", &id.version}, {"serial", &id.serial}, {"list", &id.list}}) {
        w.Key(name);
        w.String(value->data(), static_cast<rapidjson::SizeType>(value->size()));
    }
    w.EndObject();
}

void writeList(rapidjson::Writer<rapidjson::StringBuffer>& w, const char* key, const std::vector<std::string>& list) {
    w.Key(key);
    w.StartArray();
    for (const auto& s : list) w.String(s.data(), static_cast<rapidjson::SizeType>(s.size()));
    w.EndArray();
}

std::optional<std::string> stringMember(const rapidjson::Value& object, const char* name) {
    const auto it = object.FindMember(name);
    if (it == object.MemberEnd() || !it->value.IsString()) return std::nullopt;
    return std::string(it->value.GetString(), it->value.GetStringLength());
}

bool readId(const rapidjson::Value& doc, const char* key, ReleaseId& id) {
    const auto it = doc.FindMember(key);
    if (it == doc.MemberEnd() || !it->value.IsObject()) return false;
    const auto version = stringMember(it->value, "version");
    const auto serial = stringMember(it->value, "serial");
    const auto list = stringMember(it->value, "list");
    if (!version || !serial || !list) return false;
    id = {*version, *serial, *list};
    return true;
}

bool readList(const rapidjson::Value& doc, const char* key, std::vector<std::string>& out, std::string& problem) {
    const auto it = doc.FindMember(key);
    if (it == doc.MemberEnd() || !it->value.IsArray()) {
        problem = std::string("no \"") + key + "\" list";
        return false;
    }
    for (const auto& v : it->value.GetArray()) {
        if (!v.IsString()) {
            problem = std::string("\"") + key + "\" holds a value that is no path";
            return false;
        }
        std::string path(v.GetString(), v.GetStringLength());
        if (const char* why = relativePathProblem(path)) {
            problem = std::string(why) + ": " + path;
            return false;
        }
        out.push_back(std::move(path));
    }
    return true;
}

}  // namespace

std::string described(const ReleaseId& id) {
    std::string text = id.version.empty() ? std::string("(no version)") : id.version;
    if (!id.serial.empty()) text += " (serial " + id.serial + ")";
    return text;
}

std::string stateText(const State& s) {
    rapidjson::StringBuffer buf;
    rapidjson::Writer<rapidjson::StringBuffer> w(buf);
    w.StartObject();
    writeId(w, "previous", s.previous);
    writeId(w, "candidate", s.candidate);
    writeList(w, "replaced", s.replaced);
    writeList(w, "added", s.added);
    w.Key("installTag");
    w.String(s.installTag.data(), static_cast<rapidjson::SizeType>(s.installTag.size()));
    w.Key("installed");
    w.Bool(s.installed);
    w.Key("failedStarts");
    w.Int(s.failedStarts);
    w.Key("excusedStarts");
    w.Int(s.excusedStarts);
    w.Key("rollback");
    w.String(s.rollback.data(), static_cast<rapidjson::SizeType>(s.rollback.size()));
    w.EndObject();
    return std::string(buf.GetString(), buf.GetSize()) + "\n";
}

std::optional<State> parseState(std::string_view text, std::string& problem) {
    if (text.size() > kMaxStateBytes) {
        problem = "too large";
        return std::nullopt;
    }
    rapidjson::Document doc;
    doc.Parse<rapidjson::kParseIterativeFlag>(text.data(), text.size());
    if (doc.HasParseError() || !doc.IsObject()) {
        problem = "not a JSON object";
        return std::nullopt;
    }
    State s;
    const auto tag = stringMember(doc, "installTag");
    const auto rollback = stringMember(doc, "rollback");
    const auto installed = doc.FindMember("installed");
    const auto failed = doc.FindMember("failedStarts");
    if (!readId(doc, "previous", s.previous) || !readId(doc, "candidate", s.candidate) || !tag || !rollback ||
        installed == doc.MemberEnd() || !installed->value.IsBool() || failed == doc.MemberEnd() || !failed->value.IsInt() ||
        failed->value.GetInt() < 0 || failed->value.GetInt() > kMaxFailedStarts) {
        problem = "a member is missing or of the wrong kind";
        return std::nullopt;
    }
    if (const auto excused = doc.FindMember("excusedStarts"); excused != doc.MemberEnd()) {
        if (!excused->value.IsInt() || excused->value.GetInt() < 0 || excused->value.GetInt() > kMaxFailedStarts) {
            problem = "a member is missing or of the wrong kind";
            return std::nullopt;
        }
        s.excusedStarts = excused->value.GetInt();
    }
    if (!readList(doc, "replaced", s.replaced, problem) || !readList(doc, "added", s.added, problem)) return std::nullopt;
    s.installTag = *tag;
    s.rollback = *rollback;
    s.installed = installed->value.GetBool();
    s.failedStarts = failed->value.GetInt();
    return s;
}

Plan planInstall(const std::optional<State>& prior, const ReleaseId& current, const ReleaseId& candidate,
                 const std::vector<Placement>& placements, const std::vector<bool>& exists,
                 const std::vector<bool>& stored, const std::string& tag) {
    Plan plan;
    State& s = plan.state;
    if (prior) s = *prior;
    else s.previous = current;
    s.candidate = candidate;
    s.installTag = tag;
    s.installed = false;
    s.failedStarts = 0;
    s.excusedStarts = 0;
    s.rollback.clear();
    // Letter case folded: one file on Windows.
    std::set<std::string> replaced, added;
    for (const auto& p : s.replaced) replaced.insert(ascii::lowered(p));
    for (const auto& p : s.added) added.insert(ascii::lowered(p));
    for (std::size_t i = 0; i < placements.size(); ++i) {
        const std::string& path = placements[i].path;
        const std::string key = ascii::lowered(path);
        if (replaced.count(key) && !stored[i]) {
            // Listed as kept, never moved into the store: still the previous release's bytes.
            plan.keep.push_back(exists[i] ? Keep::InStore : Keep::Nothing);
        } else if (replaced.count(key) || added.count(key)) {
            // Its bytes now are a release's that never proved itself (or it is missing): the way
            // back does not go through them.
            plan.keep.push_back(exists[i] ? Keep::Aside : Keep::Nothing);
        } else if (exists[i]) {
            plan.keep.push_back(Keep::InStore);
            s.replaced.push_back(path);
            replaced.insert(key);
        } else {
            plan.keep.push_back(Keep::Nothing);
            s.added.push_back(path);
            added.insert(key);
        }
    }
    return plan;
}

Store::Store(std::string programFolder, std::string configPath, char separator, Log log)
    : programFolder_(std::move(programFolder)), configPath_(std::move(configPath)), separator_(separator), log_(std::move(log)) {}

std::string Store::folder() const { return programFolder_ + separator_ + std::string(kStoreFolder); }

std::string Store::localPath(std::string_view relative) const {
    std::string out = programFolder_ + separator_;
    for (const char c : relative) out += c == '/' ? separator_ : c;
    return out;
}

std::string Store::storedPath(std::string_view relative) const {
    std::string out = folder() + separator_ + std::string(kFilesFolder) + separator_;
    for (const char c : relative) out += c == '/' ? separator_ : c;
    return out;
}

void Store::step(std::string_view name) const {
    if (step_) step_(name);
}

void Store::note(const std::string& text) const {
    if (log_) log_(text);
}

std::optional<State> Store::load() const {
    const std::string path = folder() + separator_ + std::string(kStateFile);
    // Only a plain folder of ours: through a link, moves into the store would leave the program folder.
    if (entryKind(folder()) != EntryKind::Folder || entryKind(path) != EntryKind::File) return std::nullopt;
    const auto size = fileSizeOf(path);
    std::string problem = "too large";
    if (size && *size <= kMaxStateBytes) {
        try {
            if (auto state = parseState(readFile(path), problem)) return state;
        } catch (const Error& e) {
            problem = e.what();
        }
    }
    note("previous release: state file not readable (" + problem + "): " + path);
    return std::nullopt;
}

void Store::save(const State& state) const {
    step("save");
    const std::string dir = folder();
    if (entryKind(dir) == EntryKind::Missing) createFolder(dir);
    if (entryKind(dir) != EntryKind::Folder) throw ioError("not a folder: " + dir);
    replaceFileContent(dir + separator_ + std::string(kStateFile), stateText(state));
}

namespace {

void removeTree(const std::string& path, char separator, int depth) {
    if (depth < kMaxDepth) {
        for (const auto& name : folderNames(path).value_or(std::vector<std::string>{})) {
            const std::string p = path + separator + name;
            // A link is removed as a link: nothing behind it is touched.
            if (entryKind(p) == EntryKind::Folder) removeTree(p, separator, depth + 1);
            else removeFile(p);
        }
    }
    removeFolder(path);
}

}  // namespace

void Store::remove() const {
    step("remove");
    const std::string state = folder() + separator_ + std::string(kStateFile);
    // Held open elsewhere (Windows): renamed away, it no longer names a release on trial.
    if (!removeFile(state) && entryKind(state) == EntryKind::File) replaceFile(state, temporaryNameFor(state, kAsideSuffix));
    step("remove files");
    removeTree(folder(), separator_, 0);
}

std::optional<State> Store::removeLeftovers() const {
    const std::string dir = folder();
    switch (entryKind(dir)) {
        case EntryKind::Missing: return std::nullopt;
        case EntryKind::Folder:
            if (auto state = load()) return state;
            step("remove leftovers");
            removeTree(dir, separator_, 0);
            return std::nullopt;
        default:
            // Something else under our name (a link): removed, never followed.
            removeFile(dir);
            return std::nullopt;
    }
}

bool Store::makeFoldersFor(const std::string& file, const std::string& top) const {
    for (std::size_t pos = file.find(separator_, top.size() + 1); pos != std::string::npos;
         pos = file.find(separator_, pos + 1)) {
        const std::string dir = file.substr(0, pos);
        if (entryKind(dir) == EntryKind::Missing) createFolder(dir);
        // Only through plain folders: a link could lead the move anywhere on the disk.
        if (entryKind(dir) != EntryKind::Folder) return false;
    }
    return true;
}

InstallLock::InstallLock(const Store& store) : lock_(store.localPath(kLockFile)) {}

void Store::install(const ReleaseId& current, const ReleaseId& candidate, const std::vector<Placement>& placements) const {
    const InstallLock lock(*this);
    if (!lock.held()) throw ioError("another client installs a release now, or no lock can be made: " + localPath(kLockFile));
    // Read again, under the lock: the start read it long before (the check has run since), and
    // another client may have installed, rolled back or proved meanwhile.
    const std::optional<State> prior = removeLeftovers();
    if (placements.empty()) {
        // A new version with the same files: the trial goes on under the new name.
        if (prior && (prior->candidate != candidate || !prior->installed)) {
            State s = *prior;
            s.candidate = candidate;
            s.installed = true;
            save(s);
        }
        return;
    }
    std::vector<bool> exists, stored;
    for (const auto& p : placements) {
        exists.push_back(entryKind(localPath(p.path)) != EntryKind::Missing);
        stored.push_back(entryKind(storedPath(p.path)) == EntryKind::File);
    }
    Plan plan = planInstall(prior, current, candidate, placements, exists, stored, randomTag());
    save(plan.state);

    // Where the file that each placement replaced went: the store, aside, or nowhere.
    std::vector<std::string> moved(placements.size());
    std::vector<bool> placed(placements.size(), false);
    // Armed until every file is in place: whatever ends the install early puts back what it moved.
    // Only a complete put-back returns the store to what it was; a file that cannot go back keeps
    // the state saved above, from which the next start puts the cut install back.
    ScopeGuard putBack([&]() noexcept {
        bool whole = true;
        for (std::size_t i = placements.size(); i-- > 0;) {
            if (placed[i] && moved[i].empty()) whole = removeFile(placements[i].target) && whole;
            if (!moved[i].empty()) whole = replaceFile(moved[i], placements[i].target) && whole;
        }
        try {
            if (!whole) note("previous release: an install could not put every file back; the next start does");
            else if (prior) save(*prior);
            else remove();
        } catch (const Error& e) {
            note(std::string("previous release: ") + e.what());
        }
    });
    for (std::size_t i = 0; i < placements.size(); ++i) {
        const Placement& p = placements[i];
        const bool replacing = entryKind(p.target) != EntryKind::Missing;
        // A program of the release must still start (POSIX): the download takes the permissions of
        // the file it replaces, and execute permission when the list says it is one.
        if ((replacing && !copyPermissions(p.target, p.temp)) || (p.executable && !addExecutePermission(p.temp))) {
            throw ioError("cannot set the permissions of: " + p.target);
        }
        if (replacing) {
            step("keep " + p.path);
            // The client is kept by the support program, which replaces it: what is at the hand-off
            // name now is a stale copy.
            const bool keep = plan.keep[i] == Keep::InStore && !p.selfUpdate;
            const std::string to = keep ? storedPath(p.path) : temporaryNameFor(p.target, kAsideSuffix);
            if ((keep && !makeFoldersFor(to, folder())) || !replaceFile(p.target, to)) {
                throw ioError("cannot replace: " + p.target);
            }
            moved[i] = to;
        }
        step("place " + p.path);
        if (!replaceFile(p.temp, p.target)) {
            throw ioError("cannot replace: " + p.target);
        }
        placed[i] = true;
    }
    putBack.disarm();
    // Files put aside can go now; a loaded library cannot be deleted on Windows and stays aside
    // until a later start removes it.
    for (std::size_t i = 0; i < placements.size(); ++i) {
        if (plan.keep[i] != Keep::InStore || placements[i].selfUpdate) {
            if (!moved[i].empty()) removeFile(moved[i]);
        }
    }
    plan.state.installed = true;
    save(plan.state);
}

bool Store::keepClient(const State& state, const std::string& clientFile) const {
    bool listed = false;
    for (const auto& p : state.replaced) listed = listed || sameFileName(p, clientFile);
    const std::string stored = storedPath(clientFile);
    if (!listed || entryKind(stored) == EntryKind::File) return true;
    step("keep client");
    try {
        if (!makeFoldersFor(stored, folder())) return false;
        // A copy, not a move: the client must never be missing, whenever the power goes.
        InputFile in(localPath(clientFile));
        OutputFile out(temporaryNameFor(stored));
        std::string buf(256 * 1024, '\0');
        while (const std::size_t n = in.read(buf.data(), buf.size())) out.write(std::string_view(buf.data(), n));
        out.commit();
        // It must start again once it is put back (POSIX: its execute permission).
        if (!copyPermissions(localPath(clientFile), out.path()) || !replaceFile(out.path(), stored)) return false;
        out.release();
        return true;
    } catch (const Error& e) {
        note(std::string("previous release: cannot keep the client: ") + e.what());
        return false;
    }
}

bool Store::rollBack(const InstallLock& lock, State state, const std::string& reason, bool* clientRestored) const {
    if (!lock.held()) {
        note("rollback: another process installs or puts back a release now; tried again later");
        return false;
    }
    if (state.rollback.empty()) {
        // Recorded first: a rollback cut short is carried on by the next start, whatever counts.
        state.rollback = reason;
        save(state);
    }
    step("rollback config");
    try {
        IniFile ini = IniFile::load(configPath_);
        ini.set(config::kSection, config::kVersion, state.previous.version);
        if (!state.previous.serial.empty() || ini.find(config::kSection, config::kSerial))
            ini.set(config::kSection, config::kSerial, state.previous.serial);
        // An install cut short is no trial that failed: its release is taken again.
        if (state.installed) recordRolledBack(ini, state.candidate);
        replaceFileContent(configPath_, ini.text());
    } catch (const Error& e) {
        note(std::string("rollback: config.ini not rewritten: ") + e.what());
    }
    // A new client waiting for its hand-off belongs to the failed release.
    removeFile(programFolder_ + separator_ + std::string(updater::kHandOffFile));

    std::vector<std::string> failed;
    int restored = 0;
    int removed = 0;
    for (const auto& path : state.replaced) {
        const std::string from = storedPath(path);
        if (entryKind(from) != EntryKind::File) continue;  // never moved in, or back already
        step("restore " + path);
        const std::string to = localPath(path);
        bool ok = makeFoldersFor(to, programFolder_) && entryKind(to) != EntryKind::Folder;
        if (ok && !replaceFile(from, to)) {
            // In use (a loaded library on Windows): renamed aside, it can still be replaced.
            const std::string aside = temporaryNameFor(to, kAsideSuffix);
            ok = replaceFile(to, aside) && replaceFile(from, to);
        }
        if (ok) ++restored;
        else failed.push_back(path);
        if (ok && clientRestored && sameFileName(path, kClientProgram)) *clientRestored = true;
    }
    for (const auto& path : state.added) {
        const std::string file = localPath(path);
        if (entryKind(file) != EntryKind::File) continue;
        step("remove " + path);
        if (removeFile(file) || replaceFile(file, temporaryNameFor(file, kAsideSuffix))) {
            ++removed;
            // Folders that only the failed release had go with their last file.
            for (auto pos = file.rfind(separator_); pos != std::string::npos && pos > programFolder_.size();
                 pos = file.rfind(separator_, pos - 1)) {
                if (!removeFolder(file.substr(0, pos))) break;
            }
        } else {
            failed.push_back(path);
        }
    }
    if (!failed.empty()) {
        std::string list;
        for (const auto& f : failed) list += (list.empty() ? "" : ", ") + f;
        note("rollback incomplete, tried again at the next start: cannot put back " + list);
        return false;
    }
    remove();
    note("rollback: release " + described(state.candidate) + " replaced by the previous release " +
         described(state.previous) + " (" + std::to_string(restored) + " files put back, " + std::to_string(removed) +
         " removed): " + reason);
    return true;
}

void recordRolledBack(IniFile& config, const ReleaseId& release) {
    using namespace tovi::config;
    if (!release.serial.empty()) {
        config.set(kSection, kFailedSerial, release.serial);
    } else {
        config.set(kSection, kFailedVersion, release.version);
        config.set(kSection, kFailedList, release.list);
    }
}

bool wasRolledBack(const IniFile& config, const ReleaseId& release) {
    using namespace tovi::config;
    if (!release.serial.empty()) return config.get(kSection, kFailedSerial, "") == release.serial;
    return config.get(kSection, kFailedVersion, "") == release.version && config.get(kSection, kFailedList, "") == release.list;
}

}  // namespace tovi::release
