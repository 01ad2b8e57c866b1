// The blame of a failed check, apart from the rest of the trial: the support program, which never
// checks, then links none of the networking that the decision names.
#include "update/trial.h"

#include <algorithm>

#include "common/error.h"
#include "common/file_names.h"
#include "net/openssl.h"
#include "net/tls.h"

namespace tovi::updater {

bool blamesRelease(const std::exception_ptr& error, const std::vector<std::string>& changed) {
    if (!error) return false;
    try {
        std::rethrow_exception(error);
    } catch (const ReleaseFault&) {
        // Only files beside the client are loaded from a release: the bundle and the libraries.
        std::vector<std::string> verifying = cryptoLibraryNames();
        for (const auto& name : sslLibraryNames()) verifying.push_back(name);
        verifying.emplace_back(kCaFileName);
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

}  // namespace tovi::updater
