#include "support/update.h"

#include "common/ascii.h"
#include "common/process.h"
#include "update/config_ini.h"
#include "update/handoff.h"
#include "update/release_store.h"
#include "update/trial.h"

namespace tovi::support {

MoveResult moveWithRetry(const std::function<MoveResult(const std::string&, const std::string&)>& move,
                         const std::function<void(int)>& sleep, const std::string& src, const std::string& dst) {
    MoveResult result = move(src, dst);
    // The client was asked to end before we were started, but a slow exit (or a virus scanner
    // reading the new file) can hold the target a little longer than the fixed wait.
    for (int waited = 0; result.status == MoveStatus::InUse && waited < kMoveRetryBudgetMs;
         waited += kMoveRetryIntervalMs) {
        sleep(kMoveRetryIntervalMs);
        result = move(src, dst);
    }
    return result;
}

std::string quotedLiteral(std::string_view text) {
    std::string out = "\"";
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '"': out += "\\\""; break;
            case '\a': out += "\\a"; break;
            case '\b': out += "\\b"; break;
            case '\t': out += "\\t"; break;
            case '\n': out += "\\n"; break;
            case '\v': out += "\\v"; break;
            case '\f': out += "\\f"; break;
            case '\r': out += "\\r"; break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    out += "\\x" + ascii::hex(std::string_view(&ch, 1));
                } else {
                    out += ch;  // non-ASCII UTF-8 bytes are kept as they are
                }
        }
    }
    out += '"';
    return out;
}

std::string moveErrorText(const std::string& systemText, const std::string& src, const std::string& dst) {
    std::string text = systemText;
    if (!text.empty() && text.back() != '\n') text += '\n';
    text += "Additional info: (" + quotedLiteral(src) + ", " + quotedLiteral(dst) + ")";
    return text;
}

namespace {

// Until the new client proves its release (the store is gone, or names a later install), ends
// (then the previous release comes back and its client starts) or kWatchMs have passed. A client
// whose start was excused (the update server failed its check) ended for no fault of its release.
void watchClient(SupportSystem& system, release::Trial& trial) {
    const std::unique_ptr<StartedClient> client = system.startClientWatched();
    for (int waited = 0; waited < kWatchMs; waited += kWatchPollMs) {
        const std::optional<int> status = client->waitForExit(kWatchPollMs);
        // Looked at after the wait: a client that proved itself and then ended has removed the store.
        const release::Trial::Watch now = trial.watched();
        if (now == release::Trial::Watch::Settled) return;
        if (!status) continue;
        if (now == release::Trial::Watch::Excused) {
            system.log("hand-off: the new client ended for no fault of its release (the update server); it stays");
            return;
        }
        const std::string reason = *status < 0 ? "the new client could not be started"
                                               : "the new client ended before it proved itself (exit status " +
                                                     std::to_string(*status) + ")";
        for (int tries = 1; tries <= kRollbackTries; ++tries) {
            if (tries > 1) system.sleepMs(kRollbackRetryMs);
            if (trial.failed(reason)) break;
        }
        system.startClient();
        return;
    }
}

}  // namespace

void finishUpdate(SupportSystem& system) {
    system.sleepMs(kWaitBeforeMoveMs);
    const std::string folder = system.programFolder();
    const std::string src = folder + system.separator() + std::string(updater::kHandOffFile);
    const std::string dst = folder + system.separator() + kClientProgram;
    release::Trial trial(release::Store(folder, config::kFile, system.separator(),
                                        [&system](std::string_view text) { system.log(std::string(text)); }));
    // The client being replaced belongs to the previous release: kept before it is overwritten.
    const bool onTrial = trial.handingOver(kClientProgram);
    const MoveResult moved = moveWithRetry(
        [&](const std::string& s, const std::string& d) { return system.moveFile(s, d); },
        [&](int ms) { system.sleepMs(ms); }, src, dst);
    if (moved.status != MoveStatus::Moved) {
        // The old client stays in place and is not started: the operator reads the message.
        system.showMessage(moveErrorText(moved.systemText, src, dst));
        return;
    }
    system.sleepMs(kWaitAfterMoveMs);
    if (onTrial) watchClient(system, trial);
    else system.startClient();
}

}  // namespace tovi::support
