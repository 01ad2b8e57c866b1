// The update progress window: an always-on-top splash picture with one status line. Its first
// timer tick hands the update check to a worker; the worker reports back only by functions posted
// to the window (ui::post), which run on the UI thread while the window exists.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "client/shell.h"
#include "update/update_check.h"
#include "client/worker_pool.h"
#include "ui/ui.h"

namespace tovi::client {

// What the update check reports to the window, from the worker thread.
using StatusSink = updater::StatusSink;

inline constexpr unsigned kUpdateTimerId = 1;
inline constexpr unsigned kUpdateTimerMs = 100;
inline constexpr const char* kLoadingText = "正在加载，请稍候……";
inline constexpr const char* kUpdatingPrefix = "正在更新 ";
inline constexpr ui::Rect kStatusLabelBounds{20, 225, 300, 20};
// With [base] offlineStart = true a failed check does not end the client: its reason stays on the
// splash this long, then the installed release starts.
inline constexpr unsigned kOfflineTimerId = 2;
inline constexpr unsigned kOfflineShowMs = 3000;
inline constexpr const char* kOfflinePrefix = "更新失败，启动已安装的版本：";

// Shared by the UI thread and the worker, and kept alive by both: the worker may outlive the
// windows when the client exits during a check.
struct UpdateShared {
    std::atomic<bool> selfUpdatePending{false};
    std::atomic<ui::NativeHandle> window{nullptr};  // the update window, set before the timer starts
};

class Splash;

// What the check reports to the splash: the updater's reports, and a failure that the client
// survives (offline start) with its reason.
class UpdateReports : public StatusSink {
public:
    virtual void failedOffline(const std::string& reason) = 0;
};

// Posts progress and completion to the splash's window; a progress text travels as a copy inside
// the posted function. splash is touched only by what runs on the UI thread, while its window
// exists.
class PostingStatusSink : public UpdateReports {
public:
    PostingStatusSink(ui::NativeHandle window, Splash& splash) : window_(window), splash_(splash) {}
    void progress(const std::string& displayName) override;
    void completed() override;
    void failedOffline(const std::string& reason) override;

private:
    ui::NativeHandle window_;
    Splash& splash_;
};

// Hands a failure of the check to the UI thread (the worker's catch barrier): rethrown there, it
// becomes the application's pending error. Never throws.
void postUpdateFailure(const UpdateShared& shared, std::exception_ptr error) noexcept;

// The check itself, run on the worker.
using UpdateCheck = std::function<void(UpdateReports& sink, std::atomic<bool>& selfUpdatePending)>;

class Splash {
public:
    // startHandOff starts the support program with the word "update", hidden.
    Splash(ui::Application& app, Shell& shell, WorkerPool& pool, std::shared_ptr<UpdateShared> shared,
           UpdateCheck check, std::function<void()> startHandOff);

    // Decodes the picture, creates and shows the window and starts its one-shot timer.
    void create(std::span<const unsigned char> jpeg);

    ui::Window& window() { return *window_; }
    ui::Window& statusLabel() { return *label_; }

    void onUpdateTimer();
    // A file of the update is being downloaded: its name is shown below the picture.
    void onUpdateProgress(const std::string& displayName);
    // The check has ended without error: hand-off to the support program, or the reveal.
    void onUpdateCompleted();
    // The check failed and the client starts all the same: the reason is shown for a moment, then
    // the installed release is revealed.
    void onUpdateFailedOffline(const std::string& reason);

private:
    ui::Application& app_;
    Shell& shell_;
    WorkerPool& pool_;
    std::shared_ptr<UpdateShared> shared_;
    UpdateCheck check_;
    std::function<void()> startHandOff_;
    std::unique_ptr<ui::Picture> picture_;
    std::unique_ptr<ui::Window> window_;
    std::unique_ptr<ui::Window> label_;
};

}  // namespace tovi::client
