// The trial of a release, as one object fed by the events of one process: a start of the client
// (started, then the check's outcome, then its proof) or the support program's hand-off of a new
// client (handingOver, then its watch, then failed when the client dies). The store keeps the state
// between processes (release_store.h); the rules of the trial are here: what counts a start, what
// excuses it, what proves the release and when it goes back.
#pragma once

#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "update/release_store.h"

namespace tovi::release {

class Trial {
public:
    explicit Trial(Store store);
    Trial(const Trial&) = delete;
    Trial& operator=(const Trial&) = delete;

    // What a start does after started().
    enum class Next {
        Run,            // goes on: loads the release and checks for updates
        StartClient,    // a put-back restored the client's executable: this process runs the other
                        // release's, and the one in place takes over
        FinishHandOff,  // a new client waits for its hand-off: the support program takes over
    };

    // The client starts: first of all, before anything of a release is loaded. In this order, under
    // the install lock and from one read of the state:
    // - an install cut short (a power cut, a kill at any of its moves) leaves a mix of two releases:
    //   it is put back to the last release that proved itself, recorded as failed nowhere, and the
    //   check installs the new release again;
    // - a pending hand-off (handOffPending) ends the start uncounted: the new client's start counts;
    // - a release that failed its trial starts, or whose rollback was cut short, is rolled back;
    // - otherwise a release on trial counts this start as failed until it is proven or excused.
    // While another process holds the install lock (it installs or rolls back now), the store is
    // left alone and this start is not on trial.
    Next started(const std::function<bool()>& handOffPending);

    // The update check completed (on its worker): from now on this start may prove the release.
    void checkCompleted();

    // The update check failed with error. It is the release's own fault only when the release
    // changed what the error comes from: a certificate that no longer verifies, or a TLS set-up
    // that fails, when it changed the certificate bundle or an OpenSSL library; a library that
    // lacks what the check needs (Ed25519, TLS 1.3 suites). Anything else (the update server, the
    // network, the disk, a server certificate that expired) excuses the start: it is not counted,
    // and it is recorded as excused, so that a watcher does not blame the new client for ending.
    void checkFailed(const std::exception_ptr& error);

    // This start proved the release (its check completed, and its page was shown or its loop ran a
    // minute): the store goes. True when it was removed now.
    bool proven();

    // The support program, before it moves a new client into place: reads the state. With a
    // release on trial, the client about to be replaced is the previous release's: it is kept in
    // the store first. True when a release is on trial: the new client is then watched.
    bool handingOver(const std::string& clientFile);

    // While the new client is watched: whether its release is still on trial (Open), has proven
    // itself or been replaced by a later install (Settled), or whether a start of it was excused
    // since the hand-off (Excused: it may end for no fault of its release).
    enum class Watch { Open, Settled, Excused };
    Watch watched() const;

    // The new client ended before it proved its release: the previous release is put back. False
    // when that could not be done yet (a file still held, the lock taken): the caller tries again.
    bool failed(const std::string& reason);

private:
    // The rollback of an install cut short, whose state is cut: afterwards what the store holds
    // (nothing once it is whole). True when the client's executable was put back.
    bool putBackCutInstall(const InstallLock& lock, std::optional<State>& cut);

    Store store_;
    // Events come from the UI thread (the proof) and the check's worker (its outcome).
    mutable std::mutex mutex_;
    bool onTrial_ = false;
    bool checkCompleted_ = false;
    std::string tag_;        // the install on trial: a later install is another trial
    int excusedStarts_ = 0;  // as the state had it when this process read it
    // What the release changed since the last release that proved itself (replaced and added):
    // whether a fault of this start is the release's own depends on it.
    std::vector<std::string> changed_;
};

}  // namespace tovi::release
