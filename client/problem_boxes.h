// The boxes that tell the operator about refused device requests.
//
// A box's own loop keeps dispatching the page's calls, so a page that sends bad requests while a
// box is up would open one box inside the other, each a level deeper on the stack. Here boxes come
// one at a time instead: one asked for while another is up waits for it, and at most kMaxWaiting
// wait; beyond that a problem is only logged. Every problem is logged at once (on Linux, one line
// on standard error).
#pragma once

#include <cstddef>
#include <deque>
#include <utility>
#include <string>

#include "ui/ui.h"

namespace tovi::client {

class ProblemBoxes {
public:
    static constexpr std::size_t kMaxWaiting = 16;

    ProblemBoxes(ui::Application& app, std::string caption) : app_(app), caption_(std::move(caption)) {}

    // The window that owns the boxes (the main window once it exists; null: none).
    void setOwner(ui::Window* owner) { owner_ = owner; }

    // Logs the problem and shows it; returns once every box this call shows has been dismissed
    // (at once when a box is up already: the outer call shows this one after it).
    void show(const std::string& text);

private:
    ui::Application& app_;
    std::string caption_;
    ui::Window* owner_ = nullptr;
    std::deque<std::string> waiting_;
    bool showing_ = false;
};

}  // namespace tovi::client
