// The client shell: the hidden main window with the engine's view, the eight functions offered to
// the page, and the reveal once both the page and the update check are done.
//
// Everything here runs on the UI thread, inside the engine's or the windowing layer's dispatch.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "client/engine.h"
#include "client/requests.h"
#include "ui/ui.h"

namespace tovi::client {

inline constexpr int kMainWidth = 500;
inline constexpr int kMainHeight = 325;

// A request from another program (the installer, before it replaces the files) to end the client
// as toviWinClose does: an application message of this number posted to the main window (on
// Windows WM_APP + this number, to a window of class "wFrame"). A WM_CLOSE from outside would only
// destroy the window and leave the view and the process behind. The packaging reads the number
// from this line.
inline constexpr unsigned kCloseRequestMessage = 0x3C10;

class Shell {
public:
    // showProblem: tells the operator that the page sent a request the client refused.
    Shell(ui::Application& app, const EngineApi& engine, DeviceHost& devices,
          std::function<void(const std::string&)> showProblem);
    ~Shell();
    Shell(const Shell&) = delete;
    Shell& operator=(const Shell&) = delete;

    // The creation sequence: the hidden main window, the engine and its hidden view, the start
    // page (readStartUrl runs after the view exists; its failure ends start-up), the handlers and
    // the eight functions. Only one Shell may be created per process: the functions offered to the
    // page reach it through one process-wide pointer.
    void create(const std::function<std::string()>& readStartUrl);

    ui::Window& mainFrame() { return *mainFrame_; }
    wkeWebView webView() const { return webView_; }
    bool pageReady() const { return pageReady_; }
    bool updateCheckDone() const { return updateCheckDone_; }

    void onDocumentReady();
    void onTitleChanged(wkeWebView view);
    // The update check ended without a new client to install; updateWindow is closed at the reveal.
    void onUpdateCheckDone(ui::Window& updateWindow);
    void revealMainWindow();

    void winMin();
    void winMax();
    void winClose();
    void screenfull();
    // A device request: the page's argument text in, the job file and the support program out.
    // A refused request only shows the problem; a job file that cannot be written is an error.
    void deviceRequest(const std::string& argument, DeviceCommand (*build)(std::string_view));

    // The text shown for a refused request.
    static std::string problemText(const RequestError& error);

private:
    bool mainFrameGone() const;

    ui::Application& app_;
    const EngineApi& engine_;
    DeviceHost& devices_;
    std::function<void(const std::string&)> showProblem_;
    std::unique_ptr<ui::Window> mainFrame_;
    wkeWebView webView_ = nullptr;
    bool viewDestroyed_ = false;
    bool pageReady_ = false;
    bool updateCheckDone_ = false;
    ui::Window* updateWindow_ = nullptr;
};

}  // namespace tovi::client
