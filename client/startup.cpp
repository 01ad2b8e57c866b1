// tovipos: the start-up sequence, the message loop, and the one catch barrier, shared by the thin
// platform mains.

#include <memory>
#include <vector>

#include "client/config.h"
#include "client/engine.h"
#include "client/problem_boxes.h"
#include "client/log.h"
#include "client/requests.h"
#include "client/shell.h"
#include "client/splash.h"
#include "client/sockets.h"
#include "client/splash_image.h"
#include "client/startup.h"
#include "client/worker_pool.h"
#include "common/entry.h"
#include "common/error.h"
#include "common/messages.h"
#include "common/paths.h"
#include "update/release_store.h"
#include "update/trial.h"
#include "common/process.h"
#include "common/support_protocol.h"
#include "ui/ui.h"

#include "update/handoff.h"
#include "net/openssl.h"
#include "update/rollout.h"
#include "update/update_check.h"

namespace tovi::client {

namespace {

// Passes the check's reports on, and logs its outcome once it has completed.
class LoggingStatusSink : public StatusSink {
public:
    LoggingStatusSink(StatusSink& next, release::Trial& trial) : next_(next), trial_(trial) {}
    void progress(const std::string& displayName) override {
        updated_.push_back(displayName);
        next_.progress(displayName);
    }
    void completed() override {
        // Before the window hears of it: the proof may follow at once on the UI thread.
        trial_.checkCompleted();
        logEvent(updateOutcomeText(updated_));
        next_.completed();
    }
    void note(const std::string& text) override { logEvent(text); }

private:
    StatusSink& next_;
    release::Trial& trial_;
    std::vector<std::string> updated_;
};

// The guard of the page's functions, from the origins that config.ini trusts; what start-up says
// about them.
OriginGuard originGuard(const EngineApi& engine, TrustedOrigins trusted) {
    for (const std::string& problem : trusted.problems) {
        logEvent(problem);
        writeStderrLine(problem);
    }
    if (!engine.jsCallerOrigin) {
        logEvent("the web engine cannot name the origin of a call: every frame of every site reaches the page's "
                 "functions");
    } else {
        std::string list;
        for (const std::string& origin : trusted.origins) list += " " + origin;
        logEvent("the page's functions answer" + (list.empty() ? std::string(" no origin") : list));
    }
    return OriginGuard(std::move(trusted.origins), [](const std::string& line) { logEvent(line); });
}

int runClient() {
    // 0. The release on trial, fed by this start's events: the start itself here, the check's
    //    outcome on its worker, the proof on the UI thread. Shared with the worker: a check still
    //    running at exit keeps it.
    const std::string folder = programFolder();
    const auto trial = std::make_shared<release::Trial>(
        release::Store(folder, config::kFile, pathSeparator(), [](std::string_view text) { logEvent(text); }));
    //    Before anything is loaded: an install cut short (a power cut) is put back, whatever the
    //    moment of the cut (until then the files may be a mix of two releases, the engine library
    //    missing); an update that an earlier run left half-way is finished (with the hand-off file
    //    present, the files of the new release are in place but the client is not, and this
    //    executable must not run next to them); a release that failed its trial starts is rolled
    //    back. Otherwise this start counts against a release on trial until it proves it, so that
    //    a start that dies loading the release's own files (the engine, OpenSSL) counts too.
    switch (trial->started([&folder] { return updater::handOffPending(folder, programPath(), pathSeparator()); })) {
        case release::Trial::Next::StartClient:
            // This process is a client of the release that was put back: the one in place takes over.
            startProgram(desktopWindow(), kClientProgram, "", kShowNormal);
            return 0;
        case release::Trial::Next::FinishHandOff:
            // Without the support program every start would end here in silence.
            if (!fileExists(folder + pathSeparator() + kSupportProgram)) {
                throw ioError(std::string("an update waits for its hand-off, but ") + kSupportProgram +
                              " is missing from the program folder");
            }
            startProgram(desktopWindow(), kSupportProgram, protocol::updateCommandLine(), kShowHidden);
            return 0;
        case release::Trial::Next::Run:
            break;
    }

    // 1. The platform libraries come through the import table; OpenSSL is bound by name here
    //    (Windows: the -1_1 / -3 DLL names; Linux: libcrypto.so.3, libssl.so.3), although only the
    //    update check uses it: the client does not start without it.
    auto ssl = std::make_shared<const updater::OpenSsl>(updater::loadOpenSsl());
    // The till's own identity for staged rollouts, made by the first start that lacks one.
    updater::ensureTillId(ssl->crypto, config::kFile, [](const std::string& text) { logEvent(text); });
    // 2. The web engine.
    const Engine engine = loadEngine();

    // 3. The sockets layer (Windows Sockets 1.1), and the worker pool that will run the check.
    startSockets();
    auto shared = std::make_shared<UpdateShared>();
    WorkerPool pool(WorkerPool::defaultSize(),
                    [shared](std::exception_ptr error) { postUpdateFailure(*shared, std::move(error)); });

    // 4. The windowing layer (on Linux it opens the display, before any window or view), the
    //    hidden main window, its view and the functions offered to the page.
    const auto app = ui::createApplication();
    SystemDeviceHost devices;
    // A refused request's box is modal to the main window once it exists; the loop keeps running
    // while the operator reads it.
    ProblemBoxes problems(*app, "系统提示");
    Shell shell(*app, engine.api, devices, [&problems](const std::string& text) { problems.show(text); },
                [](const FinishedRequest& r) { logEvent(finishedRequestText(r)); });
    TrustedOrigins trusted;
    shell.create([&trusted] {
        const IniFile config = loadConfig();
        std::string url = startUrl(config);
        trusted = trustedOrigins(url, trustedOriginsList(config));
        return url;
    });
    shell.guardOrigins(originGuard(engine.api, std::move(trusted)));
    if (!shell.reportsResults()) {
        logEvent("the web engine cannot run scripts: the page gets no result of its device requests, and every "
                 "failure is shown in a box");
    }
    problems.setOwner(&shell.mainFrame());
    shell.setOnProven([trial] { trial->proven(); });

    // 5. The update window; its first timer tick starts the check.
    // The OpenSSL table and the trial are shared with the worker: a check still running at exit
    // keeps them.
    UpdateCheck check = [ssl, trial](UpdateReports& sink, std::atomic<bool>& selfUpdatePending) {
        LoggingStatusSink logged(sink, *trial);
        try {
            updater::runUpdateCheck(*ssl, logged, selfUpdatePending);
        } catch (...) {
            const std::exception_ptr error = std::current_exception();
            // Counted against the release on trial only when it is its own fault; the update
            // server's, the network's or the disk's excuse the start.
            trial->checkFailed(error);
            bool offline = false;
            try {
                offline = offlineStart(loadConfig());
            } catch (...) {
            }
            logEvent("update failed: " + errorSummary(error) +
                     (offline ? "; offline start: the installed release starts" : ""));
            if (!offline) throw;
            try {
                std::rethrow_exception(error);
            } catch (const std::exception& e) {
                sink.failedOffline(e.what());
            } catch (...) {
                sink.failedOffline("unknown error");
            }
        }
    };
    Splash splash(*app, shell, pool, shared, std::move(check),
                  [] { startProgram(desktopWindow(), kSupportProgram, protocol::updateCommandLine(), kShowHidden); });
    splash.create({kSplashJpeg, kSplashJpegSize});

    // 6. The loop, until no top-level window is left. An error that a handler left pending is
    //    reported while the windows are still on screen.
    if (const std::exception_ptr error = app->run()) {
        logEvent("error: " + errorSummary(error));
        reportUnhandledError(error);
        return 1;
    }
    // 7. Everything is released on the way out; the shell first works off the device requests
    //    still queued, one support program after the other.
    return 0;
}

}  // namespace

int clientMain() {
    logEvent("start tovipos " TOVI_VERSION);
    const int status = runReportingErrors([] {
        try {
            return runClient();
        } catch (...) {
            logEvent("error: " + errorSummary(std::current_exception()));
            throw;
        }
    });
    logEvent("exit, status " + std::to_string(status));
    return status;
}

}  // namespace tovi::client
