// A pool of worker threads waiting for tasks. The client gives it one task, the update check.
#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace tovi::client {

class WorkerPool {
public:
    // onFailure runs on the worker thread with what a task threw (the thread body's catch
    // barrier); it must not throw.
    WorkerPool(unsigned threads, std::function<void(std::exception_ptr)> onFailure);
    // Joins the idle workers. A worker still busy with a task (an update check waiting on the
    // network has no time-out) is left to finish on its own: exit must not wait for it.
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    void submit(std::function<void()> task);

    // One worker per processor, between 1 and 256.
    static unsigned defaultSize();

private:
    struct State;
    std::shared_ptr<State> state_;
    std::vector<std::thread> threads_;
};

}  // namespace tovi::client
