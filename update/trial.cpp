#include "update/trial.h"

#include <optional>

#include "common/files.h"
#include "update/handoff.h"

namespace tovi::release {

Trial::Trial(Store store) : store_(std::move(store)) {}

bool Trial::putBackCutInstall(const InstallLock& lock, std::optional<State>& cut) {
    State& state = *cut;
    // The downloads it never moved and the files it put aside ("<file>.<8 hex digits>.tovi-part" or
    // ".tovi-old" beside each file, the client's beside the hand-off file: bytes of no release that
    // proved itself) go first: the way back never uses them, no later check may clean their folder,
    // and a folder that only the cut release had goes with its last file.
    std::vector<std::string> paths = state.replaced;
    paths.insert(paths.end(), state.added.begin(), state.added.end());
    paths.emplace_back(updater::kHandOffFile);
    const std::size_t top = store_.localPath("").size();
    for (const auto& path : paths) {
        const std::string file = store_.localPath(path);
        // Only through plain folders, as every change of the store: never behind a link.
        bool plain = true;
        for (auto pos = file.find_first_of("/\\", top); plain && pos != std::string::npos; pos = file.find_first_of("/\\", pos + 1))
            plain = entryKind(file.substr(0, pos)) == EntryKind::Folder;
        if (!plain) continue;
        const auto slash = file.find_last_of("/\\");
        const std::string folder = file.substr(0, slash), name = file.substr(slash + 1) + ".";
        for (const auto& entry : folderNames(folder).value_or(std::vector<std::string>{})) {
            for (const std::string_view suffix : {kTempSuffix, kAsideSuffix}) {
                if (entry.size() == name.size() + 8 + suffix.size() && entry.starts_with(name) && entry.ends_with(suffix))
                    removeFile(folder + file[slash] + entry);
            }
        }
    }
    const std::string reason =
        state.rollback.empty() ? "the install of " + described(state.candidate) + " was cut short" : state.rollback;
    bool clientRestored = false;
    if (store_.rollBack(lock, state, reason, &clientRestored)) {
        // What the removal of the store left (a file held open) goes now, as at any start.
        store_.removeLeftovers();
        cut.reset();
    } else {
        // The state file now names the rollback, which this start carries on.
        state.rollback = reason;
    }
    return clientRestored;
}

Trial::Next Trial::started(const std::function<bool()>& handOffPending) {
    const std::lock_guard guard(mutex_);
    // Held through every step below: an install placing files now is left alone, and no other
    // process changes the state between the one read here and this start's changes.
    const InstallLock lock(store_);
    if (!lock.held()) return handOffPending() ? Next::FinishHandOff : Next::Run;
    std::optional<State> s = store_.removeLeftovers();
    if (s && !s->installed && putBackCutInstall(lock, s)) return Next::StartClient;
    if (handOffPending()) return Next::FinishHandOff;
    if (!s) return Next::Run;
    if (!s->rollback.empty() || s->failedStarts >= kFailedStartsAllowed) {
        const std::string reason = !s->rollback.empty() ? s->rollback
                                                        : "its last " + std::to_string(s->failedStarts) +
                                                              " starts ended before it proved itself";
        bool clientRestored = false;
        store_.rollBack(lock, *s, reason, &clientRestored);
        return clientRestored ? Next::StartClient : Next::Run;
    }
    // Whole here (a cut install was put back above, or its rollback carried on): a proof of this
    // start is a proof of the release.
    ++s->failedStarts;
    store_.save(*s);
    store_.note("release " + described(s->candidate) + " on trial: start " + std::to_string(s->failedStarts) + " of " +
                std::to_string(kFailedStartsAllowed) + " before it is rolled back unless it proves itself");
    onTrial_ = true;
    tag_ = s->installTag;
    excusedStarts_ = s->excusedStarts;
    changed_ = s->replaced;
    changed_.insert(changed_.end(), s->added.begin(), s->added.end());
    return Next::Run;
}

void Trial::checkCompleted() {
    const std::lock_guard guard(mutex_);
    checkCompleted_ = true;
}

bool Trial::proven() {
    const std::lock_guard guard(mutex_);
    if (!onTrial_ || !checkCompleted_) return false;
    // Read again: the check ran since this start read it. Its own install of a later release makes
    // another trial, and a rollback that came due meanwhile (another start's) is not undone by a
    // proof.
    const std::optional<State> s = store_.load();
    if (!s || s->installTag != tag_ || !s->rollback.empty()) return false;
    store_.remove();
    store_.note("release " + described(s->candidate) + " proved itself; the previous release " + described(s->previous) +
                " is no longer kept");
    return true;
}

bool Trial::handingOver(const std::string& clientFile) {
    const std::lock_guard guard(mutex_);
    const std::optional<State> s = store_.load();
    if (!s) return false;
    onTrial_ = true;
    tag_ = s->installTag;
    excusedStarts_ = s->excusedStarts;
    if (!store_.keepClient(*s, clientFile)) store_.note("hand-off: the previous client could not be kept");
    return true;
}

Trial::Watch Trial::watched() const {
    const std::lock_guard guard(mutex_);
    // Read at every look: the new client changes the state as it starts, is excused or proves.
    const std::optional<State> s = store_.load();
    if (!s || s->installTag != tag_) return Watch::Settled;
    return s->excusedStarts > excusedStarts_ ? Watch::Excused : Watch::Open;
}

bool Trial::failed(const std::string& reason) {
    const std::lock_guard guard(mutex_);
    // Under the install lock, like every move of release files, and with the state read again
    // under it: a client may have installed, put back or proved meanwhile.
    const InstallLock lock(store_);
    const std::optional<State> s = store_.load();
    if (!s || s->installTag != tag_) return true;
    return store_.rollBack(lock, *s, reason);
}

}  // namespace tovi::release
