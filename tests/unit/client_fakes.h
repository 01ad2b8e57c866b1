// Fakes for the client's portable code: a windowing layer that records what is done to its windows,
// an engine table whose functions record their calls, a device host that records files and starts.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "client/engine.h"
#include "client/requests.h"
#include "ui/ui.h"

namespace tovi::testing {

// One log for everything, so that tests can check the order across windows and engine.
inline std::vector<std::string>& calls() {
    static std::vector<std::string> log;
    return log;
}

class FakeWindow : public ui::Window {
public:
    explicit FakeWindow(std::string name) : name_(std::move(name)) {}

    ui::NativeHandle handle() const override { return const_cast<FakeWindow*>(this); }
    bool alive() const override { return alive_; }
    void on(ui::Event event, ui::Handler handler) override { handlers[event].push_back(std::move(handler)); }
    void show(ui::ShowCommand command) override {
        if (!alive_) return;
        state = command;
        shown = command != ui::ShowCommand::Hide;
        calls().push_back(name_ + ".show " + std::to_string(static_cast<int>(command)));
    }
    bool visible() const override { return alive_ && shown; }
    void focus() override {
        if (!alive_) return;
        calls().push_back(name_ + ".focus");
        fire(ui::Event::Focus, {});  // as WM_SETFOCUS, whether it had the focus or not
    }
    void setText(std::string_view utf8) override {
        if (!alive_) return;
        texts.emplace_back(utf8);
    }
    void setBounds(ui::Rect b) override {
        if (!alive_) return;
        rect = b;
        calls().push_back(name_ + ".bounds");
    }
    ui::Rect bounds() const override { return rect; }
    void centre(bool h, bool v) override {
        calls().push_back(name_ + ".centre " + std::to_string(h) + std::to_string(v));
    }
    void setClipChildren(bool clip) override { calls().push_back(name_ + ".clip " + std::to_string(clip)); }
    void startTimer(unsigned id, unsigned ms) override {
        calls().push_back(name_ + ".timer " + std::to_string(id) + " " + std::to_string(ms));
    }
    void stopTimer(unsigned id) override { calls().push_back(name_ + ".killtimer " + std::to_string(id)); }
    void close() override {
        if (!alive_) return;
        calls().push_back(name_ + ".close");
        if (!closeLocked) alive_ = false;
    }
    void setCloseLocked(bool locked) override { closeLocked = locked; }

    void fire(ui::Event event, const ui::EventArgs& args) {
        auto it = handlers.find(event);
        if (it == handlers.end()) return;
        for (auto& h : it->second) h(args);
    }
    void destroy() { alive_ = false; }
    const std::string& name() const { return name_; }

    std::map<ui::Event, std::vector<ui::Handler>> handlers;
    ui::ShowCommand state = ui::ShowCommand::Hide;
    bool shown = false;
    bool closeLocked = false;
    ui::Rect rect;
    std::vector<std::string> texts;

private:
    std::string name_;
    bool alive_ = true;
};

class FakePicture : public ui::Picture {
public:
    ui::Size size() const override { return {440, 260}; }
};

class FakeApplication : public ui::Application {
public:
    std::unique_ptr<ui::Window> createFrame(const ui::FrameOptions& o) override {
        auto w = std::make_unique<FakeWindow>("frame" + std::to_string(frames.size()));
        w->rect = o.bounds;
        w->shown = o.visible;
        frames.push_back(w.get());
        options.push_back(o);
        calls().push_back(w->name() + ".create");
        return w;
    }
    std::unique_ptr<ui::Window> createLabel(ui::Window&, std::string_view text, ui::Rect b, bool transparent) override {
        auto w = std::make_unique<FakeWindow>("label");
        w->rect = b;
        w->texts.emplace_back(text);
        labelTransparent = transparent;
        labels.push_back(w.get());
        return w;
    }
    std::unique_ptr<ui::Picture> decodeJpeg(std::span<const unsigned char> bytes) override {
        decodedBytes = bytes.size();
        return std::make_unique<FakePicture>();
    }
    ui::Size screenSize() const override { return {1920, 1080}; }
    // Records the box; onBox runs inside it, as handlers run inside a real box's loop.
    void showErrorBox(ui::Window* owner, std::string_view caption, std::string_view text) override {
        boxes.push_back({owner, std::string(caption), std::string(text), ++boxDepth});
        if (onBox) onBox();
        --boxDepth;
    }
    void fail(std::exception_ptr error) override {
        if (!pending) pending = error;
    }
    bool failed() const override { return static_cast<bool>(pending); }
    std::exception_ptr run() override { return pending; }

    std::vector<FakeWindow*> frames;
    std::vector<FakeWindow*> labels;
    std::vector<ui::FrameOptions> options;
    struct Box {
        ui::Window* owner;
        std::string caption;
        std::string text;
        int depth;  // 1: shown from the loop; 2 and more: from inside another box
    };
    std::vector<Box> boxes;
    std::function<void()> onBox;
    int boxDepth = 0;
    bool labelTransparent = false;
    std::size_t decodedBytes = 0;
    std::exception_ptr pending;
};

// The engine: every function logs "name args" and keeps what the client registers.
struct FakeEngineState {
    wkeDocumentReadyCallback ready = nullptr;
    void* readyContext = nullptr;
    wkeTitleChangedCallback titleChanged = nullptr;
    void* titleContext = nullptr;
    std::string title;
    const char* startOrigin = nullptr;
    std::map<std::string, jsNativeFunction> bound;
    std::vector<std::string> boundOrder;
};

inline FakeEngineState& engineState() {
    static FakeEngineState s;
    return s;
}

// A call's arguments, as the fake engine's execution state.
struct FakeCall {
    std::vector<std::string> arguments;
    std::string origin = "null";  // what jsCallerOrigin names
};

inline wkeWebView fakeView() { return reinterpret_cast<wkeWebView>(0x1234); }

extern "C" {
inline void TOVI_ENGINE_CALL fakeInitialize() { calls().push_back("wkeInitialize"); }
inline wkeWebView TOVI_ENGINE_CALL fakeCreate(int type, void*, int x, int y, int w, int h) {
    calls().push_back("wkeCreateWebWindow " + std::to_string(type) + " " + std::to_string(x) + " " +
                      std::to_string(y) + " " + std::to_string(w) + " " + std::to_string(h));
    return fakeView();
}
inline void TOVI_ENGINE_CALL fakeLoad(wkeWebView, const char* url) { calls().push_back(std::string("wkeLoadURL ") + url); }
inline void TOVI_ENGINE_CALL fakeCsp(wkeWebView, int on) { calls().push_back("wkeSetCspCheckEnable " + std::to_string(on)); }
inline void TOVI_ENGINE_CALL fakeShow(wkeWebView, int on) { calls().push_back("wkeShowWindow " + std::to_string(on)); }
inline void TOVI_ENGINE_CALL fakeFocus(wkeWebView) { calls().push_back("wkeSetFocus"); }
inline void TOVI_ENGINE_CALL fakeOnReady(wkeWebView, wkeDocumentReadyCallback cb, void* ctx) {
    calls().push_back("wkeOnDocumentReady");
    engineState().ready = cb;
    engineState().readyContext = ctx;
}
inline void TOVI_ENGINE_CALL fakeOnTitle(wkeWebView, wkeTitleChangedCallback cb, void* ctx) {
    calls().push_back("wkeOnTitleChanged");
    engineState().titleChanged = cb;
    engineState().titleContext = ctx;
}
inline const char* TOVI_ENGINE_CALL fakeGetTitle(wkeWebView) { return engineState().title.c_str(); }
inline void TOVI_ENGINE_CALL fakeBind(const char* name, jsNativeFunction fn, void* ctx, unsigned n) {
    calls().push_back(std::string("wkeJsBindFunction ") + name + (ctx ? " ctx" : " null") + " " + std::to_string(n));
    engineState().bound[name] = fn;
    engineState().boundOrder.push_back(name);
}
inline void TOVI_ENGINE_CALL fakeDestroy(wkeWebView) { calls().push_back("wkeDestroyWebWindow"); }
inline void TOVI_ENGINE_CALL fakeResize(wkeWebView, int w, int h) {
    calls().push_back("wkeResize " + std::to_string(w) + " " + std::to_string(h));
}
inline jsValue TOVI_ENGINE_CALL fakeArg(jsExecState es, int i) {
    calls().push_back("jsArg " + std::to_string(i));
    const auto* c = static_cast<FakeCall*>(es);
    return i >= 0 && static_cast<std::size_t>(i) < c->arguments.size() ? i : -1;
}
inline const char* TOVI_ENGINE_CALL fakeToString(jsExecState es, jsValue v) {
    const auto* c = static_cast<FakeCall*>(es);
    return v >= 0 ? c->arguments[static_cast<std::size_t>(v)].c_str() : "undefined";
}
// The optional functions, for tests that set them into the table.
inline const char* TOVI_ENGINE_CALL fakeCallerOrigin(jsExecState es) {
    return static_cast<FakeCall*>(es)->origin.c_str();
}
inline const char* TOVI_ENGINE_CALL fakeStartOrigin(wkeWebView) { return engineState().startOrigin; }
}

inline client::EngineApi fakeEngine() {
    engineState() = {};
    client::EngineApi e;
    e.wkeInitialize = fakeInitialize;
    e.wkeCreateWebWindow = fakeCreate;
    e.wkeLoadURL = fakeLoad;
    e.wkeSetCspCheckEnable = fakeCsp;
    e.wkeShowWindow = fakeShow;
    e.wkeSetFocus = fakeFocus;
    e.wkeOnDocumentReady = fakeOnReady;
    e.wkeOnTitleChanged = fakeOnTitle;
    e.wkeGetTitle = fakeGetTitle;
    e.wkeJsBindFunction = fakeBind;
    e.wkeDestroyWebWindow = fakeDestroy;
    e.wkeResize = fakeResize;
    e.jsArg = fakeArg;
    e.jsToString = fakeToString;
    return e;
}

// Records on the device queue's worker; read the records after the queue is idle.
class RecordingDeviceHost : public client::DeviceHost {
public:
    void writeJobFile(const client::JobFile& job) override {
        if (failWrites) throw ioError("cannot write " + job.name + ": No space left on device");
        files.push_back(job);
    }
    ProgramResult runSupportProgram(const std::string& commandLine, const RunOptions&) override {
        started.push_back(commandLine);
        return {true, 0, {}};
    }

    std::atomic<bool> failWrites{false};
    std::vector<client::JobFile> files;
    std::vector<std::string> started;
};

// Functions given to ui::post, run only when a test says so (the test's own "UI thread").
struct PostedCalls {
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<std::pair<ui::NativeHandle, std::function<void()>>> calls;
    // Waits for the next posted function (from a worker) and runs it as the layer's loop does:
    // not while app has a pending error; an error it throws becomes the pending error. Returns the
    // window it was posted to; null when nothing was posted within 10 s.
    ui::NativeHandle runNext(ui::Application& app) {
        std::pair<ui::NativeHandle, std::function<void()>> next;
        {
            std::unique_lock lock(mutex);
            if (!arrived.wait_for(lock, std::chrono::seconds(10), [this] { return !calls.empty(); })) return nullptr;
            next = std::move(calls.front());
            calls.erase(calls.begin());
        }
        if (app.failed()) return next.first;
        try {
            next.second();
        } catch (...) {
            app.fail(std::current_exception());
        }
        return next.first;
    }
    // Runs and forgets every posted function.
    void runAll() {
        decltype(calls) now;
        {
            std::lock_guard lock(mutex);
            now.swap(calls);
        }
        for (auto& c : now) c.second();
    }
};
inline PostedCalls& posted() {
    static PostedCalls p;
    return p;
}

}  // namespace tovi::testing
