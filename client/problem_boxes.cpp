#include "client/problem_boxes.h"

#include "common/messages.h"

namespace tovi::client {

void ProblemBoxes::show(const std::string& text) {
    logErrorMessage(caption_, text);
    if (waiting_.size() >= kMaxWaiting) return;
    waiting_.push_back(text);
    if (showing_) return;
    showing_ = true;
    // Reset however the loop ends: an error out of the box leaves the next call able to show.
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{showing_};
    while (!waiting_.empty()) {
        const std::string next = std::move(waiting_.front());
        waiting_.pop_front();
        app_.showErrorBox(owner_, caption_, next);
    }
}

}  // namespace tovi::client
