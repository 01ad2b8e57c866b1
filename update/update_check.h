// The update check: fetch the manifest "list.txt" from the update folder, bring every listed file
// that is out of date up to date, record the release version in config.ini.
//
// Runs on a worker thread and touches no window: it reports through a StatusSink, whose
// implementation posts the messages to the update window. Every failure is thrown (tovi::Error);
// nothing is caught here.
#pragma once

#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include "net/openssl.h"
#include "update/release_store.h"
#include "update/signature.h"

namespace tovi::updater {

class StatusSink {
public:
    virtual ~StatusSink() = default;
    // About to download the file with this display name (may be empty).
    virtual void progress(const std::string& displayName) = 0;
    // The run ended without failure; selfUpdatePending is already set by then.
    virtual void completed() = 0;
    // Something worth a line in the log (a release held back or refused, the previous release).
    virtual void note(const std::string& /*text*/) {}
};

struct UpdateSettings {
    // config.ini: read at the start, rewritten (version) at the end.
    std::string configPath = "config.ini";
    // Where the update files go and where "cacert.pem" is looked for first; no trailing separator.
    std::string programFolder;
    // A connection that delivers nothing for this long fails the run.
    std::chrono::milliseconds idleTimeout{std::chrono::seconds(60)};
    // Keys one of which must have signed list.txt ("list.txt.sig"); none: lists are not signed.
    std::vector<PublicKey> updateKeys;
    // When the signature does not verify, list.txt and list.txt.sig are fetched once more after
    // this wait: a publish may have been half-way.
    std::chrono::milliseconds signatureRetryDelay{std::chrono::seconds(1)};
    // Called with each step of the install before it changes the disk (tests: a power cut there).
    release::Store::StepHook stepHook;
};

// "https://" + default host + "/tovimis/update/": the update folder when config.ini names none.
std::string defaultUpdateUrl();

// The client's run: config.ini in the current folder, the running program's folder, the keys
// built into the program, and the process's one TLS context.
void runUpdateCheck(const OpenSsl& ssl, StatusSink& sink, std::atomic<bool>& selfUpdatePending);

// The same with explicit settings and a TLS context of its own (for tests and tools).
void runUpdateCheck(const OpenSsl& ssl, StatusSink& sink, std::atomic<bool>& selfUpdatePending,
                    const UpdateSettings& settings);

}  // namespace tovi::updater
