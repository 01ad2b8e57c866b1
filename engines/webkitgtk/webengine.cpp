// The web engine interface of engine_api.h on WebKitGTK 4.1, for the Linux client: a
// WebKitWebView inside a frame of the GTK windowing layer, and the page's calls of bound functions
// carried over a script message handler.
//
// How the interface maps:
// - A view is a WebKitWebView put into the parent frame's GtkLayout (see ui/gtk/gtk_native.h).
// - Bound functions are globals of every document: a user script injected at document start
//   defines each one in the page's world; a call goes to the native side through our isolated
//   script world (scripts.h), which adds the calling document's origin, and returns 0 to the page
//   at once. The native function then runs from the main loop, in the order of the page's calls,
//   with an execution state that jsArg, jsToString and jsCallerOrigin read. The page never waits
//   for the native function, so its result is not seen by the page (every bridge function of the
//   client returns 0 anyway).
// - Who called: the script message handler of WebKitGTK 4.1 is told nothing about the frame a
//   message came from, so the handler is registered in the isolated world only, where no script of
//   the page reaches it, and the isolated world's listener of each document names that document's
//   origin. Every frame, at any depth, has its own listener; a frame that an untrusted page made
//   (about:blank, srcdoc, a data: or sandboxed document) has its own origin or "null"; a message
//   that the old document of a frame posted and that arrives after the frame moved on still names
//   the old document's origin. Whether an origin is trusted is the client's decision. (What this
//   cannot see: two pages of one site that both lower document.domain to it script each other's
//   functions; a trusted page that does so vouches for the other.)
// - The start origin is the origin of the main frame's document when the first load commits,
//   that is after the HTTP redirects of that load.
// - Document ready is the document's DOMContentLoaded, posted by another isolated-world script.
// - A script of wkeRunScript is evaluated in the main world of the main frame, wrapped so that it
//   runs only in the document whose ready the client was told last, if it has the given origin
//   (scripts.h): the web process may have a newer document ready before its ready message reaches
//   us, and that one must not take a result meant for the old one as its own. The wrapper's value says what
//   became of it. One script is evaluated at a time, so the answers keep the order of the calls.
// - New windows are never opened (each attempt is a line on standard error), and the engine's own
//   context menu (Back, Reload, Inspect) is off.
// - Content-security-policy: WebKitGTK has no switch that turns the page's checks off;
//   wkeSetCspCheckEnable is accepted and does nothing. Injected user scripts are not subject to
//   the page's policy, so the bridge works on pages with a strict one.
//
// Everything runs on GTK's thread. Every exported function and every callback from WebKit has a
// catch barrier: no exception leaves the library; a failure is written to standard error.
#include <webkit2/webkit2.h>

#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "common/boundary.h"
#include "engines/engine_api.h"
#include "engines/webkitgtk/scripts.h"
#include "ui/gtk/gtk_native.h"

using tovi::guardedExport;

// The engine's title object handed to title handlers.
struct toviEngineString {
    std::string text;
};

// One view. Records are kept until the process ends (one or two per run), so a handle used after
// wkeDestroyWebWindow, or a late callback, finds a dead record instead of freed memory.
struct toviEngineView {
    WebKitWebView* web = nullptr;  // null once the widget is destroyed
    WebKitUserContentManager* content = nullptr;
    wkeDocumentReadyCallback ready = nullptr;
    void* readyContext = nullptr;
    wkeTitleChangedCallback titleChanged = nullptr;
    void* titleContext = nullptr;
    toviEngineString title;
    std::string pendingUrl;
    bool loadQueued = false;
    int pendingWidth = 0;
    int pendingHeight = 0;
    bool resizeQueued = false;
    bool loadStarted = false;       // the first load was started
    bool watchFirstCommit = false;  // and has not committed yet
    std::string startOrigin;        // of its document; empty while not known
    std::deque<std::pair<std::string, std::string>> scripts;  // (origin, script) of wkeRunScript, in order
    // The document of the main frame whose ready the client was told last (readyScript's token):
    // scripts run in it alone, so that a reload whose ready is still on its way gets none.
    std::string readyDocument;
    bool scriptRunning = false;     // the first of scripts is being evaluated
    wkeScriptDoneCallback scriptDone = nullptr;
    void* scriptContext = nullptr;
};

namespace {

using tovi::webengine::bindingScript;
using tovi::webengine::callListenerScript;
using tovi::webengine::kBridgeHandler;
using tovi::webengine::kBridgeWorld;
using tovi::webengine::readyScript;
using tovi::webengine::runScriptIn;

struct Binding {
    std::string name;
    jsNativeFunction function;
    void* context;
    unsigned argumentCount;
};

// A call of a bound function while its native function runs: what jsArg and jsToString read.
struct CallState {
    std::vector<std::string> args;
    std::string origin;
};

// The engine's process-wide state: bound functions belong to every page of every view.
struct EngineState {
    std::vector<Binding> bindings;
    std::vector<toviEngineView*> views;  // every view ever created
    std::vector<CallState*> calls;       // states of the native functions running now
};

EngineState& state() {
    static EngineState* s = new EngineState;
    return *s;
}

constexpr const char* kLibrary = "tovi_webengine";

void report(const char* where, const char* what) { tovi::reportExportFailure({kLibrary, where}, what); }

// The view behind a handle from the client, or null when it is no live view of ours.
toviEngineView* liveView(wkeWebView view) {
    for (toviEngineView* v : state().views) {
        if (v == view) return v->web ? v : nullptr;
    }
    return nullptr;
}

// world: null for the page's own world, else the name of an isolated one.
void addUserScript(WebKitUserContentManager* content, const std::string& source, bool allFrames,
                   const char* world = nullptr) {
    const auto frames = allFrames ? WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES : WEBKIT_USER_CONTENT_INJECT_TOP_FRAME;
    const auto start = WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START;
    WebKitUserScript* script =
        world ? webkit_user_script_new_for_world(source.c_str(), frames, start, world, nullptr, nullptr)
              : webkit_user_script_new(source.c_str(), frames, start, nullptr, nullptr);
    webkit_user_content_manager_add_script(content, script);
    webkit_user_script_unref(script);
}

// ---- Messages from the page -----------------------------------------------------------------

std::string stringProperty(JSCValue* object, const char* name) {
    JSCValue* p = jsc_value_object_get_property(object, name);
    std::string out;
    if (p && jsc_value_is_string(p)) {
        gchar* s = jsc_value_to_string(p);
        out = s ? s : "";
        g_free(s);
    }
    if (p) g_object_unref(p);
    return out;
}

std::vector<std::string> stringArray(JSCValue* object, const char* name) {
    std::vector<std::string> out;
    JSCValue* array = jsc_value_object_get_property(object, name);
    if (array && jsc_value_is_array(array)) {
        JSCValue* length = jsc_value_object_get_property(array, "length");
        const gint32 n = length ? jsc_value_to_int32(length) : 0;
        if (length) g_object_unref(length);
        for (gint32 i = 0; i < n; ++i) {
            JSCValue* item = jsc_value_object_get_property_at_index(array, static_cast<guint>(i));
            gchar* s = item ? jsc_value_to_string(item) : nullptr;
            out.emplace_back(s ? s : "");
            g_free(s);
            if (item) g_object_unref(item);
        }
    }
    if (array) g_object_unref(array);
    return out;
}

// A message taken out of WebKit's signal and run from the main loop: a native function may
// destroy the view (the page's close function does), which must not happen inside WebKit's own
// dispatch of the message.
struct PageMessage {
    toviEngineView* view;
    bool ready;
    std::string document;  // of a ready message
    std::string function;
    std::vector<std::string> args;
    std::string origin;
};

void callBound(const PageMessage& m) {
    // The latest binding of a name counts.
    const Binding* binding = nullptr;
    for (const Binding& b : state().bindings) {
        if (b.name == m.function) binding = &b;
    }
    if (!binding) return;
    const Binding b = *binding;  // the list may grow while the function runs
    CallState call{m.args, m.origin};
    state().calls.push_back(&call);
    try {
        b.function(&call, b.context);
    } catch (...) {
        std::erase(state().calls, &call);
        throw;
    }
    std::erase(state().calls, &call);
}

// The idle source owns its message on both paths: run, or removed unrun when the loop ends first
// (deletePageMessage is its destroy function either way).
void deletePageMessage(gpointer data) { delete static_cast<PageMessage*>(data); }

gboolean runPageMessage(gpointer data) {
    PageMessage* const m = static_cast<PageMessage*>(data);
    guardedExport({kLibrary, "page message"}, [&] {
        if (m->ready) {
            toviEngineView* v = m->view;
            // A document of a destroyed view is not reported.
            if (!v->web) return;
            v->readyDocument = m->document;
            if (v->ready) v->ready(v, v->readyContext);
        } else {
            callBound(*m);
        }
    });
    return G_SOURCE_REMOVE;
}

void onScriptMessage(WebKitUserContentManager*, WebKitJavascriptResult* result, gpointer data) {
    guardedExport({kLibrary, "script message"}, [&] {
        JSCValue* value = webkit_javascript_result_get_js_value(result);
        if (!value || !jsc_value_is_object(value)) return;
        auto m = std::make_unique<PageMessage>();
        m->view = static_cast<toviEngineView*>(data);
        const std::string kind = stringProperty(value, "kind");
        if (kind == "ready") {
            m->ready = true;
            m->document = stringProperty(value, "document");
        } else if (kind == "call") {
            m->ready = false;
            m->function = stringProperty(value, "fn");
            m->args = stringArray(value, "args");
            m->origin = stringProperty(value, "origin");
            if (m->origin.empty()) m->origin = "null";
        } else {
            return;
        }
        // Default priority: in order with each other, ahead of idle work such as painting.
        g_idle_add_full(G_PRIORITY_DEFAULT, runPageMessage, m.release(), deletePageMessage);
    });
}

void onTitle(GObject*, GParamSpec*, gpointer data) {
    guardedExport({kLibrary, "title"}, [&] {
        auto* v = static_cast<toviEngineView*>(data);
        if (!v->web) return;
        const gchar* title = webkit_web_view_get_title(v->web);
        v->title.text = title ? title : "";
        if (v->titleChanged) v->titleChanged(v, v->titleContext, &v->title);
    });
}

void onWebDestroy(GtkWidget*, gpointer data) {
    auto* v = static_cast<toviEngineView*>(data);
    v->web = nullptr;
    v->ready = nullptr;
    v->titleChanged = nullptr;
    v->scriptDone = nullptr;
    v->scripts.clear();
    if (v->content) {
        g_signal_handlers_disconnect_by_data(v->content, v);
        g_object_unref(v->content);
        v->content = nullptr;
    }
}

gboolean runLoad(gpointer data) {
    guardedExport({kLibrary, "load"}, [&] {
        auto* v = static_cast<toviEngineView*>(data);
        v->loadQueued = false;
        if (!v->web) return;
        // Only the first load's commit names the start origin; a later load replaces it unnamed.
        v->watchFirstCommit = !v->loadStarted;
        v->loadStarted = true;
        webkit_web_view_load_uri(v->web, v->pendingUrl.c_str());
    });
    return G_SOURCE_REMOVE;
}

void onLoadChanged(WebKitWebView* web, WebKitLoadEvent event, gpointer data) {
    guardedExport({kLibrary, "load changed"}, [&] {
        auto* v = static_cast<toviEngineView*>(data);
        if (event != WEBKIT_LOAD_COMMITTED || !v->watchFirstCommit) return;
        v->watchFirstCommit = false;
        // The view's address is the committed one: the first load's HTTP redirects are behind it.
        const gchar* uri = webkit_web_view_get_uri(web);
        WebKitSecurityOrigin* origin = uri ? webkit_security_origin_new_for_uri(uri) : nullptr;
        gchar* text = origin ? webkit_security_origin_to_string(origin) : nullptr;
        v->startOrigin = text ? text : "";
        g_free(text);
        if (origin) webkit_security_origin_unref(origin);
    });
}

// A page's window.open or a link to a new window: never opened. A page may try without end, so the
// lines are at most one a second, the attempts in between counted in the next one.
GtkWidget* onCreate(WebKitWebView*, WebKitNavigationAction* action, gpointer) {
    guardedExport({kLibrary, "new window"}, [&] {
        static gint64 lastLine = 0;
        static unsigned long unlogged = 0;
        const gint64 now = g_get_monotonic_time();
        if (lastLine != 0 && now - lastLine < G_USEC_PER_SEC) {
            ++unlogged;
            return;
        }
        WebKitURIRequest* request = action ? webkit_navigation_action_get_request(action) : nullptr;
        const gchar* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
        std::string text = "a new window was not opened: " + std::string(uri ? uri : "").substr(0, 300);
        if (unlogged) text += " (" + std::to_string(unlogged) + " more not opened since the last such line)";
        lastLine = now;
        unlogged = 0;
        tovi::reportExportFailure({kLibrary}, text.c_str());
    });
    return nullptr;
}

gboolean onContextMenu(WebKitWebView*, WebKitContextMenu*, GdkEvent*, WebKitHitTestResult*, gpointer) {
    return TRUE;  // handled: no menu
}

gboolean runResize(gpointer data) {
    guardedExport({kLibrary, "resize"}, [&] {
        auto* v = static_cast<toviEngineView*>(data);
        v->resizeQueued = false;
        if (v->web) gtk_widget_set_size_request(GTK_WIDGET(v->web), v->pendingWidth, v->pendingHeight);
    });
    return G_SOURCE_REMOVE;
}

void runNextScript(toviEngineView* v);

// The wrapper's value: true (ran), the document's origin (dropped), null (dropped, still loading);
// an error (the web process went away) is a drop too.
void onScriptEvaluated(GObject* object, GAsyncResult* result, gpointer data) {
    guardedExport({kLibrary, "script evaluated"}, [&] {
        auto* v = static_cast<toviEngineView*>(data);
        GError* error = nullptr;
        JSCValue* value = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(object), result, &error);
        if (error) g_error_free(error);
        bool ran = false;
        std::string origin;
        bool ready = false;
        if (value) {
            ran = jsc_value_is_boolean(value) && jsc_value_to_boolean(value);
            ready = ran || jsc_value_is_string(value);
            if (ran) {
                origin = v->scripts.empty() ? std::string() : v->scripts.front().first;
            } else if (ready) {
                gchar* text = jsc_value_to_string(value);
                origin = text ? text : "";
                g_free(text);
            }
            g_object_unref(value);
        }
        v->scriptRunning = false;
        if (!v->scripts.empty()) v->scripts.pop_front();
        // The view may be gone: its record stays, without a handler.
        if (v->scriptDone) v->scriptDone(v, v->scriptContext, ran ? 1 : 0, ready ? origin.c_str() : nullptr);
        runNextScript(v);
    });
}

void runNextScript(toviEngineView* v) {
    if (v->scriptRunning || v->scripts.empty() || !v->web) return;
    v->scriptRunning = true;
    const std::string source = runScriptIn(v->scripts.front().first, v->readyDocument, v->scripts.front().second);
    webkit_web_view_evaluate_javascript(v->web, source.c_str(), static_cast<gssize>(source.size()), nullptr, nullptr,
                                        nullptr, onScriptEvaluated, v);
}

CallState* liveCall(jsExecState es) {
    for (CallState* c : state().calls) {
        if (c == es) return c;
    }
    return nullptr;
}

// jsValue of argument i of a call: i + 1; anything else is undefined.
constexpr jsValue kUndefined = 0;

}  // namespace

extern "C" {

void TOVI_ENGINE_CALL wkeInitialize(void) {
    guardedExport({kLibrary, "wkeInitialize"}, [] {
        // The client's windowing layer has initialised GTK already; this only makes sure.
        if (!gtk_init_check(nullptr, nullptr)) report("wkeInitialize", "cannot open the display");
    });
}

wkeWebView TOVI_ENGINE_CALL wkeCreateWebWindow(int type, void* parent, int x, int y, int width, int height) {
    return guardedExport({kLibrary, "wkeCreateWebWindow"}, static_cast<wkeWebView>(nullptr), [&]() -> wkeWebView {
        if (type != WKE_WINDOW_TYPE_CONTROL) {
            report("wkeCreateWebWindow", "only child control views (kind 2) are supported");
            return nullptr;
        }
        GtkLayout* layout = tovi::ui::gtk::frameLayout(parent);
        if (!layout) {
            report("wkeCreateWebWindow", "the parent is no frame of the GTK windowing layer");
            return nullptr;
        }
        auto view = std::make_unique<toviEngineView>();
        view->content = webkit_user_content_manager_new();
        // In our isolated world only: no script of the page, of whatever frame, reaches the handler.
        webkit_user_content_manager_register_script_message_handler_in_world(view->content, kBridgeHandler,
                                                                              kBridgeWorld);
        g_signal_connect(view->content, "script-message-received::toviNative", G_CALLBACK(onScriptMessage),
                         view.get());
        addUserScript(view->content, readyScript(), false, kBridgeWorld);
        addUserScript(view->content, callListenerScript(), true, kBridgeWorld);
        for (const Binding& b : state().bindings) addUserScript(view->content, bindingScript(b.name, b.argumentCount), true);

        GtkWidget* web = webkit_web_view_new_with_user_content_manager(view->content);
        view->web = WEBKIT_WEB_VIEW(web);
        // The page is drawn in software, as the Windows engine does. Accelerated compositing draws a
        // view that is larger than its visible part (the client's view is the window's size, over
        // a 1-pixel border) shifted down by the hidden rows: a gap at the top, the bottom cut off.
        // Software drawing also left the engine's processes about 48 MiB smaller when measured.
        WebKitSettings* settings = webkit_web_view_get_settings(view->web);
        webkit_settings_set_hardware_acceleration_policy(settings, WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
        // Local files share the one origin "file://" instead of each being opaque ("null", as a
        // sandboxed frame is): a file: start page trusts file: documents, and only a document's own
        // origin can tell them from sandboxed ones. Remote pages cannot load file: documents.
        webkit_settings_set_allow_file_access_from_file_urls(settings, TRUE);
        // Every window.open reaches onCreate (which opens nothing and says so), with a click or not.
        webkit_settings_set_javascript_can_open_windows_automatically(settings, TRUE);
        g_signal_connect(web, "create", G_CALLBACK(onCreate), view.get());
        g_signal_connect(web, "context-menu", G_CALLBACK(onContextMenu), view.get());
        g_signal_connect(web, "load-changed", G_CALLBACK(onLoadChanged), view.get());
        g_signal_connect(web, "notify::title", G_CALLBACK(onTitle), view.get());
        g_signal_connect(web, "destroy", G_CALLBACK(onWebDestroy), view.get());
        gtk_widget_set_size_request(web, width, height);
        gtk_layout_put(layout, web, x, y);
        gtk_widget_show(web);
        state().views.push_back(view.get());
        return view.release();
    });
}

void TOVI_ENGINE_CALL wkeLoadURL(wkeWebView view, const char* url) {
    guardedExport({kLibrary, "wkeLoadURL"}, [&] {
        toviEngineView* v = liveView(view);
        if (!v) return;
        v->pendingUrl = url && *url ? url : "about:blank";
        // From the main loop: functions bound right after this call are in place before the
        // document starts.
        if (!v->loadQueued) {
            v->loadQueued = true;
            g_idle_add_full(G_PRIORITY_DEFAULT, runLoad, v, nullptr);
        }
    });
}

void TOVI_ENGINE_CALL wkeSetCspCheckEnable(wkeWebView, int) {
    // No such switch in WebKitGTK; the injected bridge is not subject to the page's policy.
}

void TOVI_ENGINE_CALL wkeShowWindow(wkeWebView view, int show) {
    guardedExport({kLibrary, "wkeShowWindow"}, [&] {
        if (toviEngineView* v = liveView(view)) {
            if (show) {
                gtk_widget_show(GTK_WIDGET(v->web));
            } else {
                gtk_widget_hide(GTK_WIDGET(v->web));
            }
        }
    });
}

void TOVI_ENGINE_CALL wkeSetFocus(wkeWebView view) {
    guardedExport({kLibrary, "wkeSetFocus"}, [&] {
        if (toviEngineView* v = liveView(view)) gtk_widget_grab_focus(GTK_WIDGET(v->web));
    });
}

void TOVI_ENGINE_CALL wkeOnDocumentReady(wkeWebView view, wkeDocumentReadyCallback handler, void* context) {
    guardedExport({kLibrary, "wkeOnDocumentReady"}, [&] {
        if (toviEngineView* v = liveView(view)) {
            v->ready = handler;
            v->readyContext = context;
        }
    });
}

void TOVI_ENGINE_CALL wkeOnTitleChanged(wkeWebView view, wkeTitleChangedCallback handler, void* context) {
    guardedExport({kLibrary, "wkeOnTitleChanged"}, [&] {
        if (toviEngineView* v = liveView(view)) {
            v->titleChanged = handler;
            v->titleContext = context;
        }
    });
}

const char* TOVI_ENGINE_CALL wkeGetTitle(wkeWebView view) {
    return guardedExport({kLibrary, "wkeGetTitle"}, "", [&]() -> const char* {
        for (toviEngineView* v : state().views) {
            if (v != view) continue;
            if (v->web) {
                const gchar* title = webkit_web_view_get_title(v->web);
                v->title.text = title ? title : "";
            }
            // The engine's copy: valid until the next call for this view.
            return v->title.text.c_str();
        }
        return "";
    });
}

void TOVI_ENGINE_CALL wkeJsBindFunction(const char* name, jsNativeFunction function, void* context,
                                        unsigned int argumentCount) {
    guardedExport({kLibrary, "wkeJsBindFunction"}, [&] {
        if (!name || !*name || !function || !g_utf8_validate(name, -1, nullptr)) {
            report("wkeJsBindFunction", "a function needs a name in UTF-8 and a native function");
            return;
        }
        state().bindings.push_back({name, function, context, argumentCount});
        const std::string script = bindingScript(name, argumentCount);
        for (toviEngineView* v : state().views) {
            if (!v->web) continue;
            // Documents started from now on get it at their start...
            addUserScript(v->content, script, true);
            // ...and a document already there gets it now.
            if (webkit_web_view_get_uri(v->web) && !v->loadQueued) {
                webkit_web_view_evaluate_javascript(v->web, script.c_str(), static_cast<gssize>(script.size()),
                                                    nullptr, nullptr, nullptr, nullptr, nullptr);
            }
        }
    });
}

void TOVI_ENGINE_CALL wkeDestroyWebWindow(wkeWebView view) {
    guardedExport({kLibrary, "wkeDestroyWebWindow"}, [&] {
        if (toviEngineView* v = liveView(view)) gtk_widget_destroy(GTK_WIDGET(v->web));
    });
}

void TOVI_ENGINE_CALL wkeResize(wkeWebView view, int width, int height) {
    guardedExport({kLibrary, "wkeResize"}, [&] {
        toviEngineView* v = liveView(view);
        if (!v) return;
        v->pendingWidth = width < 0 ? 0 : width;
        v->pendingHeight = height < 0 ? 0 : height;
        // From an idle callback: a new size request made while GTK is allocating sizes is lost.
        if (!v->resizeQueued) {
            v->resizeQueued = true;
            g_idle_add_full(G_PRIORITY_DEFAULT, runResize, v, nullptr);
        }
    });
}

jsValue TOVI_ENGINE_CALL jsArg(jsExecState es, int index) {
    return guardedExport({kLibrary, "jsArg"}, kUndefined, [&]() -> jsValue {
        const CallState* call = liveCall(es);
        if (!call || index < 0 || static_cast<std::size_t>(index) >= call->args.size()) return kUndefined;
        return static_cast<jsValue>(index) + 1;
    });
}

const char* TOVI_ENGINE_CALL jsCallerOrigin(jsExecState es) {
    return guardedExport({kLibrary, "jsCallerOrigin"}, "null", [&]() -> const char* {
        const CallState* call = liveCall(es);
        // Owned by the call's state: valid while the native function runs.
        return call ? call->origin.c_str() : "null";
    });
}

const char* TOVI_ENGINE_CALL wkeGetStartOrigin(wkeWebView view) {
    return guardedExport({kLibrary, "wkeGetStartOrigin"}, static_cast<const char*>(nullptr), [&]() -> const char* {
        for (toviEngineView* v : state().views) {
            if (v == view) return v->startOrigin.empty() ? nullptr : v->startOrigin.c_str();
        }
        return nullptr;
    });
}

void TOVI_ENGINE_CALL wkeRunScript(wkeWebView view, const char* origin, const char* script) {
    guardedExport({kLibrary, "wkeRunScript"}, [&] {
        toviEngineView* v = liveView(view);
        if (!v || !origin || !script) return;
        v->scripts.emplace_back(origin, script);
        runNextScript(v);
    });
}

void TOVI_ENGINE_CALL wkeOnScriptDone(wkeWebView view, wkeScriptDoneCallback handler, void* context) {
    guardedExport({kLibrary, "wkeOnScriptDone"}, [&] {
        if (toviEngineView* v = liveView(view)) {
            v->scriptDone = handler;
            v->scriptContext = context;
        }
    });
}

const char* TOVI_ENGINE_CALL jsToString(jsExecState es, jsValue value) {
    return guardedExport({kLibrary, "jsToString"}, "", [&]() -> const char* {
        const CallState* call = liveCall(es);
        if (!call) return "";
        if (value < 1 || static_cast<std::uint64_t>(value) > call->args.size()) return "undefined";
        // Owned by the call's state: valid while the native function runs.
        return call->args[static_cast<std::size_t>(value - 1)].c_str();
    });
}

}  // extern "C"
