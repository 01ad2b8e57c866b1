// The device requests of the page, carried out one at a time in the page's order on one worker
// thread: a request's job file is written only after the support program of the one before has
// ended, so a second receipt can never overwrite the first before it is printed.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "client/requests.h"

namespace tovi::client {

// Requests waiting or running at most; one more is refused, never dropped silently.
inline constexpr std::size_t kDeviceQueueBound = 32;

struct DeviceRequest {
    std::string kind;  // the page's function: "toviPrint", "toviRijie", "toviPrintRaw", "toviOpencash", ...
    DeviceCommand command;
};

// How one request ended.
struct FinishedRequest {
    std::string kind;
    std::string commandLine;
    std::optional<int> exitCode;  // the support program's; none when it never ran
    // Why it never ran (the job file could not be written, the program could not be started);
    // empty when it ran. Message and kind as in an Error.
    std::string problem;
    std::string problemKind;
};

class DeviceQueue {
public:
    // onFinished runs on the worker after each request, in order; it must not throw and must not
    // wait for the UI thread (post to it instead).
    DeviceQueue(DeviceHost& host, std::size_t bound, std::function<void(const FinishedRequest&)> onFinished);
    // Works off every request still queued, then ends the worker: closing the window does not
    // lose a receipt. A support program waiting for its operator therefore holds the exit too.
    ~DeviceQueue();
    DeviceQueue(const DeviceQueue&) = delete;
    DeviceQueue& operator=(const DeviceQueue&) = delete;

    // Queues the request; false (and nothing queued) when `bound` requests are waiting or running.
    bool submit(DeviceRequest request);
    // Waits until nothing is waiting or running.
    void waitIdle();

private:
    void work();
    FinishedRequest carryOut(const DeviceRequest& request);

    DeviceHost& host_;
    const std::size_t bound_;
    std::function<void(const FinishedRequest&)> onFinished_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<DeviceRequest> waiting_;
    bool running_ = false;
    bool stopping_ = false;
    std::thread worker_;  // last: started once everything above exists
};

}  // namespace tovi::client
