// Runs a function when the scope ends, unless disarmed first: for work that must be undone on every
// way out of a function (a return, a throw) until the function has succeeded.
#pragma once

#include <utility>

namespace tovi {

template <typename F>
class ScopeGuard {
public:
    explicit ScopeGuard(F f) : f_(std::move(f)) {}
    ~ScopeGuard() {
        if (armed_) f_();
    }
    ScopeGuard(const ScopeGuard&) = delete;
    ScopeGuard& operator=(const ScopeGuard&) = delete;
    void disarm() noexcept { armed_ = false; }

private:
    F f_;
    bool armed_ = true;
};

}  // namespace tovi
