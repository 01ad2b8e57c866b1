// The previous release: what a till needs to go back to the release it ran before the last
// install. An install keeps every file it replaces, and the list of files it adds, in the folder
// "tovipos.previous" inside the program folder, together with a small state file. The new release
// is then on trial: every start under it is counted before anything of it is loaded, and a start
// that proves it (a reveal, or a minute of the loop) ends the trial and removes the store. After
// kFailedStartsAllowed starts that never proved it, the next start puts the previous release back.
//
// The client (its start and its updater) and the support program (the hand-off of a new client,
// which it watches) both work on the store; this is the one place that knows its layout. Every
// change is made so that a process killed at any point leaves a store that the next start can
// still carry forward or back: the state file is replaced in one step, before the files it
// describes change.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/files.h"
#include "common/ini.h"

namespace tovi::release {

inline constexpr std::string_view kStoreFolder = "tovipos.previous";
inline constexpr std::string_view kStateFile = "release.json";
inline constexpr std::string_view kFilesFolder = "files";
// Beside the store: held by an install and by a start that puts an install back, so that a second
// client never takes an install still running for one cut short.
inline constexpr std::string_view kLockFile = "tovipos.previous.lock";
// Trial starts that may end before the release has proven itself; the next start rolls back.
inline constexpr int kFailedStartsAllowed = 2;
// More counted starts than a state of ours can hold.
inline constexpr int kMaxFailedStarts = 1000;


struct ReleaseId {
    std::string version;
    std::string serial;  // decimal; empty for an unsigned list (none recorded)
    std::string list;    // SHA-1 of list.txt (upper-case hex); empty when not known
    bool operator==(const ReleaseId&) const = default;
};

// "2.1 (serial 7)": a release as the log names it.
std::string described(const ReleaseId& id);

struct State {
    ReleaseId previous;   // as config.ini recorded it before the install
    ReleaseId candidate;  // the release on trial
    // Paths relative to the program folder, "/"-separated: files whose earlier bytes are kept in
    // the store, and files that the previous release did not have.
    std::vector<std::string> replaced;
    std::vector<std::string> added;
    std::string installTag;  // new at every install: tells one install's trial from the next
    bool installed = false;  // every file is in place (false while an install moves them)
    int failedStarts = 0;    // trial starts begun that have not proven the release
    // Trial starts that ended for no fault of the release (the update server): a watcher does not
    // blame the new client for ending after one. Missing from states of older clients: 0.
    int excusedStarts = 0;
    std::string rollback;    // why a rollback is due (set before it starts); empty: none
    bool operator==(const State&) const = default;
};

// The state file's text (JSON), and back. parseState refuses what a state of ours cannot hold: a
// path that leaves the program folder or names the store, a device or no file, text over 64 MiB.
std::string stateText(const State& state);
std::optional<State> parseState(std::string_view text, std::string& problem);

// One verified download to move into place. The client's own executable is stored under the
// hand-off name (target) and moved by the support program, which keeps the old one (keepClient).
struct Placement {
    std::string path;    // relative, "/"-separated; the client: its program file name
    std::string temp;    // the verified download
    std::string target;  // where it goes
    bool selfUpdate = false;
    // The list says it is a program: as a new file it gets execute permission. A file it replaces
    // passes its own permissions on in any case.
    bool executable = false;
};

// What becomes of the file that a placement replaces: kept as the previous release's, put aside
// (bytes of a release still on trial, removed later), or nothing (there is none).
enum class Keep { InStore, Aside, Nothing };

struct Plan {
    State state;
    std::vector<Keep> keep;  // per placement
};

// The state after an install and what to do with each replaced file. With a release still on
// trial (prior), the store goes on describing the way back to its previous release, the last one
// that proved itself: only files that that release had and no later install has touched are kept.
// exists: whether each placement's file is there now (the client: its executable); stored:
// whether the store holds a copy of it already. A file that an install cut short had planned to
// keep but never moved still holds the previous release's bytes: it is kept now.
Plan planInstall(const std::optional<State>& prior, const ReleaseId& current, const ReleaseId& candidate,
                 const std::vector<Placement>& placements, const std::vector<bool>& exists,
                 const std::vector<bool>& stored, const std::string& tag);

class Store;

// The lock beside the store (kLockFile), held by whoever moves release files: an install, the put-
// back of one cut short, a rollback. Two processes never move them at once, so that a rollback
// never puts back files under an install that is placing them, nor the other way round. Taken at
// once or not at all.
class InstallLock {
public:
    explicit InstallLock(const Store& store);
    bool held() const { return lock_.held(); }

private:
    NamedLock lock_;
};

class Store {
public:
    using Log = std::function<void(std::string_view)>;
    // Called with a step's name before each change on disk: lets a test stop the process there.
    using StepHook = std::function<void(std::string_view)>;

    // programFolder without a trailing separator; configPath as the client opens config.ini.
    Store(std::string programFolder, std::string configPath, char separator, Log log = {});

    // The state, or nothing when there is no store (or none that can be read: see removeLeftovers).
    std::optional<State> load() const;
    void save(const State& state) const;
    // The state file first: a removal cut short leaves leftovers, never a state without its files.
    void remove() const;
    // A store folder without a readable state is the rest of a removal cut short (or damage): it
    // is removed. Called at start and before an install, never by a watcher. Returns the state it
    // read (as load does): one read serves both.
    std::optional<State> removeLeftovers() const;

    // Moves every placement into place, keeping what it replaces as planInstall says. Failing, it
    // puts every file back and leaves the store as it found it (IOError "cannot replace: " + target);
    // when a file cannot be put back, the store of the install stays, and the next start puts the
    // install back from it.
    // With no placement, a store of a release on trial takes the new release's name.
    void install(const ReleaseId& current, const ReleaseId& candidate, const std::vector<Placement>& placements) const;

    // Copies the client's executable into the store when the install on trial (state, as just
    // read) replaces it and it is not kept yet (the support program, before it moves the new
    // client into place). False when it could not.
    bool keepClient(const State& state, const std::string& clientFile) const;

    // Puts the previous release back: config.ini's version and serial, the failed release recorded,
    // every kept file back, every added file and the hand-off file removed, then the store. True
    // when all of it worked; otherwise the state keeps the reason and the next start tries again.
    // Without the lock held it changes nothing and returns false.
    // clientRestored: set when the client's executable was among the files put back.
    bool rollBack(const InstallLock& lock, State state, const std::string& reason, bool* clientRestored = nullptr) const;

    std::string folder() const;
    std::string localPath(std::string_view relative) const;
    std::string storedPath(std::string_view relative) const;
    void setStepHook(StepHook hook) { step_ = std::move(hook); }
    // A line for the log.
    void note(const std::string& text) const;

private:
    void step(std::string_view name) const;
    bool makeFoldersFor(const std::string& file, const std::string& top) const;

    std::string programFolder_;
    std::string configPath_;
    char separator_;
    Log log_;
    StepHook step_;
};

// The rolled-back release in config.ini: recorded by a rollback of a release that was installed
// whole, and read by the check, which never installs that release again while it is offered (a
// later one is taken). Signed lists by their serial, unsigned ones by version and list digest.
void recordRolledBack(IniFile& config, const ReleaseId& release);
bool wasRolledBack(const IniFile& config, const ReleaseId& release);

}  // namespace tovi::release
