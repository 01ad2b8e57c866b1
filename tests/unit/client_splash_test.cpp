// The update window with a fake windowing layer: the one-shot timer, the functions the worker
// posts, the completion paths and the failure hand-over to the UI thread.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "client/splash.h"
#include "tests/unit/client_fakes.h"

namespace tovi::client {
namespace {

using testing::calls;
using testing::FakeWindow;

class SplashTest : public ::testing::Test {
protected:
    void SetUp() override {
        calls().clear();
        {
            std::lock_guard lock(testing::posted().mutex);
            testing::posted().calls.clear();
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

    // Runs the worker's next post, as the UI thread would; it goes to the update window.
    void deliverNextPost() { EXPECT_EQ(testing::posted().runNext(app), window->handle()); }

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

// An offline start: the check's failure is shown on the splash, and
// after a moment the installed release is revealed; such a start proves no release.
TEST_F(SplashTest, AFailedCheckInAnOfflineStartShowsItsReasonThenReveals) {
    bool proven = false;
    shell->setOnProven([&] { proven = true; });
    start([](UpdateReports& s, std::atomic<bool>&) { s.failedOffline("cannot connect to updates.example"); });
    window->fire(ui::Event::Timer, ui::EventArgs{0, kUpdateTimerId, 0, nullptr});
    deliverNextPost();
    EXPECT_EQ(label->texts.back(), std::string(kOfflinePrefix) + "cannot connect to updates.example");
    testing::engineState().ready(testing::fakeView(), testing::engineState().readyContext);
    EXPECT_TRUE(window->alive());  // the reason stays up until its timer of 3 s
    window->fire(ui::Event::Timer, ui::EventArgs{0, kOfflineTimerId, 0, nullptr});
    EXPECT_FALSE(window->alive());
    EXPECT_TRUE(shell->mainFrame().visible());
    EXPECT_FALSE(proven);
}

TEST_F(SplashTest, ProgressShowsEachDisplayNameAfterABlankLine) {
    start([](StatusSink&, std::atomic<bool>&) {});
    const std::vector<std::pair<std::string, std::string>> table = {
        {"a.dll", "正在更新 a.dll"}, {"sub\\b.exe", "正在更新 sub\\b.exe"}, {"", "正在更新 "}};
    for (const auto& [name, shown] : table) {
        label->texts.clear();
        splash->onUpdateProgress(name);
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
