// The engine alone, as the memory and start-up baseline of client_bench.py: one GtkWindow holding
// one WebKitWebView that loads the URL given. Nothing of the client is here: no splash, no update
// check, no bridge, no device layer. It does what the client's reveal does, and no more: the window
// takes the page's title and is shown once the page has finished loading, so "time to window
// visible" compares like with like.
//
// With --bridge it also registers one script message handler and posts one message at
// DOMContentLoaded, which is how any page-to-native bridge on this engine learns of a ready
// document: receiving a message wakes JavaScriptCore in the shell's own process (about 5 MiB of
// its pages), a cost of the engine's bridge mechanism rather than of the shell.
//
//   bare_webview [--bridge] <url>

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <cstdio>
#include <cstring>

namespace {

// The client's main window size (client/shell.h): the view's backing store scales with it.
constexpr int kWidth = 500;
constexpr int kHeight = 325;

void onTitle(WebKitWebView* view, GParamSpec*, gpointer window) {
    const gchar* title = webkit_web_view_get_title(view);
    gtk_window_set_title(GTK_WINDOW(window), title ? title : "");
}

void onLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer window) {
    if (event == WEBKIT_LOAD_FINISHED) gtk_widget_show_all(GTK_WIDGET(window));
}

}  // namespace

int main(int argc, char** argv) {
    const bool bridge = argc == 3 && std::strcmp(argv[1], "--bridge") == 0;
    if (argc != 2 && !bridge) {
        std::fprintf(stderr, "usage: bare_webview [--bridge] <url>\n");
        return 2;
    }
    const char* url = argv[argc - 1];
    gtk_init(&argc, &argv);
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_default_size(GTK_WINDOW(window), kWidth, kHeight);
    g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);

    WebKitUserContentManager* content = webkit_user_content_manager_new();
    if (bridge) {
        webkit_user_content_manager_register_script_message_handler(content, "bareReady");
        WebKitUserScript* script = webkit_user_script_new(
            "document.addEventListener('DOMContentLoaded', function () {"
            " window.webkit.messageHandlers.bareReady.postMessage({kind: 'ready'}); });",
            WEBKIT_USER_CONTENT_INJECT_TOP_FRAME, WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
        webkit_user_content_manager_add_script(content, script);
        webkit_user_script_unref(script);
    }
    GtkWidget* view = webkit_web_view_new_with_user_content_manager(content);
    g_object_unref(content);
    // The same drawing mode as the client's engine library, so the memory compares like with like.
    webkit_settings_set_hardware_acceleration_policy(webkit_web_view_get_settings(WEBKIT_WEB_VIEW(view)),
                                                     WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
    gtk_container_add(GTK_CONTAINER(window), view);
    g_signal_connect(view, "notify::title", G_CALLBACK(onTitle), window);
    g_signal_connect(view, "load-changed", G_CALLBACK(onLoadChanged), window);
    webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), url);

    gtk_main();
    return 0;
}
