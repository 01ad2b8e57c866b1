#include "client/worker_pool.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace tovi::client {

// Shared with the workers, so that a worker left running past the pool's end still has it.
struct WorkerPool::State {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> tasks;
    std::vector<bool> busy;
    bool stopping = false;
    std::function<void(std::exception_ptr)> onFailure;
};

WorkerPool::WorkerPool(unsigned threads, std::function<void(std::exception_ptr)> onFailure)
    : state_(std::make_shared<State>()) {
    state_->onFailure = std::move(onFailure);
    state_->busy.assign(threads, false);
    for (unsigned i = 0; i < threads; ++i) {
        threads_.emplace_back([state = state_, i] {
            std::unique_lock lock(state->mutex);
            for (;;) {
                state->wake.wait(lock, [&] { return state->stopping || !state->tasks.empty(); });
                if (state->tasks.empty()) return;
                std::function<void()> task = std::move(state->tasks.front());
                state->tasks.pop_front();
                state->busy[i] = true;
                lock.unlock();
                try {
                    task();
                } catch (...) {
                    if (state->onFailure) state->onFailure(std::current_exception());
                }
                lock.lock();
                state->busy[i] = false;
            }
        });
    }
}

WorkerPool::~WorkerPool() {
    std::vector<bool> busy;
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
        state_->tasks.clear();
        busy = state_->busy;
    }
    state_->wake.notify_all();
    for (std::size_t i = 0; i < threads_.size(); ++i) {
        if (busy[i]) threads_[i].detach();
        else threads_[i].join();
    }
}

void WorkerPool::submit(std::function<void()> task) {
    {
        std::lock_guard lock(state_->mutex);
        state_->tasks.push_back(std::move(task));
    }
    state_->wake.notify_one();
}

unsigned WorkerPool::defaultSize() { return std::clamp(std::thread::hardware_concurrency(), 1u, 256u); }

}  // namespace tovi::client
