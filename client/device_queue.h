// The device requests of the page, carried out one at a time in the page's order on one worker
// thread: a request's job file is written only after the support program of the one before has
// ended, so a second receipt can never overwrite the first before it is printed.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
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
// The longest a support program that tells its outcome may run: long enough for a box that
// waits for the operator. Then it is ended, and the request has timed out.
inline constexpr int kSupportProgramTimeoutMs = 10 * 60 * 1000;

struct DeviceRequest {
    std::string kind;  // the page's function: "toviPrint", "toviRijie", "toviPrintRaw", "toviOpencash", ...
    DeviceCommand command;
    // For the page's result (none of it without an engine that runs scripts): its place, its id,
    // whether the support program tells its outcome (and shows no box when the page reports it),
    // and when a request not started by then is dropped.
    std::uint64_t ticket = 0;
    std::optional<std::string> id{};
    bool tellOutcome = false;
    bool pageReports = false;
    std::optional<std::chrono::steady_clock::time_point> deadline{};
};

// How one request ended.
struct FinishedRequest {
    std::string kind{};
    std::string commandLine{};
    std::optional<int> exitCode{};  // the support program's; none when it never ran
    // Why it never ran (the job file could not be written, the program could not be started);
    // empty when it ran. Message and kind as in an Error.
    std::string problem{};
    std::string problemKind{};
    std::uint64_t ticket = 0;
    std::optional<std::string> id{};
    bool tellOutcome = false;
    bool pageReports = false;
    std::string refusal{};        // BAD_REQUEST or QUEUE_FULL: refused before it was queued
    bool expired = false;        // dropped at its deadline: nothing written, nothing started
    bool jobFileFailed = false;  // the problem is its job file's
    bool timedOut = false;       // the support program was ended after kSupportProgramTimeoutMs
    std::string output{};        // what the support program wrote on its standard output
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
