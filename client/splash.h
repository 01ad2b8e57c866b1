// The update progress window: an always-on-top splash picture with one status line. Its first
// timer tick hands the update check to a worker; the worker reports back only by posted messages.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "client/shell.h"
#include "client/updater/update_check.h"
#include "client/worker_pool.h"
#include "ui/ui.h"

namespace tovi::client {

// What the update check reports to the window, from the worker thread.
using StatusSink = updater::StatusSink;

// Application messages of the update window (WM_APP + n on Windows).
inline constexpr unsigned kUpdateStatusMessage = 1;  // WM_UPDATE_STATUS
inline constexpr unsigned kUpdateFailedMessage = 2;  // the check failed; second owns an exception_ptr

inline constexpr unsigned kUpdateTimerId = 1;
inline constexpr unsigned kUpdateTimerMs = 100;
inline constexpr const char* kLoadingText = "正在加载，请稍候……";
inline constexpr const char* kUpdatingPrefix = "正在更新 ";
inline constexpr ui::Rect kStatusLabelBounds{20, 225, 300, 20};

// Shared by the UI thread and the worker, and kept alive by both: the worker may outlive the
// windows when the client exits during a check.
struct UpdateShared {
    std::atomic<bool> selfUpdatePending{false};
    std::atomic<ui::NativeHandle> window{nullptr};  // the update window, set before the timer starts
};

// Posts the progress and completion forms of WM_UPDATE_STATUS. A progress text travels as a heap
// copy owned by the message: the receiver frees it, or the sender when the post fails.
class PostingStatusSink : public StatusSink {
public:
    explicit PostingStatusSink(ui::NativeHandle window) : window_(window) {}
    void progress(const std::string& displayName) override;
    void completed() override;

private:
    ui::NativeHandle window_;
};

// Hands a failure of the check to the UI thread (the worker's catch barrier). Never throws.
void postUpdateFailure(const UpdateShared& shared, std::exception_ptr error) noexcept;

// The check itself, run on the worker.
using UpdateCheck = std::function<void(StatusSink& sink, std::atomic<bool>& selfUpdatePending)>;

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
    void onUpdateStatus(std::uintptr_t first, std::intptr_t second);

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
