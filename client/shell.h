// The client shell: the hidden main window with the engine's view, the ten functions offered to
// the page, and the reveal once both the page and the update check are done.
//
// Everything here runs on the UI thread, inside the engine's or the windowing layer's dispatch,
// except the device queue's worker, which reaches the UI thread only by posting to the main window.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "client/device_queue.h"
#include "client/engine.h"
#include "client/origins.h"
#include "client/requests.h"
#include "client/results.h"
#include "ui/ui.h"

namespace tovi::client {

inline constexpr int kMainWidth = 500;
inline constexpr int kMainHeight = 325;
// A release has proven itself when a start has completed its check and either revealed the page
// or run its loop this long with the engine bound.
inline constexpr unsigned kProofTimerId = 1;
inline constexpr unsigned kProofAfterMs = 60000;

// A request from another program (the installer, before it replaces the files) to end the client
// as toviWinClose does: an application message of this number posted to the main window (on
// Windows WM_APP + this number, to a window of class "wFrame"). A WM_CLOSE from outside would only
// destroy the window and leave the view and the process behind. The packaging reads the number
// from this line.
inline constexpr unsigned kCloseRequestMessage = 0x3C10;

class Shell {
public:
    // showProblem: tells the operator that a request of the page was refused or could not be
    // carried out (on the UI thread). onFinished: hears of every request the queue has worked off,
    // on the queue's worker (it must not throw).
    Shell(ui::Application& app, const EngineApi& engine, DeviceHost& devices,
          std::function<void(const std::string&)> showProblem,
          std::function<void(const FinishedRequest&)> onFinished = {});
    ~Shell();
    Shell(const Shell&) = delete;
    Shell& operator=(const Shell&) = delete;

    // The creation sequence: the hidden main window, the engine and its hidden view, the start
    // page (readStartUrl runs after the view exists; its failure ends start-up), the handlers and
    // the ten functions. Only one Shell may be created per process: the functions offered to the
    // page reach it through one process-wide pointer.
    void create(const std::function<std::string()>& readStartUrl);

    ui::Window& mainFrame() { return *mainFrame_; }
    wkeWebView webView() const { return webView_; }
    bool pageReady() const { return pageReady_; }
    bool updateCheckDone() const { return updateCheckDone_; }

    void onDocumentReady();
    void onTitleChanged(wkeWebView view);
    // The update check ended without a new client to install; updateWindow is closed at the reveal.
    // completed: the check itself succeeded (false: it failed and the client starts all the same).
    void onUpdateCheckDone(ui::Window& updateWindow, bool completed = true);
    // The loop has run kProofAfterMs with the engine bound.
    void onLoopMinute();
    // Called once, on the UI thread, when this start proves the installed release: its check
    // completed, and its page was ready or its loop ran a minute.
    void setOnProven(std::function<void()> onProven) { onProven_ = std::move(onProven); }
    void revealMainWindow();

    void winMin();
    void winMax();
    void winClose();
    void screenfull();
    // A device request: the page's argument text in, the request queued for the worker. A refused
    // request (malformed, or the queue full) only shows the problem; so does, later, a job file
    // that cannot be written or a support program that cannot be started. With an engine that runs
    // scripts each request also gets its result in the page, and one that asks the page to report
    // its failures ("report": "page") gets no box.
    void deviceRequest(const char* kind, const std::string& argument, DeviceCommand (*build)(std::string_view));
    // Waits until every queued device request has been carried out.
    void waitForDevices() { queue_.waitIdle(); }

    // The origins whose calls the page's functions answer, when the engine names each call's origin
    // (until this is called: none).
    void guardOrigins(OriginGuard guard) { origins_ = std::move(guard); }
    // Whether a call of function, whose execution state is state, comes from a trusted origin
    // (always, with an engine that cannot name it); a refusal is logged by the guard.
    bool admitsCaller(jsExecState state, const char* function);

    // The text shown for a refused request.
    static std::string problemText(const std::string& message, const std::string& kind) {
        return refusalText(message, kind);
    }
    // Whether the page gets a result for each device request (the engine runs scripts).
    bool reportsResults() const { return results_ != nullptr; }
    // The engine's answer to a script of the results.
    void onScriptDone(int ran, const char* origin);

private:
    bool mainFrameGone() const;
    void checkProven();
    // On the queue's worker.
    void requestFinished(const FinishedRequest& finished);
    // A request refused before it was queued: its box, its result, its log line.
    void refuse(const char* kind, std::uint64_t ticket, const RequestOptions& options, const std::string& code,
                const std::string& message, const std::string& errorKind);
    // Whether a main-frame document of origin may take results (trusting the start's redirect).
    bool trustsDocument(const std::string& origin);

    ui::Application& app_;
    const EngineApi& engine_;
    DeviceHost& devices_;
    std::function<void(const std::string&)> showProblem_;
    std::unique_ptr<ui::Window> mainFrame_;
    wkeWebView webView_ = nullptr;
    bool viewDestroyed_ = false;
    bool pageReady_ = false;
    bool updateCheckDone_ = false;
    bool checkCompleted_ = false;
    bool loopMinute_ = false;
    bool provenReported_ = false;
    std::function<void()> onProven_;
    ui::Window* updateWindow_ = nullptr;
    OriginGuard origins_;
    std::function<void(const FinishedRequest&)> onFinished_;
    std::unique_ptr<PageResults> results_;  // with an engine that runs scripts
    // Where the worker posts its problems; set once by create(), before any request.
    std::atomic<ui::NativeHandle> postTarget_{nullptr};
    // Last: destroyed first, it works off what is queued while everything it reports to exists.
    DeviceQueue queue_;
};

}  // namespace tovi::client
