// The device queue: one request at a time in the page's order, each job file written only after
// the previous support program ended, a bound, and the queued requests worked off at the end.
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>

#include "client/device_queue.h"

namespace tovi::client {
namespace {

// A host whose support programs run until the test opens the gate; it records every step and
// how many programs ran at once.
class GatedHost : public DeviceHost {
public:
    void writeJobFile(const JobFile& job) override {
        std::lock_guard lock(mutex_);
        if (job.name == "unwritable") throw ioError("cannot write unwritable: Permission denied");
        steps.push_back("write " + job.bytes);
    }
    ProgramResult runSupportProgram(const std::string& commandLine, const RunOptions&) override {
        std::unique_lock lock(mutex_);
        steps.push_back("start " + commandLine);
        ++running_;
        maxRunning = std::max(maxRunning, running_);
        changed_.notify_all();
        changed_.wait(lock, [&] { return open_; });
        --running_;
        steps.push_back("end " + commandLine);
        if (commandLine == "missing") return {false, 0, "cannot start tovipos_print: No such file or directory"};
        return {true, static_cast<int>(commandLine.size()), {}};
    }
    void open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    // Waits until a support program is running (held at the gate).
    void waitForRunning() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return running_ > 0; });
    }

    std::vector<std::string> steps;
    int maxRunning = 0;

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = false;
    int running_ = 0;
};

DeviceRequest queuedReceipt(const std::string& text) {
    return {"toviPrint", {JobFile{"PrintOut1.txt", text}, "print PrintOut1.txt USB TRUE TRUE 3 " + text}};
}

struct Finished {
    std::vector<FinishedRequest> list;
    std::mutex mutex;
    auto callback() {
        return [this](const FinishedRequest& f) {
            std::lock_guard lock(mutex);
            list.push_back(f);
        };
    }
};

TEST(DeviceQueue, RunsOneAtATimeInOrderAndWritesAJobOnlyAfterThePreviousProgramEnded) {
    GatedHost host;
    Finished finished;
    DeviceQueue queue(host, kDeviceQueueBound, finished.callback());
    ASSERT_TRUE(queue.submit(queuedReceipt("first")));
    ASSERT_TRUE(queue.submit({"toviOpencash", {std::nullopt, "opencash USB"}}));
    ASSERT_TRUE(queue.submit(queuedReceipt("second")));
    ASSERT_TRUE(queue.submit({"toviPrint", {JobFile{"unwritable", "x"}, "print unwritable"}}));
    ASSERT_TRUE(queue.submit({"toviDisplay", {std::nullopt, "missing"}}));
    ASSERT_TRUE(queue.submit({"toviDisplay", {std::nullopt, "display 2 1 COM3 9600"}}));
    host.waitForRunning();
    host.open();
    queue.waitIdle();

    EXPECT_EQ(host.maxRunning, 1);
    EXPECT_EQ(host.steps, (std::vector<std::string>{
                              "write first", "start print PrintOut1.txt USB TRUE TRUE 3 first",
                              "end print PrintOut1.txt USB TRUE TRUE 3 first",
                              "start opencash USB", "end opencash USB",
                              "write second", "start print PrintOut1.txt USB TRUE TRUE 3 second",
                              "end print PrintOut1.txt USB TRUE TRUE 3 second",
                              // the unwritable job starts nothing; the next request still runs
                              "start missing", "end missing",
                              "start display 2 1 COM3 9600", "end display 2 1 COM3 9600"}));

    struct Want {
        std::string kind, commandLine;
        std::optional<int> exitCode;
        std::string problemKind;
    };
    const Want want[] = {
        {"toviPrint", "print PrintOut1.txt USB TRUE TRUE 3 first", 41, ""},
        {"toviOpencash", "opencash USB", 12, ""},
        {"toviPrint", "print PrintOut1.txt USB TRUE TRUE 3 second", 42, ""},
        {"toviPrint", "print unwritable", std::nullopt, "IOError"},
        {"toviDisplay", "missing", std::nullopt, "OSError"},
        {"toviDisplay", "display 2 1 COM3 9600", 21, ""},
    };
    ASSERT_EQ(finished.list.size(), std::size(want));
    for (std::size_t i = 0; i < std::size(want); ++i) {
        const FinishedRequest& f = finished.list[i];
        EXPECT_EQ(f.kind, want[i].kind) << i;
        EXPECT_EQ(f.commandLine, want[i].commandLine) << i;
        EXPECT_EQ(f.exitCode, want[i].exitCode) << i;
        EXPECT_EQ(f.problemKind, want[i].problemKind) << i;
        EXPECT_EQ(f.problem.empty(), want[i].problemKind.empty()) << i;
    }
    EXPECT_EQ(finished.list[3].problem, "cannot write unwritable: Permission denied");
}

TEST(DeviceQueue, RefusesBeyondTheBoundCountingTheRunningRequest) {
    GatedHost host;
    DeviceQueue queue(host, 3, {});
    ASSERT_TRUE(queue.submit(queuedReceipt("1")));
    host.waitForRunning();
    EXPECT_TRUE(queue.submit(queuedReceipt("2")));
    EXPECT_TRUE(queue.submit(queuedReceipt("3")));
    EXPECT_FALSE(queue.submit(queuedReceipt("4")));
    host.open();
    queue.waitIdle();
    // Room again once worked off.
    EXPECT_TRUE(queue.submit(queuedReceipt("5")));
    queue.waitIdle();
    EXPECT_EQ(std::count_if(host.steps.begin(), host.steps.end(), [](const std::string& s) { return s.starts_with("write"); }),
              4);
}

TEST(DeviceQueue, TheEndWorksOffWhatIsQueued) {
    GatedHost host;
    Finished finished;
    {
        DeviceQueue queue(host, kDeviceQueueBound, finished.callback());
        for (const char* text : {"a", "b", "c"}) ASSERT_TRUE(queue.submit(queuedReceipt(text)));
        host.waitForRunning();
        host.open();
    }
    ASSERT_EQ(finished.list.size(), 3u);
    EXPECT_EQ(finished.list[2].commandLine, "print PrintOut1.txt USB TRUE TRUE 3 c");
}

}  // namespace
}  // namespace tovi::client
