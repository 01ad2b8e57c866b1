#include "update/trial.h"

#include <optional>

#include "common/files.h"
#include "update/handoff.h"

namespace tovi::release {

bool putBackCutInstall(const Store& store) {
    const InstallLock lock(store);
    if (!lock.held()) return false;  // another client installs now: not cut short
    const std::optional<State> s = store.removeLeftovers();
    if (!s || s->installed) return false;
    // The downloads it never moved and the files it put aside ("<file>.<8 hex digits>.tovi-part" or
    // ".tovi-old" beside each file, the client's beside the hand-off file: bytes of no release that
    // proved itself) go first: the way back never uses them, no later check may clean their folder,
    // and a folder that only the cut release had goes with its last file.
    std::vector<std::string> paths = s->replaced;
    paths.insert(paths.end(), s->added.begin(), s->added.end());
    paths.emplace_back(updater::kHandOffFile);
    const std::size_t top = store.localPath("").size();
    for (const auto& path : paths) {
        const std::string file = store.localPath(path);
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
    bool clientRestored = false;
    store.rollBack(lock, *s, s->rollback.empty() ? "the install of " + described(s->candidate) + " was cut short" : s->rollback,
                   &clientRestored);
    return clientRestored;
}

TrialStart beginStart(const Store& store) {
    // Held while the state is read and changed: an install placing files now is left alone.
    const InstallLock lock(store);
    if (!lock.held()) return {};
    std::optional<State> s = store.removeLeftovers();
    if (!s) return {};
    if (!s->rollback.empty() || s->failedStarts >= kFailedStartsAllowed) {
        const std::string reason = !s->rollback.empty() ? s->rollback
                                                        : "its last " + std::to_string(s->failedStarts) +
                                                              " starts ended before it proved itself";
        TrialStart start;
        store.rollBack(lock, *s, reason, &start.restart);
        return start;
    }
    ++s->failedStarts;
    store.save(*s);
    store.note("release " + described(s->candidate) + " on trial: start " + std::to_string(s->failedStarts) + " of " +
               std::to_string(kFailedStartsAllowed) + " before it is rolled back unless it proves itself");
    TrialStart start{true, s->installed, s->installTag, s->candidate.version, s->replaced, {}};
    start.changed.insert(start.changed.end(), s->added.begin(), s->added.end());
    return start;
}

bool prove(const Store& store, const TrialStart& start) {
    if (!start.onTrial || !start.provable) return false;
    const std::optional<State> s = store.load();
    if (!s || s->installTag != start.tag || !s->rollback.empty()) return false;
    store.remove();
    store.note("release " + described(s->candidate) + " proved itself; the previous release " + described(s->previous) +
               " is no longer kept");
    return true;
}

void excuse(const Store& store, const TrialStart& start) {
    if (!start.onTrial) return;
    std::optional<State> s = store.load();
    if (!s || s->installTag != start.tag || s->failedStarts == 0) return;
    --s->failedStarts;
    if (s->excusedStarts < kMaxFailedStarts) ++s->excusedStarts;
    store.save(*s);
}

}  // namespace tovi::release
