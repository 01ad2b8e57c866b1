// Runs one update check natively, the way the client's worker does, and prints what the update
// window would be told:
//   progress <display name>     (one line per download)
//   log <text>                  (what the client would log: a release held back, the previous one)
//   completed self-update=<0|1>
// A failure prints the unhandled-error text on standard error and exits with status 1.
//
//   update_runner [--config FILE] [--folder PROGRAM_FOLDER] [--idle-ms N] [--keys HEX;HEX...] [--start 1]
//   update_runner [--client 1 [--idle-ms N]]
// Without options: config.ini in the current folder, the runner's own folder, 60 s, and the keys
// built in (as the client has them); with options, only the keys that --keys gives.
// With --start 1 it first does what the client does at start: when an unfinished hand-off is
// found it prints "hand-off pending" and ends with status 0 instead of checking.
//
// Without arguments it is the client's start without windows, as the support program starts it
// (--client 1: the same, hand-offs left to the caller): a trial start, the engine bound, the check
// (offlineStart: "offline start: <error>", status 0), then "proved" when it proved a release.
// TOVI_STOP_AT_STEP: a step of the install ("place node.dll") where the process ends at once with
// status 9 (a power cut).
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "client/config.h"
#include "client/engine.h"
#include "update/handoff.h"
#include "update/rollout.h"
#include "update/update_check.h"
#include "update/release_store.h"
#include "update/trial.h"
#include "common/support_protocol.h"
#include "update/config_ini.h"
#include "common/error.h"
#include "common/paths.h"
#include "common/process.h"

namespace {

class PrintingSink : public tovi::updater::StatusSink {
public:
    explicit PrintingSink(std::atomic<bool>& flag) : flag_(flag) {}
    void progress(const std::string& displayName) override { std::cout << "progress " << displayName << std::endl; }
    void completed() override { std::cout << "completed self-update=" << (flag_ ? 1 : 0) << std::endl; }
    void note(const std::string& text) override { std::cout << "log " << text << std::endl; }

private:
    std::atomic<bool>& flag_;
};

// TOVI_STOP_AT_STEP: the install's step where the process ends at once (a power cut).
tovi::release::Store::StepHook stepHookFromEnvironment() {
    const char* stop = std::getenv("TOVI_STOP_AT_STEP");
    if (!stop) return {};
    return [step = std::string(stop)](std::string_view name) {
        if (name == step) std::_Exit(9);
    };
}

// handsOff: the hand-off is started here, as the client does it.
int standInForTheClient(std::chrono::milliseconds idleTimeout, bool handsOff) {
    const std::string folder = tovi::programFolder();
    const char sep = tovi::pathSeparator();
    tovi::release::Trial trial(tovi::release::Store(folder, tovi::config::kFile, sep,
                                                    [](std::string_view text) { std::cout << "log " << text << std::endl; }));
    switch (trial.started([&] { return tovi::updater::handOffPending(folder, tovi::programPath(), sep); })) {
        case tovi::release::Trial::Next::FinishHandOff:
            if (handsOff) tovi::startProgram(nullptr, tovi::kSupportProgram, tovi::protocol::updateCommandLine(), tovi::kShowHidden);
            std::cout << "hand-off pending" << std::endl;
            return 0;
        case tovi::release::Trial::Next::StartClient:
            std::cout << "restart" << std::endl;
            if (handsOff) tovi::startProgram(nullptr, tovi::kClientProgram, "", tovi::kShowNormal);
            return 0;
        case tovi::release::Trial::Next::Run:
            break;
    }
    const tovi::updater::OpenSsl ssl = tovi::updater::loadOpenSsl();
    tovi::updater::ensureTillId(ssl.crypto, tovi::config::kFile, [](const std::string& t) { std::cout << "log " << t << std::endl; });
    const tovi::client::Engine engine = tovi::client::loadEngine();
    std::atomic<bool> selfUpdatePending{false};
    PrintingSink sink(selfUpdatePending);
    tovi::updater::UpdateSettings settings;
    settings.programFolder = folder;
    settings.idleTimeout = idleTimeout;
    settings.updateKeys = tovi::updater::parseUpdateKeys(tovi::updater::builtInUpdateKeys());
    settings.stepHook = stepHookFromEnvironment();
    try {
        tovi::updater::runUpdateCheck(ssl, sink, selfUpdatePending, settings);
    } catch (...) {
        const std::exception_ptr error = std::current_exception();
        trial.checkFailed(error);
        if (!tovi::client::offlineStart(tovi::client::loadConfig())) throw;
        std::cout << "offline start: " << tovi::errorSummary(error) << std::endl;
        return 0;
    }
    if (selfUpdatePending) {
        if (handsOff) tovi::startProgram(nullptr, tovi::kSupportProgram, tovi::protocol::updateCommandLine(), tovi::kShowHidden);
        return 0;
    }
    trial.checkCompleted();
    if (trial.proven()) std::cout << "proved" << std::endl;
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        if (argc == 1) return standInForTheClient(std::chrono::seconds(60), true);
        tovi::updater::UpdateSettings settings;
        settings.programFolder = tovi::programFolder();
        settings.stepHook = stepHookFromEnvironment();
        bool custom = false;
        bool start = false;
        bool client = false;
        for (int i = 1; i + 1 < argc; i += 2) {
            const std::string opt = argv[i];
            const std::string value = argv[i + 1];
            if (opt == "--config") settings.configPath = value;
            else if (opt == "--folder") settings.programFolder = value;
            else if (opt == "--idle-ms") settings.idleTimeout = std::chrono::milliseconds(std::stol(value));
            else if (opt == "--keys") settings.updateKeys = tovi::updater::parseUpdateKeys(value);
            else if (opt == "--start") start = value == "1";
            else if (opt == "--client") client = value == "1";
            else {
                std::cerr << "unknown option " << opt << "\n";
                return 2;
            }
            custom = true;
        }
        if (client) return standInForTheClient(settings.idleTimeout, false);
        const char sep = tovi::pathSeparator();
        if (start && tovi::updater::handOffPending(settings.programFolder,
                                                   settings.programFolder + sep + tovi::kClientProgram, sep)) {
            std::cout << "hand-off pending" << std::endl;
            return 0;
        }
        const tovi::updater::OpenSsl ssl = tovi::updater::loadOpenSsl();
        std::atomic<bool> selfUpdatePending{false};
        PrintingSink sink(selfUpdatePending);
        if (custom) {
            tovi::updater::runUpdateCheck(ssl, sink, selfUpdatePending, settings);
        } else {
            tovi::updater::runUpdateCheck(ssl, sink, selfUpdatePending);
        }
        return 0;
    } catch (...) {
        std::cerr << tovi::unhandledErrorText(std::current_exception()) << std::flush;
        return 1;
    }
}
