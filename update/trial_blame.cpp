// The blame of a failed check, apart from the rest of the trial: the support program, which never
// checks, then links none of the networking that the decision names.
#include "update/trial.h"

#include <algorithm>
#include <optional>

#include "common/error.h"
#include "common/file_names.h"
#include "net/openssl.h"
#include "net/tls.h"

namespace tovi::release {

namespace {

// Whether a failed check is the release's own fault rather than the update server's, the
// network's or the disk's. changed: the files it changed since the last release that proved itself
// (relative, "/"-separated).
bool blamesRelease(const std::exception_ptr& error, const std::vector<std::string>& changed) {
    if (!error) return false;
    try {
        std::rethrow_exception(error);
    } catch (const updater::ReleaseFault&) {
        // Only files beside the client are loaded from a release: the bundle and the libraries.
        std::vector<std::string> verifying = updater::cryptoLibraryNames();
        for (const auto& name : updater::sslLibraryNames()) verifying.push_back(name);
        verifying.emplace_back(updater::kCaFileName);
        return std::any_of(changed.begin(), changed.end(), [&](const std::string& path) {
            return std::any_of(verifying.begin(), verifying.end(),
                               [&](const std::string& name) { return sameFileName(path, name); });
        });
    } catch (const Error& e) {
        // A library of the release that lacks what the check needs (Ed25519, TLS 1.3 suites).
        return e.kind() == "LoadError" || e.kind() == "ImportError";
    } catch (...) {
        return false;
    }
}

}  // namespace

void Trial::checkFailed(const std::exception_ptr& error) {
    const std::lock_guard guard(mutex_);
    if (!onTrial_ || blamesRelease(error, changed_)) return;
    // Read again: the check ran meanwhile, and its own install, or another client's start, proof
    // or rollback, may have changed the state since this start read it.
    std::optional<State> s = store_.load();
    if (!s || s->installTag != tag_ || s->failedStarts == 0) return;
    --s->failedStarts;
    if (s->excusedStarts < kMaxFailedStarts) ++s->excusedStarts;
    store_.save(*s);
}

}  // namespace tovi::release
