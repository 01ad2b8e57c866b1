// The update window with a fake windowing layer: the one-shot timer, the status messages from the
// worker, the completion paths and the failure hand-over to the UI thread.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "client/splash.h"
#include "tests/unit/client_fakes.h"

namespace {

// What the worker posted; the test delivers it on its own thread, as the UI thread would.
struct Post {
    tovi::ui::NativeHandle window;
    unsigned message;
    std::uintptr_t first;
    std::intptr_t second;
};
std::mutex postMutex;
std::condition_variable postArrived;
std::vector<Post> posts;
bool refusePosts = false;

}  // namespace

namespace tovi::ui {
bool postAppMessage(NativeHandle window, unsigned message, std::uintptr_t first, std::intptr_t second) {
    std::lock_guard lock(postMutex);
    if (refusePosts || !window) return false;
    posts.push_back({window, message, first, second});
    postArrived.notify_all();
    return true;
}
}  // namespace tovi::ui

namespace tovi::client {
namespace {

using testing::calls;
using testing::FakeWindow;

class SplashTest : public ::testing::Test {
protected:
    void SetUp() override {
        calls().clear();
        {
            std::lock_guard lock(postMutex);
            posts.clear();
            refusePosts = false;
        }
        engine = testing::fakeEngine();
        shell = std::make_unique<Shell>(app, engine, devices, [](const std::string&) {});
        shell->create([] { return std::string("page"); });
    }

    void start(UpdateCheck check) {
        splash = std::make_unique<Splash>(app, *shell, pool, shared, std::move(check), [this] { ++handOffs; });
        const unsigned char jpeg[] = {0xFF, 0xD8, 0xFF, 0xD9};
        splash->create(jpeg);
        window = app.frames.at(1);
        label = app.labels.at(0);
    }

    // Waits for the worker's next post and delivers it to the window it was posted to.
    void deliverNextPost() {
        Post p{};
        {
            std::unique_lock lock(postMutex);
            ASSERT_TRUE(postArrived.wait_for(lock, std::chrono::seconds(10), [] { return !posts.empty(); }));
            p = posts.front();
            posts.erase(posts.begin());
        }
        ui::EventArgs args;
        args.message = p.message;
        args.first = p.first;
        args.second = p.second;
        static_cast<FakeWindow*>(p.window)->fire(ui::Event::AppMessage, args);
    }

    void status(const std::string* name) {
        ui::EventArgs args;
        args.message = kUpdateStatusMessage;
        args.second = reinterpret_cast<std::intptr_t>(name);
        window->fire(ui::Event::AppMessage, args);
    }

    testing::FakeApplication app;
    EngineApi engine;
    testing::RecordingDeviceHost devices;
    std::unique_ptr<Shell> shell;
    std::shared_ptr<UpdateShared> shared = std::make_shared<UpdateShared>();
    WorkerPool pool{2, [this](std::exception_ptr e) { postUpdateFailure(*shared, std::move(e)); }};
    std::unique_ptr<Splash> splash;
    FakeWindow* window = nullptr;
    FakeWindow* label = nullptr;
    int handOffs = 0;
};

TEST_F(SplashTest, AppearsOnTopWithThePictureSizeAndStartsItsOneShotTimer) {
    start([](StatusSink& s, std::atomic<bool>&) { s.completed(); });
    const ui::FrameOptions& o = app.options.at(1);
    EXPECT_TRUE(o.style.popup && o.style.border && o.style.systemMenu && o.style.topmost);
    EXPECT_EQ(o.bounds.width, 440);
    EXPECT_EQ(o.bounds.height, 260);
    EXPECT_EQ(o.title, "");
    EXPECT_EQ(app.decodedBytes, 4u);
    EXPECT_EQ(label->texts, std::vector<std::string>{"正在加载，请稍候……"});
    EXPECT_EQ(label->rect, (ui::Rect{20, 225, 300, 20}));
    EXPECT_TRUE(app.labelTransparent);
    EXPECT_EQ(shared->window.load(), window->handle());
    EXPECT_TRUE(window->visible());
    EXPECT_EQ(window->state, ui::ShowCommand::Normal);
    const std::vector<std::string> tail(calls().end() - 3, calls().end());
    EXPECT_EQ(tail, (std::vector<std::string>{"frame1.centre 11", "frame1.show 1", "frame1.timer 1 100"}));
}

TEST_F(SplashTest, TheFirstTickStopsTheTimerAndTheCheckedCompletionRevealsWithThePage) {
    start([](StatusSink& s, std::atomic<bool>&) { s.completed(); });
    window->fire(ui::Event::Timer, ui::EventArgs{0, 1, 0, nullptr});
    EXPECT_EQ(calls().back(), "frame1.killtimer 1");
    deliverNextPost();
    EXPECT_TRUE(shell->updateCheckDone());
    EXPECT_TRUE(window->alive());  // the page is not ready yet
    EXPECT_FALSE(shell->mainFrame().visible());
    EXPECT_EQ(label->texts.size(), 1u);  // the text never changed
    testing::engineState().ready(testing::fakeView(), testing::engineState().readyContext);
    EXPECT_FALSE(window->alive());
    EXPECT_TRUE(shell->mainFrame().visible());
}

TEST_F(SplashTest, ProgressShowsEachDisplayNameAfterABlankLine) {
    start([](StatusSink&, std::atomic<bool>&) {});
    const std::vector<std::pair<std::string, std::string>> table = {
        {"a.dll", "正在更新 a.dll"}, {"sub\\b.exe", "正在更新 sub\\b.exe"}, {"", "正在更新 "}};
    for (const auto& [name, shown] : table) {
        label->texts.clear();
        status(new std::string(name));  // owned by the message, freed by the receiver
        EXPECT_EQ(label->texts, (std::vector<std::string>{std::string(31, ' '), shown})) << name;
    }
    EXPECT_FALSE(shell->updateCheckDone());
    EXPECT_TRUE(window->alive());
}

TEST_F(SplashTest, TheWorkersProgressTextTravelsAsACopy) {
    start([](StatusSink& s, std::atomic<bool>&) {
        std::string name = "tovipos.exe";
        s.progress(name);
        name = "changed after the post";
        s.completed();
    });
    window->fire(ui::Event::Timer, ui::EventArgs{0, 1, 0, nullptr});
    deliverNextPost();
    EXPECT_EQ(label->texts.back(), "正在更新 tovipos.exe");
    deliverNextPost();
    EXPECT_TRUE(shell->updateCheckDone());
}

TEST_F(SplashTest, ANewClientClosesBothWindowsAndHandsOff) {
    start([](StatusSink& s, std::atomic<bool>& pending) {
        pending = true;
        s.completed();
    });
    testing::engineState().ready(testing::fakeView(), testing::engineState().readyContext);
    window->fire(ui::Event::Timer, ui::EventArgs{0, 1, 0, nullptr});
    deliverNextPost();
    EXPECT_EQ(handOffs, 1);
    EXPECT_FALSE(window->alive());
    EXPECT_FALSE(static_cast<FakeWindow&>(shell->mainFrame()).alive());
    EXPECT_FALSE(shell->updateCheckDone());  // the reveal never runs
}

TEST_F(SplashTest, AFailedCheckBecomesThePendingErrorOnTheUiThread) {
    start([](StatusSink& s, std::atomic<bool>&) {
        s.progress("a.dll");
        throw Error("Unable to open file", "IOError");
    });
    window->fire(ui::Event::Timer, ui::EventArgs{0, 1, 0, nullptr});
    deliverNextPost();  // progress
    EXPECT_FALSE(app.failed());
    deliverNextPost();  // failure
    ASSERT_TRUE(app.failed());
    EXPECT_EQ(unhandledErrorText(app.pending), "Error: unhandled exception: Unable to open file [IOError]\n");
    EXPECT_FALSE(shell->updateCheckDone());
}

TEST_F(SplashTest, TheWindowCannotBeClosedBeforeTheCheckHasCompleted) {
    start([](StatusSink& s, std::atomic<bool>&) { s.completed(); });
    window->close();
    EXPECT_TRUE(window->alive());
    window->fire(ui::Event::Timer, ui::EventArgs{0, 1, 0, nullptr});
    deliverNextPost();
    window->close();
    EXPECT_FALSE(window->alive());
}

TEST_F(SplashTest, APostThatFailsLeavesNoLeak) {
    // Under ASan a leaked copy would fail the run.
    {
        std::lock_guard lock(postMutex);
        refusePosts = true;
    }
    PostingStatusSink sink(reinterpret_cast<ui::NativeHandle>(1));
    sink.progress("x");
    UpdateShared s;
    postUpdateFailure(s, std::make_exception_ptr(Error("x", "IOError")));
    std::lock_guard lock(postMutex);
    EXPECT_TRUE(posts.empty());
}

TEST(WorkerPoolSize, IsTheProcessorCountWithinOneTo256) {
    const unsigned n = WorkerPool::defaultSize();
    EXPECT_GE(n, 1u);
    EXPECT_LE(n, 256u);
}

TEST(WorkerPoolExit, DoesNotWaitForATaskThatIsStillRunning) {
    auto release = std::make_shared<std::atomic<bool>>(false);
    auto started = std::make_shared<std::atomic<bool>>(false);
    {
        WorkerPool pool(3, [](std::exception_ptr) {});
        pool.submit([release, started] {
            *started = true;
            while (!*release) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        });
        while (!*started) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }  // returns although the task still runs
    *release = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

}  // namespace
}  // namespace tovi::client
