// A scripted stand-in for the web engine, for end-to-end tests and demos (never shipped).
//
// The view is a plain child window. "Loading" a URL reads the script file that the URL names (a
// path, or file:///path), one command a line, run on timers of the UI thread so that handlers and
// bound functions run inside message dispatch as with a real engine:
//   ready                  fire the document-ready handler
//   title <text>           set the title (UTF-8) and fire the title handler
//   call <name> [<text>]   call a bound function with one argument, the rest of the line
//   origin <text>          the origin that jsCallerOrigin names for the calls that follow
//                          (at first "file://": the script is a local file)
//   navigate <text>        the main frame now shows a document of that origin, not ready yet
//                          (at first "file://"); "ready" makes it ready
//   wait <ms>              pause the script
//   waitfile <path>        pause until the file exists (relative: to the working folder)
//   waitlog <text>         pause until tovipos.log in the program's folder contains text
//   waitprobe <text>       pause until a line that "probe" would write (without "probe <label> ")
//                          contains text: "view visible=1" once the main window is revealed,
//                          "text=<status>" while the splash shows that status
//   probe <label>          log the state of the process's "wFrame" windows, the view, the screen
//   log <text>             write text to the log
// Blank lines and lines starting with "#" are skipped. The wait... commands look every kPollMs;
// after kWaitLimitMs they log "wait timed out: <line>" and the script goes on (its probes then
// show what never came). The commands after a wait run a tick after the one that saw the event:
// what a worker posted to the UI thread right after it (the check logs its outcome, then posts
// it) is dispatched first, as WM_TIMER comes only when no posted message waits.
//
// Every call the engine receives is appended, with its arguments, as one line to the file named by
// the environment variable TOVI_ENGINE_LOG (UTF-8). A script of wkeRunScript is logged when it is
// due, as "script <text>" when it runs and "script dropped for <origin>" when it does not.
#include <windows.h>

#include <cstdio>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/boundary.h"
#include "common/text.h"
#include "engines/engine_api.h"

struct toviEngineView {
    HWND hwnd = nullptr;
    wkeDocumentReadyCallback ready = nullptr;
    void* readyContext = nullptr;
    wkeTitleChangedCallback titleChanged = nullptr;
    void* titleContext = nullptr;
    std::string title;
    std::vector<std::string> script;
    std::size_t next = 0;
    bool destroyed = false;
    bool waiting = false;  // a wait... command is polling, since waitStart (GetTickCount, ms)
    DWORD waitStart = 0;
    std::string documentOrigin = "file://";  // of the main frame's document
    bool documentReady = false;
    std::deque<std::pair<std::string, std::string>> scripts;  // (origin, script) of wkeRunScript, due
    wkeScriptDoneCallback scriptDone = nullptr;
    void* scriptContext = nullptr;
};

namespace {

constexpr const wchar_t* kViewClass = L"toviTestView";
constexpr UINT_PTR kScriptTimer = 7;
constexpr UINT_PTR kRunTimer = 8;
constexpr UINT kPollMs = 50;
constexpr DWORD kWaitLimitMs = 30000;

struct Binding {
    jsNativeFunction function = nullptr;
    void* context = nullptr;
    unsigned argumentCount = 0;
};

struct ExecState {
    std::vector<std::string> arguments;
    std::string origin;
    std::string text;  // the last text handed out by jsToString
};

std::string& callerOrigin() {
    static std::string origin = "file://";
    return origin;
}

std::map<std::string, Binding>& bindings() {
    static std::map<std::string, Binding> b;
    return b;
}

void log(const std::string& line) {
    wchar_t path[1024];
    const DWORD n = GetEnvironmentVariableW(L"TOVI_ENGINE_LOG", path, 1024);
    if (n == 0 || n >= 1024) return;
    FILE* f = _wfopen(path, L"ab");
    if (!f) return;
    std::fwrite(line.data(), 1, line.size(), f);
    std::fputc('\n', f);
    std::fclose(f);
}

std::string classOf(HWND h) {
    wchar_t cls[128] = {};
    if (h) GetClassNameW(h, cls, 128);
    return tovi::narrow(cls);
}

std::string textOf(HWND h) {
    const int n = GetWindowTextLengthW(h);
    std::wstring w(static_cast<std::size_t>(n) + 1, L'\0');
    GetWindowTextW(h, w.data(), n + 1);
    w.resize(static_cast<std::size_t>(n));
    return tovi::narrow(w);
}

std::string rectOf(HWND h) {
    RECT r{};
    GetWindowRect(h, &r);
    char buf[96];
    std::snprintf(buf, sizeof buf, "%ld,%ld,%ld,%ld", r.left, r.top, r.right - r.left, r.bottom - r.top);
    return buf;
}

BOOL CALLBACK probeChild(HWND h, LPARAM lp) {
    auto* lines = reinterpret_cast<std::vector<std::string>*>(lp);
    if (classOf(h) == "Static") lines->push_back("label rect=" + rectOf(h) + " text=" + textOf(h));
    return TRUE;
}

BOOL CALLBACK probeFrame(HWND h, LPARAM lp) {
    if (classOf(h) != "wFrame") return TRUE;
    char buf[128];
    std::snprintf(buf, sizeof buf, " visible=%d iconic=%d zoomed=%d style=0x%08lx exstyle=0x%08lx",
                  IsWindowVisible(h) ? 1 : 0, IsIconic(h) ? 1 : 0, IsZoomed(h) ? 1 : 0,
                  static_cast<unsigned long>(GetWindowLongW(h, GWL_STYLE)),
                  static_cast<unsigned long>(GetWindowLongW(h, GWL_EXSTYLE)));
    reinterpret_cast<std::vector<std::string>*>(lp)->push_back(std::string("frame") + buf + " rect=" + rectOf(h) +
                                                                " text=" + textOf(h));
    EnumChildWindows(h, probeChild, lp);
    return TRUE;
}

// The state of the process's "wFrame" windows and their labels, the view and the screen.
std::vector<std::string> probe(const toviEngineView* view) {
    std::vector<std::string> lines;
    EnumThreadWindows(GetCurrentThreadId(), probeFrame, reinterpret_cast<LPARAM>(&lines));
    if (view->hwnd) {
        RECT r{};
        GetClientRect(view->hwnd, &r);
        char buf[128];
        std::snprintf(buf, sizeof buf, "view visible=%d size=%ld,%ld", IsWindowVisible(view->hwnd) ? 1 : 0, r.right,
                      r.bottom);
        lines.push_back(buf + std::string(" focus=") + classOf(GetFocus()));
    }
    char buf[64];
    std::snprintf(buf, sizeof buf, "screen=%d,%d", GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    lines.push_back(buf);
    return lines;
}

// The file's bytes; none when it cannot be opened.
std::optional<std::string> fileText(const std::wstring& path) {
    FILE* f = _wfopen(path.c_str(), L"rb");
    if (!f) return std::nullopt;
    std::string text;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    std::fclose(f);
    return text;
}

std::wstring programFolderFile(const wchar_t* name) {
    wchar_t path[1024];
    const DWORD n = GetModuleFileNameW(nullptr, path, 1024);
    std::wstring p(path, n < 1024 ? n : 0);
    return p.substr(0, p.find_last_of(L'\\') + 1) + name;
}

// Whether the event that a wait... command names has come.
bool waitOver(const toviEngineView* view, const std::string& command, const std::string& text) {
    if (command == "waitfile") return GetFileAttributesW(tovi::widen(text).c_str()) != INVALID_FILE_ATTRIBUTES;
    if (command == "waitlog") {
        return fileText(programFolderFile(L"tovipos.log")).value_or("").find(text) != std::string::npos;
    }
    for (const std::string& line : probe(view)) {
        if (line.find(text) != std::string::npos) return true;
    }
    return false;
}

void callBound(const std::string& name, const std::string& argument, bool hasArgument) {
    auto it = bindings().find(name);
    if (it == bindings().end()) {
        log("call " + name + " unbound");
        return;
    }
    ExecState state;
    if (hasArgument) state.arguments.push_back(argument);
    state.origin = callerOrigin();
    log("call " + name + " arg=" + argument);
    const jsValue result = it->second.function(&state, it->second.context);
    log("call " + name + " -> " + std::to_string(result));
}

// Runs commands until a wait (which sets the timer again) or the end of the script.
void runScript(toviEngineView* view) {
    while (!view->destroyed && view->next < view->script.size()) {
        std::string line = view->script[view->next++];
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        const std::size_t sp = line.find(' ');
        const std::string command = line.substr(0, sp);
        const std::string rest = sp == std::string::npos ? std::string() : line.substr(sp + 1);
        if (command == "ready") {
            view->documentReady = true;
            log("fire ready");
            if (view->ready) view->ready(view, view->readyContext);
        } else if (command == "title") {
            view->title = rest;
            log("fire title " + rest);
            if (view->titleChanged) {
                view->titleChanged(view, view->titleContext, reinterpret_cast<wkeString>(view->title.c_str()));
            }
        } else if (command == "call") {
            const std::size_t s2 = rest.find(' ');
            callBound(rest.substr(0, s2), s2 == std::string::npos ? std::string() : rest.substr(s2 + 1),
                      s2 != std::string::npos);
        } else if (command == "origin") {
            callerOrigin() = rest;
        } else if (command == "navigate") {
            view->documentOrigin = rest;
            view->documentReady = false;
        } else if (command == "wait") {
            if (view->hwnd) SetTimer(view->hwnd, kScriptTimer, static_cast<UINT>(std::stoul(rest)), nullptr);
            return;
        } else if (command == "waitfile" || command == "waitlog" || command == "waitprobe") {
            if (!view->waiting) view->waitStart = GetTickCount();
            view->waiting = !waitOver(view, command, rest);
            if (view->waiting && GetTickCount() - view->waitStart >= kWaitLimitMs) {
                log("wait timed out: " + line);
                view->waiting = false;
            }
            if (view->waiting) --view->next;  // the same line again at the next tick
            if (view->hwnd) SetTimer(view->hwnd, kScriptTimer, kPollMs, nullptr);
            return;
        } else if (command == "probe") {
            for (const std::string& text : probe(view)) log("probe " + rest + " " + text);
        } else if (command == "log") {
            log("log " + rest);
        } else {
            log("script: unknown command " + command);
        }
    }
    if (!view->destroyed && view->next >= view->script.size()) log("script done");
}

// The scripts of wkeRunScript that are due, each answered to the client in order. The handler may
// give further scripts; they wait for the next tick.
void runDueScripts(toviEngineView* view) {
    for (std::size_t n = view->scripts.size(); n > 0 && !view->scripts.empty(); --n) {
        const auto [origin, script] = std::move(view->scripts.front());
        view->scripts.pop_front();
        const bool ran = view->documentReady && origin == view->documentOrigin;
        log(ran ? "script " + script : "script dropped for " + origin);
        if (view->scriptDone) {
            view->scriptDone(view, view->scriptContext, ran ? 1 : 0,
                             view->documentReady ? view->documentOrigin.c_str() : nullptr);
        }
    }
    if (!view->scripts.empty() && view->hwnd) SetTimer(view->hwnd, kRunTimer, 0, nullptr);
}

LRESULT CALLBACK viewProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* view = reinterpret_cast<toviEngineView*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    try {
        if (view && msg == WM_TIMER && wp == kScriptTimer) {
            KillTimer(hwnd, kScriptTimer);
            runScript(view);
            return 0;
        }
        if (view && msg == WM_TIMER && wp == kRunTimer) {
            KillTimer(hwnd, kRunTimer);
            runDueScripts(view);
            return 0;
        }
        if (view && msg == WM_NCDESTROY) {
            view->hwnd = nullptr;
            view->destroyed = true;
        }
    } catch (...) {
        log("exception in the view's window procedure");
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

void registerViewClass() {
    static bool done = false;
    if (done) return;
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = viewProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = kViewClass;
    RegisterClassExW(&wc);
    done = true;
}

std::string pointerText(const void* p) { return p ? "set" : "null"; }

constexpr const char* kLibrary = "testengine";

}  // namespace

using tovi::guardedExport;

// Every export is a catch barrier: nothing may unwind into the caller.
extern "C" {

void TOVI_ENGINE_CALL wkeInitialize(void) {
    guardedExport({kLibrary, "wkeInitialize"}, [&] {
        log("wkeInitialize");
        registerViewClass();
    });
}

wkeWebView TOVI_ENGINE_CALL wkeCreateWebWindow(int type, void* parent, int x, int y, int width, int height) {
    return guardedExport({kLibrary, "wkeCreateWebWindow"}, static_cast<wkeWebView>(nullptr), [&]() -> wkeWebView {
        log("wkeCreateWebWindow type=" + std::to_string(type) + " parent=" + classOf(static_cast<HWND>(parent)) +
            " x=" + std::to_string(x) + " y=" + std::to_string(y) + " w=" + std::to_string(width) +
            " h=" + std::to_string(height));
        registerViewClass();
        auto* view = new toviEngineView;
        view->hwnd = CreateWindowExW(0, kViewClass, L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP, x, y, width, height,
                                     static_cast<HWND>(parent), nullptr, GetModuleHandleW(nullptr), nullptr);
        if (view->hwnd) SetWindowLongPtrW(view->hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(view));
        return view;
    });
}

void TOVI_ENGINE_CALL wkeLoadURL(wkeWebView view, const char* url) {
    guardedExport({kLibrary, "wkeLoadURL"}, [&] {
        std::string u = url ? url : "";
        log("wkeLoadURL url=" + u);
        if (!view) return;
        if (u.rfind("file:///", 0) == 0) u = u.substr(8);
        const std::optional<std::string> text = fileText(tovi::widen(u));
        if (!text) {
            log("load failed " + u);
            return;
        }
        view->script.clear();
        std::size_t pos = 0;
        while (pos <= text->size()) {
            const std::size_t end = text->find('\n', pos);
            view->script.push_back(text->substr(pos, end == std::string::npos ? std::string::npos : end - pos));
            if (end == std::string::npos) break;
            pos = end + 1;
        }
        view->next = 0;
        view->waiting = false;
        if (view->hwnd) SetTimer(view->hwnd, kScriptTimer, 10, nullptr);
    });
}

void TOVI_ENGINE_CALL wkeSetCspCheckEnable(wkeWebView, int enable) {
    guardedExport({kLibrary, "wkeSetCspCheckEnable"}, [&] {
        log("wkeSetCspCheckEnable enable=" + std::to_string(enable));
    });
}

void TOVI_ENGINE_CALL wkeShowWindow(wkeWebView view, int show) {
    guardedExport({kLibrary, "wkeShowWindow"}, [&] {
        log("wkeShowWindow show=" + std::to_string(show));
        if (view && view->hwnd) ShowWindow(view->hwnd, show ? SW_SHOW : SW_HIDE);
    });
}

void TOVI_ENGINE_CALL wkeSetFocus(wkeWebView view) {
    guardedExport({kLibrary, "wkeSetFocus"}, [&] {
        log("wkeSetFocus");
        if (view && view->hwnd) SetFocus(view->hwnd);
    });
}

void TOVI_ENGINE_CALL wkeOnDocumentReady(wkeWebView view, wkeDocumentReadyCallback handler, void* context) {
    guardedExport({kLibrary, "wkeOnDocumentReady"}, [&] {
        log("wkeOnDocumentReady context=" + pointerText(context));
        if (!view) return;
        view->ready = handler;
        view->readyContext = context;
    });
}

void TOVI_ENGINE_CALL wkeOnTitleChanged(wkeWebView view, wkeTitleChangedCallback handler, void* context) {
    guardedExport({kLibrary, "wkeOnTitleChanged"}, [&] {
        log("wkeOnTitleChanged context=" + pointerText(context));
        if (!view) return;
        view->titleChanged = handler;
        view->titleContext = context;
    });
}

const char* TOVI_ENGINE_CALL wkeGetTitle(wkeWebView view) {
    return guardedExport({kLibrary, "wkeGetTitle"}, "", [&]() -> const char* {
        log("wkeGetTitle -> " + (view ? view->title : std::string()));
        return view ? view->title.c_str() : "";
    });
}

void TOVI_ENGINE_CALL wkeJsBindFunction(const char* name, jsNativeFunction function, void* context,
                                        unsigned int argumentCount) {
    guardedExport({kLibrary, "wkeJsBindFunction"}, [&] {
        const std::string n = name ? name : "";
        log("wkeJsBindFunction name=" + n + " context=" + pointerText(context) +
            " args=" + std::to_string(argumentCount));
        bindings()[n] = Binding{function, context, argumentCount};
    });
}

void TOVI_ENGINE_CALL wkeDestroyWebWindow(wkeWebView view) {
    guardedExport({kLibrary, "wkeDestroyWebWindow"}, [&] {
        log("wkeDestroyWebWindow");
        if (!view) return;
        view->destroyed = true;
        // The view itself is kept: the script that called us may still be on the stack.
        if (view->hwnd) DestroyWindow(view->hwnd);
    });
}

void TOVI_ENGINE_CALL wkeResize(wkeWebView view, int width, int height) {
    guardedExport({kLibrary, "wkeResize"}, [&] {
        log("wkeResize w=" + std::to_string(width) + " h=" + std::to_string(height));
        if (view && view->hwnd) SetWindowPos(view->hwnd, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER);
    });
}

jsValue TOVI_ENGINE_CALL jsArg(jsExecState state, int index) {
    return guardedExport({kLibrary, "jsArg"}, jsValue{-1}, [&]() -> jsValue {
        log("jsArg index=" + std::to_string(index));
        const auto* s = static_cast<ExecState*>(state);
        if (!s || index < 0 || static_cast<std::size_t>(index) >= s->arguments.size()) return -1;
        return index;
    });
}

// Left out of the exports of the testengine_noorigin variant (node_noorigin.def), as the next two.
void TOVI_ENGINE_CALL wkeRunScript(wkeWebView view, const char* origin, const char* script) {
    guardedExport({kLibrary, "wkeRunScript"}, [&] {
        if (!view || !view->hwnd) return;
        view->scripts.emplace_back(origin ? origin : "", script ? script : "");
        SetTimer(view->hwnd, kRunTimer, 0, nullptr);
    });
}

void TOVI_ENGINE_CALL wkeOnScriptDone(wkeWebView view, wkeScriptDoneCallback handler, void* context) {
    guardedExport({kLibrary, "wkeOnScriptDone"}, [&] {
        if (!view) return;
        view->scriptDone = handler;
        view->scriptContext = context;
    });
}

const char* TOVI_ENGINE_CALL jsCallerOrigin(jsExecState state) {
    return guardedExport({kLibrary, "jsCallerOrigin"}, "null", [&]() -> const char* {
        const auto* s = static_cast<ExecState*>(state);
        return s ? s->origin.c_str() : "null";
    });
}

const char* TOVI_ENGINE_CALL jsToString(jsExecState state, jsValue value) {
    return guardedExport({kLibrary, "jsToString"}, "", [&]() -> const char* {
        auto* s = static_cast<ExecState*>(state);
        if (!s) return "";
        s->text = value >= 0 && static_cast<std::size_t>(value) < s->arguments.size()
                      ? s->arguments[static_cast<std::size_t>(value)]
                      : std::string("undefined");
        log("jsToString -> " + s->text);
        return s->text.c_str();
    });
}

}  // extern "C"
