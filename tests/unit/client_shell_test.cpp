// The shell with a fake window and a fake engine: the creation sequence, the reveal in every order,
// the window functions and the device bridge.
#include <gtest/gtest.h>

#include <algorithm>

#include "client/shell.h"
#include "tests/unit/client_fakes.h"

namespace tovi::ui {
// The windowing layer's post, for the shell's device queue and the splash's worker: kept until
// the test runs it.
bool post(NativeHandle window, std::function<void()> fn) {
    std::lock_guard lock(testing::posted().mutex);
    testing::posted().calls.emplace_back(window, std::move(fn));
    testing::posted().arrived.notify_all();
    return true;
}
}  // namespace tovi::ui

namespace tovi::client {
namespace {

using testing::calls;
using testing::engineState;
using testing::FakeCall;
using testing::FakeWindow;

class ShellTest : public ::testing::Test {
protected:
    void SetUp() override {
        calls().clear();
        engine = testing::fakeEngine();
        shell = std::make_unique<Shell>(app, engine, devices, [this](const std::string& t) { problems.push_back(t); });
        shell->create([] {
            calls().push_back("read url");
            return std::string("https://shop.example/pos2.html");
        });
        main = app.frames.back();
        calls().clear();
    }

    // Stands for the update window of the splash.
    FakeWindow splash{"splash"};

    jsValue callPage(const std::string& name, std::vector<std::string> args = {}, std::string origin = "null") {
        FakeCall call{std::move(args), std::move(origin)};
        return engineState().bound.at(name)(&call, nullptr);
    }
    void documentReady() { engineState().ready(testing::fakeView(), engineState().readyContext); }
    bool called(const std::string& what) const { return std::count(calls().begin(), calls().end(), what) > 0; }
    std::vector<std::string> callsAfter(std::size_t n) const { return {calls().begin() + static_cast<long>(n), calls().end()}; }

    testing::FakeApplication app;
    EngineApi engine;
    testing::RecordingDeviceHost devices;
    std::vector<std::string> problems;
    std::unique_ptr<Shell> shell;
    FakeWindow* main = nullptr;
};

// What the page and the till rely on, not the order of the calls that give it.
TEST(ShellCreation, LoadsTheStartPageInAHiddenWindowAndBindsTheTenFunctions) {
    calls().clear();
    testing::FakeApplication app;
    EngineApi engine = testing::fakeEngine();
    testing::RecordingDeviceHost devices;
    Shell shell(app, engine, devices, [](const std::string&) {});
    shell.create([] { return std::string(); });
    const auto has = [](const std::string& c) { return std::count(calls().begin(), calls().end(), c) > 0; };
    EXPECT_TRUE(has("wkeLoadURL "));  // an empty address goes in as an empty text
    EXPECT_FALSE(has("wkeShowWindow 1"));
    EXPECT_TRUE(has("frame0.timer 1 60000"));  // the loop's minute that proves a release on trial
    std::vector<std::string> bound = engineState().boundOrder;
    std::sort(bound.begin(), bound.end());
    EXPECT_EQ(bound, (std::vector<std::string>{"toviDeviceStatus", "toviDisplay", "toviOpencash", "toviPrint",
                                               "toviPrintRaw", "toviRijie", "toviScreenfull", "toviWinClose",
                                               "toviWinMax", "toviWinMin"}));

    const ui::FrameOptions& o = app.options.at(0);
    EXPECT_TRUE(o.style.popup && o.style.border && o.style.systemMenu);
    EXPECT_FALSE(o.style.topmost);
    EXPECT_FALSE(o.visible);
    EXPECT_EQ(o.title, "");
    EXPECT_EQ(o.bounds.width, 500);
    EXPECT_EQ(o.bounds.height, 325);
    EXPECT_FALSE(app.frames[0]->visible());
    EXPECT_EQ(engineState().readyContext, &shell);
}

TEST(ShellCreation, AStartPageThatCannotBeReadStopsBeforeTheViewLoadsAnything) {
    calls().clear();
    testing::FakeApplication app;
    EngineApi engine = testing::fakeEngine();
    testing::RecordingDeviceHost devices;
    Shell shell(app, engine, devices, [](const std::string&) {});
    EXPECT_THROW(shell.create([]() -> std::string { throw ioError("cannot open: config.ini"); }), Error);
    EXPECT_EQ(std::count_if(calls().begin(), calls().end(), [](const std::string& c) { return c.rfind("wkeLoadURL", 0) == 0; }), 0);
    EXPECT_TRUE(engineState().bound.empty());
}

// The reveal: the main window appears only once both the page and the check are done, in either
// order, and then the update window is gone and the focus is in the view.
struct RevealCase {
    const char* name;
    bool checkFirst;
};

class RevealOrder : public ShellTest, public ::testing::WithParamInterface<RevealCase> {};

TEST_P(RevealOrder, ShowsTheMainWindowOnlyAfterBoth) {
    if (GetParam().checkFirst) shell->onUpdateCheckDone(splash);
    else documentReady();
    EXPECT_FALSE(main->visible());
    EXPECT_TRUE(splash.alive());
    EXPECT_FALSE(called("wkeShowWindow 1"));

    const std::size_t before = calls().size();
    if (GetParam().checkFirst) documentReady();
    else shell->onUpdateCheckDone(splash);

    EXPECT_FALSE(splash.alive());
    EXPECT_TRUE(main->visible());
    EXPECT_EQ(main->state, ui::ShowCommand::Normal);
    // Close the update window, show, focus (whose handler passes it on), show and focus the view.
    const std::vector<std::string> expected = {"splash.close", "frame0.show 1", "frame0.focus", "wkeSetFocus",
                                               "wkeShowWindow 1", "wkeSetFocus"};
    EXPECT_EQ(callsAfter(before), expected);
}

INSTANTIATE_TEST_SUITE_P(Orders, RevealOrder,
                         ::testing::Values(RevealCase{"PageFirst", false}, RevealCase{"CheckFirst", true}),
                         [](const auto& p) { return std::string(p.param.name); });

// A start proves the installed release once its check has completed and its page was ready or its
// loop ran a minute, in any order and once; a failed check (an offline start) proves nothing.
// Events: c check completed, f check failed, r page ready, m a minute of the loop.
TEST_F(ShellTest, ProvesTheReleaseAfterACompletedCheckAndThePageOrAMinute) {
    for (const auto& [events, proofs] : std::vector<std::pair<std::string, int>>{
             {"rc", 1}, {"cr", 1}, {"mc", 1}, {"cm", 1}, {"crmr", 1}, {"c", 0}, {"rm", 0}, {"frm", 0}}) {
        shell.reset();  // one shell per process: the next one is made once this one is gone
        SetUp();
        int proven = 0;
        shell->setOnProven([&] { ++proven; });
        for (const char e : events) {
            if (e == 'c' || e == 'f') shell->onUpdateCheckDone(splash, e == 'c');
            if (e == 'r') documentReady();
            if (e == 'm') shell->onLoopMinute();
        }
        EXPECT_EQ(proven, proofs) << events;
    }
}

TEST_F(ShellTest, ALaterDocumentReadyRestoresAndRefocusesTheWindow) {
    documentReady();
    shell->onUpdateCheckDone(splash);
    callPage("toviWinMin");
    EXPECT_EQ(main->state, ui::ShowCommand::Minimize);
    const std::size_t before = calls().size();
    documentReady();
    EXPECT_EQ(main->state, ui::ShowCommand::Normal);
    const std::vector<std::string> expected = {"frame0.show 1", "frame0.focus", "wkeSetFocus", "wkeShowWindow 1",
                                               "wkeSetFocus"};
    EXPECT_EQ(callsAfter(before), expected);  // the update window is not closed twice
}

TEST_F(ShellTest, CloseBeforeTheRevealLeavesTheDestroyedWindowAndViewAlone) {
    documentReady();
    EXPECT_EQ(callPage("toviWinClose"), 0);
    EXPECT_FALSE(main->alive());
    EXPECT_TRUE(called("wkeDestroyWebWindow"));
    const std::size_t before = calls().size();
    shell->onUpdateCheckDone(splash);
    // Only the update window is closed, which ends the loop.
    EXPECT_EQ(callsAfter(before), std::vector<std::string>{"splash.close"});
    EXPECT_FALSE(splash.alive());
}

// A page that closes its window before it was ever ready: the update window must still go once the
// check is done, or the client would stay with the splash on screen for good.
TEST_F(ShellTest, ClosedBeforeReadyAndBeforeTheCheckTheCompletionClosesTheUpdateWindow) {
    callPage("toviWinClose");
    shell->onUpdateCheckDone(splash);
    EXPECT_FALSE(splash.alive());
    EXPECT_FALSE(called("wkeShowWindow 1"));
    EXPECT_FALSE(called("frame0.show 1"));
}

TEST_F(ShellTest, ClosedBeforeReadyButAfterTheCheckTheUpdateWindowGoesToo) {
    shell->onUpdateCheckDone(splash);
    EXPECT_TRUE(splash.alive());
    callPage("toviWinClose");
    EXPECT_FALSE(splash.alive());
    EXPECT_FALSE(called("wkeShowWindow 1"));
    EXPECT_FALSE(called("frame0.show 1"));
}

// The page's toviWinClose and another program's close request (the installer's) end the client
// the same way; another application message to the main window changes nothing.
struct CloseCase {
    const char* name;
    bool fromPage;
    unsigned message;
    bool closes;
};

class CloseWays : public ShellTest, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(CloseWays, DestroyTheViewBeforeClosingTheWindow) {
    const std::size_t before = calls().size();
    if (GetParam().fromPage) callPage("toviWinClose");
    else main->fire(ui::Event::AppMessage, {GetParam().message, 0, 0, nullptr});
    const std::vector<std::string> closing{"wkeDestroyWebWindow", "frame0.close"};
    EXPECT_EQ(callsAfter(before), GetParam().closes ? closing : std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Ways, CloseWays,
                         ::testing::Values(CloseCase{"Page", true, 0, true},
                                           CloseCase{"CloseRequest", false, kCloseRequestMessage, true},
                                           CloseCase{"OtherMessage", false, kCloseRequestMessage + 1, false}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(ShellTest, MinimiseAndMaximiseDoNothingWhileTheWindowIsHidden) {
    for (const char* fn : {"toviWinMin", "toviWinMax"}) {
        EXPECT_EQ(callPage(fn), 0) << fn;
        EXPECT_FALSE(main->visible()) << fn;
        EXPECT_EQ(main->state, ui::ShowCommand::Hide) << fn;
    }
}

TEST_F(ShellTest, MaximiseTwiceStaysMaximisedAndTheViewKeepsItsSize) {
    documentReady();
    shell->onUpdateCheckDone(splash);
    callPage("toviWinMax");
    callPage("toviWinMax");
    EXPECT_EQ(main->state, ui::ShowCommand::Maximize);
    EXPECT_FALSE(std::any_of(calls().begin(), calls().end(), [](const std::string& c) { return c.rfind("wkeResize", 0) == 0; }));
}

TEST_F(ShellTest, ScreenfullCoversThePrimaryScreenWithWindowAndView) {
    for (int i = 0; i < 2; ++i) {  // not a toggle
        callPage("toviScreenfull");
        EXPECT_TRUE(called("wkeResize 1920 1080"));
        EXPECT_EQ(main->rect, (ui::Rect{0, 0, 1920, 1080}));
    }
    EXPECT_EQ(main->state, ui::ShowCommand::Hide);  // the show state is not touched
}

TEST_F(ShellTest, TheTitleIsTheViewsCurrentTitle) {
    engineState().title = "收银台 POS";
    engineState().titleChanged(testing::fakeView(), engineState().titleContext, nullptr);
    ASSERT_FALSE(main->texts.empty());
    EXPECT_EQ(main->texts.back(), "收银台 POS");
}

TEST_F(ShellTest, FocusGivenToTheMainWindowGoesIntoTheView) {
    const std::size_t before = calls().size();
    main->fire(ui::Event::Focus, {});
    EXPECT_EQ(callsAfter(before), std::vector<std::string>{"wkeSetFocus"});
}

// The device bridge: what the page sends, what is written and started, what the operator is told.
struct BridgeCase {
    const char* name;
    const char* function;
    std::vector<std::string> arguments;
    std::vector<std::string> files;  // names written
    std::vector<std::string> started;
    bool problem;
};

class Bridge : public ShellTest, public ::testing::WithParamInterface<BridgeCase> {};

TEST_P(Bridge, CarriesOutOrRefusesTheRequest) {
    const BridgeCase& c = GetParam();
    EXPECT_EQ(callPage(c.function, c.arguments), 0);
    shell->waitForDevices();
    std::vector<std::string> names;
    for (const auto& f : devices.files) names.push_back(f.name);
    EXPECT_EQ(names, c.files);
    EXPECT_EQ(devices.started, c.started);
    EXPECT_EQ(problems.size(), c.problem ? 1u : 0u);
    EXPECT_FALSE(app.failed());  // a refused request does not end the client
    // Only the first argument is ever read.
    EXPECT_EQ(std::count(calls().begin(), calls().end(), "jsArg 0"), 1);
    EXPECT_EQ(std::count(calls().begin(), calls().end(), "jsArg 1"), 0);
}

const char* const kReceipt = R"({"interface":"USB","opencash":"TRUE","cut":"TRUE","blankrow":"3","data":"a"})";

INSTANTIATE_TEST_SUITE_P(
    Requests, Bridge,
    ::testing::Values(
        BridgeCase{"Print", "toviPrint", {kReceipt}, {"PrintOut1.txt"}, {"print PrintOut1.txt USB TRUE TRUE 3"}, false},
        BridgeCase{"PrintExtraArgumentIgnored", "toviPrint", {kReceipt, "{}"}, {"PrintOut1.txt"},
                   {"print PrintOut1.txt USB TRUE TRUE 3"}, false},
        BridgeCase{"Rijie", "toviRijie", {kReceipt}, {"RiJie.txt"}, {"print RiJie.txt USB TRUE TRUE 3"}, false},
        BridgeCase{"Opencash", "toviOpencash", {R"({"interface":"USB"})"}, {}, {"opencash USB"}, false},
        BridgeCase{"Display", "toviDisplay",
                   {R"({"interface":"COM3","display_type":"2","ysje":"12.50","baudrate":"9600"})"}, {},
                   {"display 2 12.50 COM3 9600"}, false},
        BridgeCase{"PrintRaw", "toviPrintRaw", {R"({"interface":"USB","data":"G0AA"})"}, {"PrintRaw1.bin"},
                   {"printraw PrintRaw1.bin USB"}, false},
        BridgeCase{"PrintRawNotBase64", "toviPrintRaw", {R"({"interface":"USB","data":"G0A"})"}, {}, {}, true},
        BridgeCase{"NotJson", "toviPrint", {"hello"}, {}, {}, true},
        BridgeCase{"NoArgument", "toviOpencash", {}, {}, {}, true},  // "undefined" is no JSON
        BridgeCase{"MissingData", "toviPrint", {R"({"interface":"USB","opencash":"T","cut":"T","blankrow":"3"})"}, {},
                   {}, true},
        BridgeCase{"MissingBaudrate", "toviDisplay", {R"({"interface":"COM3","display_type":"2","ysje":"1"})"}, {}, {},
                   true},
        BridgeCase{"PathForInterface", "toviPrint",
                   {R"({"interface":"config.ini","opencash":"F","cut":"F","blankrow":"0","data":"x"})"}, {}, {}, true},
        BridgeCase{"LineBreakInDisplayValue", "toviDisplay",
                   {R"({"interface":"COM3","display_type":"2","ysje":"1\nupdate","baudrate":"9600"})"}, {}, {}, true}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(ShellTest, ARefusedRequestNamesTheProblemAndTheNextRequestIsServed) {
    callPage("toviPrint", {R"({"interface":"USB"})"});
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0], "设备请求无效，未执行：missing key: opencash [KeyError]");
    callPage("toviOpencash", {R"({"interface":"USB"})"});
    shell->waitForDevices();
    EXPECT_EQ(devices.started, std::vector<std::string>{"opencash USB"});
}

TEST_F(ShellTest, AJobFileThatCannotBeWrittenIsShownOnTheUiThreadAndTheNextRequestIsServed) {
    testing::posted().calls.clear();
    devices.failWrites = true;
    EXPECT_EQ(callPage("toviPrint", {kReceipt}), 0);
    shell->waitForDevices();
    EXPECT_TRUE(devices.started.empty());
    EXPECT_FALSE(app.failed());
    // Nothing shown from the worker: the box waits for the UI thread, posted to the main window.
    EXPECT_TRUE(problems.empty());
    ASSERT_EQ(testing::posted().calls.size(), 1u);
    EXPECT_EQ(testing::posted().calls[0].first, main->handle());
    testing::posted().runAll();
    EXPECT_EQ(problems, std::vector<std::string>{
                            "设备请求无效，未执行：cannot write PrintOut1.txt: No space left on device [IOError]"});

    devices.failWrites = false;
    callPage("toviPrint", {kReceipt});
    shell->waitForDevices();
    EXPECT_EQ(devices.started, std::vector<std::string>{"print PrintOut1.txt USB TRUE TRUE 3"});
    EXPECT_TRUE(testing::posted().calls.empty());
}

// An engine that names each call's origin: every function of the table answers trusted origins
// only. A refused call reads nothing, does nothing and shows no box; the log hears of refusals once
// a second at most, those in between counted in the next line.
class CallerOrigin : public ShellTest {
protected:
    void SetUp() override {
        ShellTest::SetUp();
        engine.jsCallerOrigin = testing::fakeCallerOrigin;
        engine.wkeGetStartOrigin = testing::fakeStartOrigin;
        shell->guardOrigins(OriginGuard({"https://shop.example", "http://127.0.0.1:8080"},
                                        [this](const std::string& line) { logged.push_back(line); },
                                        [this] { return now; }));
    }
    std::vector<std::string> logged;
    std::chrono::steady_clock::time_point now{};
};

TEST_F(CallerOrigin, EveryFunctionAnswersTrustedOriginsOnly) {
    const std::pair<const char*, bool> origins[] = {
        {"https://shop.example", true}, {"HTTPS://Shop.Example:443", true}, {"http://127.0.0.1:8080", true},
        {"http://127.0.0.1:8081", false}, {"https://shop.example.evil.test", false}, {"null", false},
        {"", false}, {"file://", false}};
    for (const auto& [origin, admitted] : origins) {
        calls().clear();
        devices.started.clear();
        problems.clear();
        now += std::chrono::seconds(1);
        for (const std::string& fn : engineState().boundOrder) {
            if (fn == "toviWinClose") continue;  // would end the other calls
            EXPECT_EQ(callPage(fn, {R"({"interface":"USB"})"}, origin), 0) << fn;
        }
        shell->waitForDevices();
        EXPECT_EQ(calls().empty(), !admitted) << origin;  // no jsArg, no window change: nothing done
        EXPECT_EQ(devices.started,
                  (admitted ? std::vector<std::string>{"opencash USB", "status USB"} : std::vector<std::string>{}));
        EXPECT_EQ(problems.size(), admitted ? 4u : 0u) << origin;  // the four requests that lack keys
    }
}

TEST_F(CallerOrigin, RefusalsAreLoggedOnceASecondAndTheStartAddressesRedirectIsTrusted) {
    const std::string evil = R"({"interface":"USB"})";
    callPage("toviOpencash", {evil}, "http://evil.test");
    now += std::chrono::milliseconds(999);
    callPage("toviOpencash", {evil}, "http://evil.test");
    callPage("toviDisplay", {evil}, "null");
    now += std::chrono::milliseconds(1);
    callPage("toviPrint", {evil}, "null");
    // The first load ended at another origin: its calls are answered, and the log says so.
    engineState().startOrigin = "https://moved.example";
    callPage("toviOpencash", {evil}, "https://moved.example");
    shell->waitForDevices();
    EXPECT_EQ(devices.started, std::vector<std::string>{"opencash USB"});
    EXPECT_EQ(logged, (std::vector<std::string>{
                          "refused toviOpencash from http://evil.test: not a trusted origin",
                          "refused toviPrint from null: not a trusted origin (2 more refused since the last such line)",
                          "the page's functions also answer https://moved.example, reached by the start address"}));
}

}  // namespace
}  // namespace tovi::client
