// The trial of a release: every start under it counted before anything of it is loaded, its
// proof, a start excused for the update server's faults, and the put-back of an install cut short.
#pragma once

#include <exception>
#include <string>
#include <vector>

#include "update/release_store.h"

namespace tovi::release {

// A start under the store's release, as beginStart found it.
struct TrialStart {
    bool onTrial = false;
    bool provable = false;  // the release was whole when this start began: it may prove it
    std::string tag;
    std::string version;
    // What the release changed since the last release that proved itself (replaced and added):
    // whether a fault of this start is the release's own depends on it.
    std::vector<std::string> changed;
    // A rollback put the client's executable back: this process runs the failed one and must
    // start the restored client instead of going on.
    bool restart = false;
};

// First of all at a start, before a pending hand-off and before anything of a release is loaded:
// an install cut short (a power cut, a kill at any of its moves) leaves a mix of two releases. It
// is put back to the last release that proved itself, recorded as failed nowhere; the check then
// installs the new release again. True when the client's executable was put back: this process
// must start it instead of going on.
bool putBackCutInstall(const Store& store);

// Before anything of the release is loaded: rolls back when that is due, otherwise counts this
// start as a failed trial start until prove or excuse says otherwise. While another process holds
// the install lock (it installs or rolls back now), the start is neither counted nor on trial.
TrialStart beginStart(const Store& store);

// The release has proven itself in this start: the store goes. True when it was removed now.
bool prove(const Store& store, const TrialStart& start);

// This start ended for no fault of the release (the update server or the network): it is not
// counted, and it is recorded as excused.
void excuse(const Store& store, const TrialStart& start);

}  // namespace tovi::release

namespace tovi::updater {

// Whether a failed check is the release on trial's own fault rather than the update server's, the
// network's or the disk's. changed: the files it changed since the last release that proved itself
// (relative, "/"-separated). A certificate that no longer verifies, or a TLS set-up that fails, is
// its fault only when it changed what verifies: the certificate bundle or an OpenSSL library. A
// server certificate that expires, or one from another CA, is otherwise the server's outage.
bool blamesRelease(const std::exception_ptr& error, const std::vector<std::string>& changed);

}  // namespace tovi::updater
