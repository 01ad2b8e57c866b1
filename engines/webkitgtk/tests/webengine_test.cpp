// The WebKitGTK engine library as the client uses it: loaded by file name, its 14 functions bound by
// name, a view inside a frame of the GTK windowing layer, local file:// pages.
#include <gtest/gtest.h>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <stdlib.h>
#include <webkit2/webkit2.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <iterator>
#include <fstream>
#include <string>
#include <vector>

#include "common/library.h"
#include "engines/engine_table.h"
#include "ui/gtk/gtk_native.h"
#include "ui/gtk/testing/x_display.h"
#include "ui/ui.h"

namespace {

using tovi::ui::testing::pumpFor;
using tovi::ui::testing::pumpUntil;
namespace fs = std::filesystem;

using tovi::engine::EngineApi;

// Loaded once and kept until exit, like the client keeps its engine.
const EngineApi* loadEngine() {
    static tovi::Library* library = new tovi::Library(tovi::Library::load(TOVI_WEBENGINE_PATH));
    if (!*library) return nullptr;
    static EngineApi api{};
    bool complete = true;
    tovi::engine::forEachFunction(api, [&](auto& slot, const char* name) {
        void* address = library->find(name);
        complete = complete && address;
        tovi::bindSymbol(slot, address);
    });
    tovi::engine::forEachOptionalFunction(api, [&](auto& slot, const char* name) {
        tovi::bindSymbol(slot, library->find(name));
        complete = complete && slot;  // this engine has them all
    });
    return complete ? &api : nullptr;
}

const EngineApi* api = nullptr;

// What the engine reported; lives as long as the process, since bound functions do too.
struct Record {
    struct Call {
        std::string function;
        std::string first;
        std::string second;
        std::string origin;
    };
    std::vector<Call> calls;
    int ready = 0;
    wkeWebView readyView = nullptr;
    std::vector<std::string> titles;
    std::function<void(const Call&)> onCall;

    std::vector<std::string> argumentsOf(const std::string& function) const {
        std::vector<std::string> out;
        for (const auto& c : calls) {
            if (c.function == function) out.push_back(c.first);
        }
        return out;
    }
};
Record record;

// The native side of every bound test function: its context is the function's name.
jsValue TOVI_ENGINE_CALL recordCall(jsExecState es, void* context) {
    Record::Call call{static_cast<const char*>(context), api->jsToString(es, api->jsArg(es, 0)),
                      api->jsToString(es, api->jsArg(es, 1)), api->jsCallerOrigin(es)};
    record.calls.push_back(call);
    if (record.onCall) record.onCall(call);
    return 0;
}

void TOVI_ENGINE_CALL onReady(wkeWebView view, void* context) {
    ASSERT_EQ(context, &record);
    ++record.ready;
    record.readyView = view;
}

void TOVI_ENGINE_CALL onTitle(wkeWebView view, void* context, wkeString title) {
    ASSERT_EQ(context, &record);
    EXPECT_NE(title, nullptr);
    record.titles.emplace_back(api->wkeGetTitle(view));
}

void bind(const char* name, unsigned count = 1) { api->wkeJsBindFunction(name, recordCall, const_cast<char*>(name), count); }

std::string fileUrl(const fs::path& p) {
    gchar* uri = g_filename_to_uri(p.c_str(), nullptr, nullptr);
    std::string out = uri;
    g_free(uri);
    return out;
}

class WebEngine : public ::testing::Test {
protected:
    void SetUp() override {
        const auto& display = tovi::ui::testing::testDisplay();
        if (!display.ok) GTEST_SKIP() << display.why;
        api = loadEngine();
        ASSERT_NE(api, nullptr) << "cannot load or bind " << TOVI_WEBENGINE_PATH;
        record = Record{};
        app = tovi::ui::createApplication();
        tovi::ui::FrameOptions o;
        o.bounds = {0, 0, 500, 325};
        o.style.popup = true;
        frame = app->createFrame(o);
        char pattern[] = "/tmp/tovi_webengine_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder = pattern;
        api->wkeInitialize();
    }
    void TearDown() override {
        frame.reset();
        app.reset();
        if (!folder.empty()) fs::remove_all(folder);
    }

    wkeWebView createView() {
        wkeWebView view = api->wkeCreateWebWindow(WKE_WINDOW_TYPE_CONTROL, frame->handle(), 0, 0, 500, 325);
        EXPECT_NE(view, nullptr);
        api->wkeOnDocumentReady(view, onReady, &record);
        api->wkeOnTitleChanged(view, onTitle, &record);
        return view;
    }

    // The engine's WebKitWebView: the frame layout's one child.
    GtkWidget* webWidget() {
        GList* children = gtk_container_get_children(GTK_CONTAINER(tovi::ui::gtk::frameLayout(frame->handle())));
        GtkWidget* w = children ? GTK_WIDGET(children->data) : nullptr;
        g_list_free(children);
        return w && WEBKIT_IS_WEB_VIEW(w) ? w : nullptr;
    }

    fs::path write(const std::string& name, const std::string& text) {
        const fs::path p = folder / name;
        std::ofstream(p, std::ios::binary) << text;
        return p;
    }

    bool waitForCalls(const std::string& function, std::size_t n, int ms = 20000) {
        return pumpUntil([&] { return record.argumentsOf(function).size() >= n; }, ms);
    }

    std::unique_ptr<tovi::ui::Application> app;
    std::unique_ptr<tovi::ui::Window> frame;
    fs::path folder;
};

std::string jsonArray(const std::vector<std::string>& texts) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> w(buffer);
    w.StartArray();
    for (const auto& t : texts) w.String(t.c_str(), static_cast<rapidjson::SizeType>(t.size()));
    w.EndArray();
    return buffer.GetString();
}

TEST_F(WebEngine, BoundFunctionsReceiveTheExactText) {
    const std::vector<std::string> texts = {
        "中文小票 合计：¥12.50",
        "say \"hi\"",
        "back\\slash \\n stays two characters",
        "it's",
        "line one\nline two\ttab\r\n",
        "emoji 😀🧾 and U+2028 \xE2\x80\xA8 here",
        "",
        "{\"data\":\"小票\\n第二行\",\"interface\":\"USB\",\"cut\":\"TRUE\"}",
        "<b>not markup</b> & ampersand",
    };
    // One function bound before the view exists, one after the load call (as the client does).
    bind("toviEcho");
    wkeWebView view = createView();
    const fs::path page = write("page.html",
                                "<!doctype html><meta charset=\"utf-8\"><title>t</title>\n"
                                "<script id=\"cases\" type=\"application/json\">" +
                                    jsonArray(texts) +
                                    "</script>\n"
                                    "<script>\n"
                                    "document.addEventListener('DOMContentLoaded', function () {\n"
                                    "  var texts = JSON.parse(document.getElementById('cases').textContent);\n"
                                    "  var results = texts.map(function (t) { return toviEcho(t); });\n"
                                    "  results.push(toviEcho());\n"
                                    "  results.push(toviEcho(42, 'beyond the declared count'));\n"
                                    "  toviDone(JSON.stringify(results));\n"
                                    "});\n"
                                    "</script>\n");
    api->wkeLoadURL(view, fileUrl(page).c_str());
    bind("toviDone");
    ASSERT_TRUE(waitForCalls("toviDone", 1));
    std::vector<std::string> expected = texts;
    expected.push_back("undefined");
    expected.push_back("42");
    EXPECT_EQ(record.argumentsOf("toviEcho"), expected);
    for (const auto& c : record.calls) {
        EXPECT_EQ(c.second, "undefined") << "only the declared argument is passed";
        EXPECT_EQ(c.origin, "file://") << "local files share one origin";
    }
    EXPECT_EQ(record.argumentsOf("toviDone"), (std::vector<std::string>{"[0,0,0,0,0,0,0,0,0,0,0]"}))
        << "every call returns 0 to the page";
    EXPECT_EQ(record.ready, 1);
    EXPECT_EQ(record.readyView, view);
    EXPECT_EQ(record.calls.front().function, "toviEcho") << "calls arrive in the page's order";
}

TEST_F(WebEngine, DocumentReadyAndTitlesAcrossLoads) {
    bind("toviEcho");
    wkeWebView view = createView();
    const fs::path first = write("first.html",
                                 "<!doctype html><meta charset=\"utf-8\"><title>初始标题</title>\n"
                                 "<script>document.addEventListener('DOMContentLoaded', function () {\n"
                                 "  setTimeout(function () { document.title = '新标题 \"收银\"'; }, 30);\n"
                                 "});</script>\n");
    const fs::path second = write("second.html",
                                  "<!doctype html><meta charset=\"utf-8\"><title>第二页</title>\n"
                                  "<script>document.addEventListener('DOMContentLoaded', function () {\n"
                                  "  toviEcho('still bound');\n"
                                  "});</script>\n");
    EXPECT_STREQ(api->wkeGetTitle(view), "");
    api->wkeLoadURL(view, fileUrl(first).c_str());
    ASSERT_TRUE(pumpUntil([&] { return !record.titles.empty() && record.titles.back() == "新标题 \"收银\""; }, 20000));
    EXPECT_EQ(record.ready, 1);
    EXPECT_NE(std::find(record.titles.begin(), record.titles.end(), "初始标题"), record.titles.end());
    EXPECT_STREQ(api->wkeGetTitle(view), "新标题 \"收银\"");

    api->wkeLoadURL(view, fileUrl(second).c_str());
    ASSERT_TRUE(waitForCalls("toviEcho", 1));
    ASSERT_TRUE(pumpUntil([&] { return record.ready == 2; }));
    ASSERT_TRUE(pumpUntil([&] { return record.titles.back() == "第二页"; }));
    EXPECT_EQ(record.argumentsOf("toviEcho"), (std::vector<std::string>{"still bound"}));
}

TEST_F(WebEngine, AFunctionBoundAfterTheLoadReachesThePage) {
    wkeWebView view = createView();
    const fs::path page = write("late.html",
                                "<!doctype html><meta charset=\"utf-8\"><title>late</title>\n"
                                "<script>var timer = setInterval(function () {\n"
                                "  if (typeof toviLate === 'function') { clearInterval(timer); toviLate('收到'); }\n"
                                "}, 20);</script>\n");
    api->wkeLoadURL(view, fileUrl(page).c_str());
    ASSERT_TRUE(pumpUntil([&] { return record.ready == 1; }, 20000));
    pumpFor(100);
    bind("toviLate");
    ASSERT_TRUE(waitForCalls("toviLate", 1, 10000));
    EXPECT_EQ(record.argumentsOf("toviLate"), (std::vector<std::string>{"收到"}));
}

TEST_F(WebEngine, AnEmptyAddressLoadsABlankPage) {
    struct Case {
        const char* url;
    } cases[] = {{""}, {nullptr}};
    wkeWebView view = createView();
    int expectedReady = 0;
    for (const auto& c : cases) {
        api->wkeLoadURL(view, c.url);
        ++expectedReady;
        EXPECT_TRUE(pumpUntil([&] { return record.ready == expectedReady; }, 20000)) << (c.url ? "empty" : "null");
        EXPECT_STREQ(webkit_web_view_get_uri(WEBKIT_WEB_VIEW(webWidget())), "about:blank");
    }
}

TEST_F(WebEngine, ResizeShowAndFocus) {
    wkeWebView view = createView();
    GtkWidget* web = webWidget();
    ASSERT_NE(web, nullptr);
    api->wkeLoadURL(view, "");
    frame->show(tovi::ui::ShowCommand::Normal);
    ASSERT_TRUE(pumpUntil([&] { return record.ready == 1 && gtk_widget_get_allocated_width(web) == 500; }, 20000));

    struct Step {
        int width, height;
    } steps[] = {{320, 200}, {900, 700}, {500, 325}};
    for (const auto& s : steps) {
        frame->setBounds({0, 0, s.width, s.height});
        api->wkeResize(view, s.width, s.height);
        EXPECT_TRUE(pumpUntil([&] {
            return gtk_widget_get_allocated_width(web) == s.width && gtk_widget_get_allocated_height(web) == s.height;
        })) << s.width << "x" << s.height << " got " << gtk_widget_get_allocated_width(web) << "x"
            << gtk_widget_get_allocated_height(web);
    }

    api->wkeShowWindow(view, 0);
    EXPECT_FALSE(gtk_widget_get_visible(web));
    api->wkeShowWindow(view, 1);
    EXPECT_TRUE(gtk_widget_get_visible(web));
    api->wkeSetCspCheckEnable(view, 0);

    ASSERT_TRUE(pumpUntil([&] { return gtk_window_has_toplevel_focus(GTK_WINDOW(frame->handle())); }));
    api->wkeSetFocus(view);
    EXPECT_TRUE(pumpUntil([&] { return gtk_widget_has_focus(web); }));

    gboolean handled = FALSE;  // the engine's own context menu (Back, Reload, Inspect) never opens
    WebKitContextMenu* menu = webkit_context_menu_new();
    g_signal_emit_by_name(web, "context-menu", menu, nullptr, nullptr, &handled);
    g_object_unref(menu);
    EXPECT_TRUE(handled);
}

TEST_F(WebEngine, ThePageCanCloseItsOwnWindowFromABoundFunction) {
    wkeWebView view = createView();
    // What the client's close function does: destroy the view, then the window, from the call.
    record.onCall = [&](const Record::Call& call) {
        if (call.function != "toviClose") return;
        api->wkeDestroyWebWindow(view);
        frame->close();
    };
    bind("toviClose");
    bind("toviEcho");
    const fs::path page = write("close.html",
                                "<!doctype html><meta charset=\"utf-8\"><title>close</title>\n"
                                "<script>document.addEventListener('DOMContentLoaded', function () {\n"
                                "  toviClose(); toviEcho('after close');\n"
                                "});</script>\n");
    api->wkeLoadURL(view, fileUrl(page).c_str());
    frame->show(tovi::ui::ShowCommand::Normal);
    EXPECT_EQ(app->run(), nullptr) << "the loop ends with the last window";
    EXPECT_FALSE(frame->alive());
    EXPECT_EQ(record.argumentsOf("toviClose").size(), 1u);
    // The handle of a destroyed view is harmless in every function.
    api->wkeLoadURL(view, "about:blank");
    api->wkeShowWindow(view, 1);
    api->wkeSetFocus(view);
    api->wkeResize(view, 10, 10);
    api->wkeDestroyWebWindow(view);
    EXPECT_NE(api->wkeGetTitle(view), nullptr);
    const int readyBefore = record.ready;
    pumpFor(300);
    EXPECT_EQ(record.ready, readyBefore);
}

std::string base64Sha256(const std::string& text) {
    GChecksum* sum = g_checksum_new(G_CHECKSUM_SHA256);
    g_checksum_update(sum, reinterpret_cast<const guchar*>(text.data()), static_cast<gssize>(text.size()));
    guint8 digest[32];
    gsize length = sizeof digest;
    g_checksum_get_digest(sum, digest, &length);
    g_checksum_free(sum);
    gchar* b64 = g_base64_encode(digest, length);
    std::string out = b64;
    g_free(b64);
    return out;
}

TEST_F(WebEngine, APagesStrictContentSecurityPolicyDoesNotBlockTheBridge) {
    bind("toviEcho");
    wkeWebView view = createView();
    api->wkeSetCspCheckEnable(view, 0);
    // The page's one inline script is allowed by its hash; eval and every other source are not.
    const std::string script =
        "document.addEventListener('DOMContentLoaded', function () {\n"
        "  var evalState = 'eval allowed';\n"
        "  try { eval('1'); } catch (e) { evalState = 'eval blocked'; }\n"
        "  toviEcho(evalState);\n"
        "});";
    const fs::path page = write("csp.html",
                                "<!doctype html><meta charset=\"utf-8\">\n"
                                "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
                                "script-src 'sha256-" +
                                    base64Sha256(script) +
                                    "'\">\n"
                                    "<title>csp</title><script>" +
                                    script + "</script>\n");
    api->wkeLoadURL(view, fileUrl(page).c_str());
    ASSERT_TRUE(waitForCalls("toviEcho", 1));
    EXPECT_EQ(record.argumentsOf("toviEcho"), (std::vector<std::string>{"eval blocked"}))
        << "the policy is in force, and the bound function still works";
    EXPECT_EQ(record.ready, 1);
}

TEST_F(WebEngine, BadHandlesAndArgumentsAreRefusedQuietly) {
    auto label = app->createLabel(*frame, "x", {0, 0, 10, 10}, true);
    struct Case {
        const char* what;
        int type;
        void* parent;
    } refused[] = {
        {"a popup kind", 0, frame->handle()},
        {"no parent", WKE_WINDOW_TYPE_CONTROL, nullptr},
        {"a label as parent", WKE_WINDOW_TYPE_CONTROL, label->handle()},
    };
    for (const auto& c : refused) {
        EXPECT_EQ(api->wkeCreateWebWindow(c.type, c.parent, 0, 0, 10, 10), nullptr) << c.what;
    }
    api->wkeLoadURL(nullptr, "about:blank");
    api->wkeShowWindow(nullptr, 1);
    api->wkeSetFocus(nullptr);
    api->wkeResize(nullptr, 1, 1);
    api->wkeDestroyWebWindow(nullptr);
    api->wkeOnDocumentReady(nullptr, onReady, &record);
    api->wkeOnTitleChanged(nullptr, onTitle, &record);
    EXPECT_STREQ(api->wkeGetTitle(nullptr), "");
    EXPECT_EQ(api->jsArg(nullptr, 0), 0);
    EXPECT_STREQ(api->jsToString(nullptr, 1), "");
    EXPECT_STREQ(api->jsCallerOrigin(nullptr), "null");
    api->wkeJsBindFunction(nullptr, recordCall, nullptr, 1);
    api->wkeJsBindFunction("toviNothing", nullptr, nullptr, 1);
    api->wkeJsBindFunction("bad\xff", recordCall, const_cast<char*>("bad"), 1);
    EXPECT_EQ(webWidget(), nullptr) << "nothing was put into the frame";
}

}  // namespace

namespace {

// The bundled demo page, driven by a script appended to a copy of it: goods added, then every
// button pressed that does not end the page.
TEST_F(WebEngine, TheDemoPageSendsWellFormedRequests) {
    const fs::path source = TOVI_DEMO_FOLDER;
    ASSERT_TRUE(fs::exists(source / "pos.html"));
    for (const char* name : {"pos.js", "pos.css"}) fs::copy_file(source / name, folder / name);
    std::ifstream in(source / "pos.html", std::ios::binary);
    std::string html((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t end = html.rfind("</body>");
    ASSERT_NE(end, std::string::npos);
    html.insert(end,
                "<script>document.addEventListener('DOMContentLoaded', function () {\n"
                "  setTimeout(function () {\n"
                "    var goods = document.querySelectorAll('[data-good]');\n"
                "    goods[0].click(); goods[1].click(); goods[1].click();\n"
                "    ['receipt', 'settlement', 'drawer', 'display', 'winMin', 'winMax', 'screenfull'].forEach(\n"
                "      function (a) { document.querySelector('[data-action=' + a + ']').click(); });\n"
                "    toviEcho(document.getElementById('total').textContent);\n"
                "  }, 0);\n"
                "});</script>\n");
    write("pos.html", html);
    for (const char* name : {"toviWinMin", "toviWinMax", "toviWinClose", "toviScreenfull", "toviPrint", "toviRijie",
                             "toviOpencash", "toviDisplay", "toviEcho"}) {
        bind(name);
    }
    wkeWebView view = createView();
    api->wkeLoadURL(view, fileUrl(folder / "pos.html").c_str());
    ASSERT_TRUE(waitForCalls("toviEcho", 1));
    EXPECT_EQ(record.argumentsOf("toviEcho"), (std::vector<std::string>{"9.00"}));
    EXPECT_STREQ(api->wkeGetTitle(view), "演示收银台");
    EXPECT_EQ(record.argumentsOf("toviWinMin").size(), 1u);
    EXPECT_EQ(record.argumentsOf("toviWinMax").size(), 1u);
    EXPECT_EQ(record.argumentsOf("toviScreenfull").size(), 1u);
    EXPECT_TRUE(record.argumentsOf("toviWinClose").empty());

    struct Expected {
        const char* function;
        std::vector<std::pair<const char*, const char*>> members;  // value null: any text
        const char* dataContains;
    } expected[] = {
        {"toviPrint",
         {{"data", nullptr}, {"interface", "USB"}, {"opencash", "TRUE"}, {"cut", "TRUE"}, {"blankrow", "3"}},
         "合计：￥9.00"},
        {"toviRijie",
         {{"data", nullptr}, {"interface", "USB"}, {"opencash", "FALSE"}, {"cut", "TRUE"}, {"blankrow", "3"}},
         "日结"},
        {"toviOpencash", {{"interface", "USB"}}, nullptr},
        {"toviDisplay", {{"display_type", "2"}, {"ysje", "9.00"}, {"interface", "COM1"}, {"baudrate", "9600"}}, nullptr},
    };
    for (const auto& e : expected) {
        const auto texts = record.argumentsOf(e.function);
        ASSERT_EQ(texts.size(), 1u) << e.function;
        rapidjson::Document d;
        d.Parse(texts[0].c_str());
        ASSERT_TRUE(d.IsObject()) << e.function << ": " << texts[0];
        for (const auto& [key, value] : e.members) {
            ASSERT_TRUE(d.HasMember(key) && d[key].IsString()) << e.function << " " << key;
            const std::string text = d[key].GetString();
            if (value) {
                EXPECT_EQ(text, value) << e.function << " " << key;
            }
            // Everything but the document's text becomes one word of the support program's
            // command line: no blanks, no quotes, not empty.
            if (std::string(key) != "data") {
                EXPECT_FALSE(text.empty() || text.find_first_of(" \"") != std::string::npos) << e.function << " " << key;
            }
        }
        if (e.dataContains) {
            EXPECT_NE(std::string(d["data"].GetString()).find(e.dataContains), std::string::npos) << e.function;
        }
    }
}

}  // namespace
