#include "client/device_queue.h"

#include <exception>
#include <new>

#include "common/support_protocol.h"

namespace tovi::client {

DeviceQueue::DeviceQueue(DeviceHost& host, std::size_t bound, std::function<void(const FinishedRequest&)> onFinished)
    : host_(host), bound_(bound), onFinished_(std::move(onFinished)), worker_([this] { work(); }) {}

DeviceQueue::~DeviceQueue() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    worker_.join();
}

bool DeviceQueue::submit(DeviceRequest request) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_ || waiting_.size() + (running_ ? 1 : 0) >= bound_) return false;
        waiting_.push_back(std::move(request));
    }
    wake_.notify_one();
    return true;
}

void DeviceQueue::waitIdle() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return waiting_.empty() && !running_; });
}

void DeviceQueue::work() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
        // Stopping still works off what is queued.
        if (waiting_.empty()) return;
        const DeviceRequest request = std::move(waiting_.front());
        waiting_.pop_front();
        running_ = true;
        lock.unlock();
        const FinishedRequest finished = carryOut(request);
        try {
            if (onFinished_) onFinished_(finished);
        } catch (...) {
            // The report is best effort; the queue goes on with the next request.
        }
        lock.lock();
        running_ = false;
        if (waiting_.empty()) idle_.notify_all();
    }
}

// Thread body: nothing escapes. A job file that cannot be written starts nothing.
FinishedRequest DeviceQueue::carryOut(const DeviceRequest& request) {
    FinishedRequest f;
    try {
        f.kind = request.kind;
        f.commandLine = request.command.commandLine;
        f.ticket = request.ticket;
        f.id = request.id;
        f.tellOutcome = request.tellOutcome;
        f.pageReports = request.pageReports;
        // A receipt that waited too long (behind a box, a slow printer) is not printed late.
        if (request.deadline && std::chrono::steady_clock::now() >= *request.deadline) {
            f.expired = true;
            return f;
        }
        f.jobFileFailed = true;
        if (request.command.job) host_.writeJobFile(*request.command.job);
        f.jobFileFailed = false;
        RunOptions options;
        if (request.tellOutcome) {
            options.captureOutput = true;
            options.variable = std::string(protocol::kReportVariable) + "=" +
                               std::string(request.pageReports ? protocol::kReportPage : protocol::kReportBoxes);
            options.timeoutMs = kSupportProgramTimeoutMs;
        }
        const ProgramResult result = host_.runSupportProgram(request.command.commandLine, options);
        if (result.started) {
            f.exitCode = result.exitCode;
            f.timedOut = result.timedOut;
            f.output = result.output;
        } else {
            f.problem = result.error;
            f.problemKind = "OSError";
        }
    } catch (const Error& e) {
        f.problem = e.what();
        f.problemKind = e.kind();
    } catch (const std::bad_alloc&) {
        f.problem = "out of memory";
        f.problemKind = "MemoryError";
    } catch (const std::exception& e) {
        f.problem = e.what();
        f.problemKind = "Exception";
    }
    return f;
}

}  // namespace tovi::client
