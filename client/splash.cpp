#include "client/splash.h"

namespace tovi::client {

void PostingStatusSink::progress(const std::string& displayName) {
    ui::post(window_, [splash = &splash_, name = displayName] { splash->onUpdateProgress(name); });
}

void PostingStatusSink::completed() {
    ui::post(window_, [splash = &splash_] { splash->onUpdateCompleted(); });
}

void PostingStatusSink::failedOffline(const std::string& reason) {
    ui::post(window_, [splash = &splash_, reason] { splash->onUpdateFailedOffline(reason); });
}

void postUpdateFailure(const UpdateShared& shared, std::exception_ptr error) noexcept {
    try {
        ui::post(shared.window.load(), [error = std::move(error)] { std::rethrow_exception(error); });
    } catch (...) {
        // Out of memory while reporting: the window then simply never hears of the check again.
    }
}

Splash::Splash(ui::Application& app, Shell& shell, WorkerPool& pool, std::shared_ptr<UpdateShared> shared,
               UpdateCheck check, std::function<void()> startHandOff)
    : app_(app),
      shell_(shell),
      pool_(pool),
      shared_(std::move(shared)),
      check_(std::move(check)),
      startHandOff_(std::move(startHandOff)) {}

void Splash::create(std::span<const unsigned char> jpeg) {
    picture_ = app_.decodeJpeg(jpeg);
    const ui::Size size = picture_->size();
    ui::FrameOptions frame;
    frame.bounds = {0, 0, size.width, size.height};
    frame.style.popup = true;
    frame.style.border = true;
    frame.style.systemMenu = true;
    frame.style.topmost = true;
    window_ = app_.createFrame(frame);
    shared_->window.store(window_->handle());
    // Until the check has completed, the system's close command would leave the hidden main
    // window running with nothing on screen: the window cannot be closed before then.
    window_->setCloseLocked(true);
    label_ = app_.createLabel(*window_, kLoadingText, kStatusLabelBounds, true);

    window_->on(ui::Event::Paint, [this](const ui::EventArgs& args) {
        if (args.painter) args.painter->drawPicture(*picture_, 0, 0);
        label_->setBounds(kStatusLabelBounds);
    });
    window_->on(ui::Event::Timer, [this](const ui::EventArgs& args) {
        if (args.first == kUpdateTimerId) {
            onUpdateTimer();
        } else if (args.first == kOfflineTimerId) {
            window_->stopTimer(kOfflineTimerId);
            shell_.onUpdateCheckDone(*window_, false);
        }
    });
    window_->centre(true, true);
    window_->show(ui::ShowCommand::Normal);
    window_->startTimer(kUpdateTimerId, kUpdateTimerMs);
}

void Splash::onUpdateTimer() {
    window_->stopTimer(kUpdateTimerId);
    pool_.submit([this, shared = shared_, check = check_] {
        // The worker may outlive this object: it only posts to the window, and what it posts
        // reaches this object only while the window (which this object owns) exists.
        PostingStatusSink sink(shared->window.load(), *this);
        check(sink, shared->selfUpdatePending);
    });
}

void Splash::onUpdateProgress(const std::string& displayName) {
    // The blank line first: the transparent label then repaints the picture behind it.
    label_->setText(std::string(31, ' '));
    label_->setText(kUpdatingPrefix + displayName);
}

void Splash::onUpdateCompleted() {
    window_->setCloseLocked(false);
    if (shared_->selfUpdatePending.load()) {
        // Hand-off: both windows go, the support program swaps the executable and restarts us.
        window_->close();
        shell_.mainFrame().close();
        startHandOff_();
        return;
    }
    shell_.onUpdateCheckDone(*window_);
}

void Splash::onUpdateFailedOffline(const std::string& reason) {
    window_->setCloseLocked(false);
    label_->setText(std::string(31, ' '));
    label_->setText(kOfflinePrefix + reason);
    window_->startTimer(kOfflineTimerId, kOfflineShowMs);
}

}  // namespace tovi::client
