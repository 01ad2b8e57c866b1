// The GTK 3 backend of the windowing layer: frames (GtkWindow with a GtkLayout as its one child),
// labels (GtkLabel in the layout), JPEG pictures (GdkPixbuf), error boxes (GtkMessageDialog),
// handlers per event, timers and a GMainLoop that ends with the last frame. See gtk_native.h for
// what the handles are.
//
// Everything but post runs on the thread that created the application (GTK's thread).
#include <gtk/gtk.h>

#include <array>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <unordered_map>
#include <utility>
#include <vector>

#include "common/error.h"
#include "ui/gtk/geometry.h"
#include "ui/gtk/gtk_native.h"
#include "ui/ui.h"

namespace tovi::ui {

namespace {

class GtkApp;
class GtkFrame;

// Text handed to GTK must be valid UTF-8; invalid bytes become U+FFFD instead of a GTK warning
// and a truncated title.
std::string validUtf8(std::string_view text) {
    gchar* valid = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
    std::string out(valid);
    g_free(valid);
    return out;
}

// ---- Frames reachable from any thread -------------------------------------------------------
//
// post gets a bare handle, possibly from a worker, possibly after the window is gone. Live frames
// are registered here under a serial number; a posted call carries the serial, so it never
// reaches a later frame that happens to get the same address.
struct FrameRegistry {
    std::mutex mutex;
    std::unordered_map<void*, std::uint64_t> serialOf;   // GtkWindow* -> serial
    std::unordered_map<std::uint64_t, GtkFrame*> frameOf;  // serial -> frame (used on GTK's thread)
    // Sources of posted functions not yet run, per frame serial: removed (and their functions
    // destroyed) when the frame goes.
    std::unordered_map<std::uint64_t, std::set<guint>> postedTo;
    std::uint64_t next = 1;
};

// Never destroyed: a worker may still post while the process runs its exit handlers.
FrameRegistry& registry() {
    static FrameRegistry* r = new FrameRegistry;
    return *r;
}

struct PostedCall {
    std::uint64_t serial = 0;
    guint source = 0;
    std::function<void()> fn;
};

// ---- Pictures and painting ------------------------------------------------------------------

class GtkPicture : public Picture {
public:
    explicit GtkPicture(GdkPixbuf* pixbuf) : pixbuf_(pixbuf) {}
    ~GtkPicture() override { g_object_unref(pixbuf_); }
    GtkPicture(const GtkPicture&) = delete;
    GtkPicture& operator=(const GtkPicture&) = delete;
    Size size() const override { return {gdk_pixbuf_get_width(pixbuf_), gdk_pixbuf_get_height(pixbuf_)}; }
    GdkPixbuf* pixbuf() const { return pixbuf_; }

private:
    GdkPixbuf* pixbuf_;
};

class CairoPainter : public Painter {
public:
    explicit CairoPainter(cairo_t* cr) : cr_(cr) {}
    void drawPicture(const Picture& picture, int x, int y) override {
        const auto* own = dynamic_cast<const GtkPicture*>(&picture);
        if (!own) return;
        const Size s = own->size();
        cairo_save(cr_);
        gdk_cairo_set_source_pixbuf(cr_, own->pixbuf(), x, y);
        cairo_rectangle(cr_, x, y, s.width, s.height);
        cairo_fill(cr_);
        cairo_restore(cr_);
    }

private:
    cairo_t* cr_;
};

// ---- The application ------------------------------------------------------------------------

class GtkApp : public Application {
public:
    GtkApp();
    ~GtkApp() override;
    GtkApp(const GtkApp&) = delete;
    GtkApp& operator=(const GtkApp&) = delete;

    std::unique_ptr<Window> createFrame(const FrameOptions& options) override;
    std::unique_ptr<Window> createLabel(Window& parent, std::string_view text, Rect bounds,
                                        bool transparent) override;
    std::unique_ptr<Picture> decodeJpeg(std::span<const unsigned char> bytes) override;
    void showErrorBox(Window* owner, std::string_view caption, std::string_view text) override;
    Size screenSize() const override {
        const Rect r = primaryScreen();
        return {r.width, r.height};
    }

    void fail(std::exception_ptr error) override {
        if (!pending_) pending_ = std::move(error);
        if (loop_) g_main_loop_quit(loop_);
    }
    bool failed() const override { return static_cast<bool>(pending_); }

    std::exception_ptr run() override {
        if (pending_ || frames_ == 0) return pending_;
        loop_ = g_main_loop_new(nullptr, FALSE);
        g_main_loop_run(loop_);
        g_main_loop_unref(loop_);
        loop_ = nullptr;
        return pending_;
    }

    void frameCreated() { ++frames_; }
    void frameDestroyed() {
        // The last top-level frame gone ends the loop.
        if (--frames_ == 0 && loop_) g_main_loop_quit(loop_);
    }

    // Geometry of the primary monitor in screen coordinates; the first monitor when none is
    // marked primary (a bare X server often marks none).
    static Rect primaryScreen() {
        GdkDisplay* display = gdk_display_get_default();
        if (!display) return {};
        GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
        if (!monitor) monitor = gdk_display_get_monitor(display, 0);
        if (!monitor) return {};
        GdkRectangle g{};
        gdk_monitor_get_geometry(monitor, &g);
        return {g.x, g.y, g.width, g.height};
    }

private:
    std::exception_ptr pending_;
    int frames_ = 0;
    GMainLoop* loop_ = nullptr;
};

// One application at a time: the layer's state (frame count, pending error) lives in it.
GtkApp* theApp = nullptr;

// ---- Windows --------------------------------------------------------------------------------

// What frames and labels share: the widget, its handlers and timers.
class GtkWindowBase : public Window {
public:
    GtkWindowBase(GtkApp& app, GtkWidget* widget) : app_(app), widget_(widget) {
        // Our own reference keeps handle() a valid pointer while this object lives.
        g_object_ref_sink(widget_);
        alive_ = true;
        g_signal_connect(widget_, "destroy", G_CALLBACK(onDestroy), this);
    }
    ~GtkWindowBase() override {
        if (alive_) gtk_widget_destroy(widget_);
        g_signal_handlers_disconnect_by_data(widget_, this);
        g_object_unref(widget_);
    }
    GtkWindowBase(const GtkWindowBase&) = delete;
    GtkWindowBase& operator=(const GtkWindowBase&) = delete;

    NativeHandle handle() const override { return widget_; }
    bool alive() const override { return alive_; }
    void on(Event event, Handler handler) override {
        handlers_[static_cast<std::size_t>(event)].push_back(std::make_shared<Handler>(std::move(handler)));
    }
    bool visible() const override { return alive_ && gtk_widget_get_visible(widget_); }
    void setClipChildren(bool) override {
        // GTK clips every child to its allocation already; there is nothing to switch.
    }
    void startTimer(unsigned id, unsigned periodMs) override {
        if (!alive_) return;
        // Like SetTimer: starting an existing identifier again replaces it.
        stopTimer(id);
        auto* tick = new TimerTick{this, id};
        timers_[id] = g_timeout_add_full(G_PRIORITY_DEFAULT, periodMs, onTimer, tick, freeTick);
    }
    void stopTimer(unsigned id) override {
        auto it = timers_.find(id);
        if (it == timers_.end()) return;
        g_source_remove(it->second);
        timers_.erase(it);
    }
    void setCloseLocked(bool locked) override { closeLocked_ = locked; }
    void close() override {
        if (alive_ && !closeLocked_) gtk_widget_destroy(widget_);
    }

    // Runs the event's handlers in the order added. None runs once an error is pending, and an
    // error thrown by one becomes the pending error (no exception crosses into GTK).
    void dispatch(Event event, const EventArgs& args) {
        GtkApp& app = app_;
        // Windows that outlive their application run nothing.
        if (theApp != &app) return;
        // A copy: a handler may add handlers (which would move the list under our feet).
        const auto list = handlers_[static_cast<std::size_t>(event)];
        for (const auto& handler : list) {
            if (app.failed() || !alive_) return;
            try {
                (*handler)(args);
            } catch (...) {
                app.fail(std::current_exception());
                return;
            }
        }
    }

    // A posted function, with the same guards and barrier as a handler.
    void runPosted(const std::function<void()>& fn) {
        GtkApp& app = app_;
        if (theApp != &app || app.failed() || !alive_) return;
        try {
            fn();
        } catch (...) {
            app.fail(std::current_exception());
        }
    }

protected:
    // The widget is being destroyed (by us, by its parent or by GTK).
    virtual void destroyed() {}

    GtkApp& app_;
    GtkWidget* widget_;
    bool alive_ = false;
    bool closeLocked_ = false;

private:
    struct TimerTick {
        GtkWindowBase* window;
        unsigned id;
    };
    static gboolean onTimer(gpointer data) {
        auto* tick = static_cast<TimerTick*>(data);
        EventArgs args;
        args.first = tick->id;
        tick->window->dispatch(Event::Timer, args);
        // A handler that stopped this timer has removed the source already; G_SOURCE_CONTINUE
        // on a removed source is harmless.
        return G_SOURCE_CONTINUE;
    }
    static void freeTick(gpointer data) { delete static_cast<TimerTick*>(data); }

    static void onDestroy(GtkWidget*, gpointer self) {
        auto* w = static_cast<GtkWindowBase*>(self);
        if (!w->alive_) return;
        w->alive_ = false;
        for (const auto& [id, source] : w->timers_) g_source_remove(source);
        w->timers_.clear();
        w->destroyed();
    }

    std::array<std::vector<std::shared_ptr<Handler>>, 4> handlers_;
    std::map<unsigned, guint> timers_;
};

class GtkFrame : public GtkWindowBase {
public:
    GtkFrame(GtkApp& app, const FrameOptions& o) : GtkWindowBase(app, gtk_window_new(GTK_WINDOW_TOPLEVEL)) {
        GtkWindow* win = window();
        bounds_ = o.bounds;
        gtk_window_set_title(win, validUtf8(o.title).c_str());
        gtk_window_set_decorated(win, !o.style.popup);
        gtk_window_set_deletable(win, o.style.systemMenu);
        gtk_window_set_keep_above(win, o.style.topmost);
        if (o.style.border) {
            // The border is drawn over the window's edge after the children (see onBorderDraw).
            gtk_container_set_border_width(GTK_CONTAINER(win), 1);
            g_signal_connect_after(win, "draw", G_CALLBACK(onBorderDraw), this);
        }
        layout_ = gtk_layout_new(nullptr, nullptr);
        gtk_container_add(GTK_CONTAINER(win), layout_);
        gtk_widget_show(layout_);
        gtk_window_set_default_size(win, std::max(1, o.bounds.width), std::max(1, o.bounds.height));
        gtk_window_move(win, o.bounds.x, o.bounds.y);

        g_signal_connect(win, "delete-event", G_CALLBACK(onDelete), this);
        g_signal_connect(win, "focus-in-event", G_CALLBACK(onFocusIn), this);
        g_signal_connect(win, "configure-event", G_CALLBACK(onConfigure), this);
        g_signal_connect(layout_, "draw", G_CALLBACK(onLayoutDraw), this);

        {
            FrameRegistry& r = registry();
            std::lock_guard lock(r.mutex);
            serial_ = r.next++;
            r.serialOf[widget_] = serial_;
            r.frameOf[serial_] = this;
        }
        app_.frameCreated();
        if (o.visible) show(ShowCommand::Normal);
    }
    ~GtkFrame() override {
        if (alive_) gtk_widget_destroy(widget_);
    }

    GtkWindow* window() const { return GTK_WINDOW(widget_); }

    void show(ShowCommand command) override {
        if (!alive_) return;
        GtkWindow* win = window();
        switch (command) {
            case ShowCommand::Hide:
                gtk_widget_hide(widget_);
                break;
            case ShowCommand::Normal:
                gtk_window_deiconify(win);
                gtk_window_unmaximize(win);
                gtk_widget_show(widget_);
                gtk_window_present(win);
                break;
            case ShowCommand::Minimize:
                // Iconified before it is mapped, a hidden window appears minimised.
                gtk_window_iconify(win);
                gtk_widget_show(widget_);
                break;
            case ShowCommand::Maximize:
                gtk_window_deiconify(win);
                gtk_window_maximize(win);
                gtk_widget_show(widget_);
                gtk_window_present(win);
                break;
        }
    }

    void focus() override {
        if (!alive_ || !gtk_widget_get_visible(widget_)) return;
        if (gtk_window_has_toplevel_focus(window())) {
            dispatch(Event::Focus, {});
        } else {
            gtk_window_present(window());
        }
    }

    void setText(std::string_view utf8) override {
        if (alive_) gtk_window_set_title(window(), validUtf8(utf8).c_str());
    }

    void setBounds(Rect b) override {
        if (!alive_) return;
        bounds_ = b;
        gtk_window_move(window(), b.x, b.y);
        gtk_window_resize(window(), std::max(1, b.width), std::max(1, b.height));
    }
    Rect bounds() const override { return alive_ ? bounds_ : Rect{}; }

    void centre(bool horizontally, bool vertically) override {
        if (!alive_) return;
        const auto o = gtk::centredOrigin(bounds_, GtkApp::primaryScreen(), horizontally, vertically);
        bounds_.x = o.x;
        bounds_.y = o.y;
        gtk_window_move(window(), o.x, o.y);
    }

    GtkWidget* layout() const { return layout_; }

    static gboolean runPostedCall(gpointer data) {
        auto* call = static_cast<PostedCall*>(data);
        GtkFrame* frame = nullptr;
        {
            FrameRegistry& r = registry();
            std::lock_guard lock(r.mutex);
            if (auto it = r.postedTo.find(call->serial); it != r.postedTo.end()) it->second.erase(call->source);
            if (auto it = r.frameOf.find(call->serial); it != r.frameOf.end()) frame = it->second;
        }
        if (frame) frame->runPosted(call->fn);
        // The source's destroy notification frees the call.
        return G_SOURCE_REMOVE;
    }
    static void freePostedCall(gpointer data) { delete static_cast<PostedCall*>(data); }

protected:
    void destroyed() override {
        std::set<guint> posted;
        {
            FrameRegistry& r = registry();
            std::lock_guard lock(r.mutex);
            r.serialOf.erase(widget_);
            r.frameOf.erase(serial_);
            if (auto it = r.postedTo.find(serial_); it != r.postedTo.end()) {
                posted = std::move(it->second);
                r.postedTo.erase(it);
            }
        }
        // Outside the lock: removing a source destroys its function, which may do anything.
        for (const guint source : posted) g_source_remove(source);
        if (theApp == &app_) app_.frameDestroyed();
    }

private:
    static gboolean onDelete(GtkWidget*, GdkEvent*, gpointer self) {
        // TRUE keeps the window: the system's close command is ignored while closing is locked.
        return static_cast<GtkFrame*>(self)->closeLocked_ ? TRUE : FALSE;
    }
    static gboolean onFocusIn(GtkWidget*, GdkEventFocus*, gpointer self) {
        static_cast<GtkFrame*>(self)->dispatch(Event::Focus, {});
        return FALSE;
    }
    static gboolean onConfigure(GtkWidget*, GdkEventConfigure* e, gpointer self) {
        // Where the window system actually put the window (a maximised one included).
        static_cast<GtkFrame*>(self)->bounds_ = {e->x, e->y, e->width, e->height};
        return FALSE;
    }
    static gboolean onLayoutDraw(GtkWidget* layout, cairo_t* cr, gpointer self) {
        // The layout's children live on its bin window: paint there, under them. Returning FALSE
        // lets the layout draw its children (the labels) over the picture.
        if (gtk_cairo_should_draw_window(cr, gtk_layout_get_bin_window(GTK_LAYOUT(layout)))) {
            CairoPainter painter(cr);
            EventArgs args;
            args.painter = &painter;
            static_cast<GtkFrame*>(self)->dispatch(Event::Paint, args);
        }
        return FALSE;
    }
    static gboolean onBorderDraw(GtkWidget* widget, cairo_t* cr, gpointer) {
        const int w = gtk_widget_get_allocated_width(widget);
        const int h = gtk_widget_get_allocated_height(widget);
        cairo_save(cr);
        cairo_set_source_rgb(cr, 0.39, 0.39, 0.39);
        cairo_set_line_width(cr, 1.0);
        cairo_rectangle(cr, 0.5, 0.5, w - 1.0, h - 1.0);
        cairo_stroke(cr);
        cairo_restore(cr);
        return FALSE;
    }

    GtkWidget* layout_ = nullptr;
    Rect bounds_;
    std::uint64_t serial_ = 0;
};

class GtkTextLabel : public GtkWindowBase {
public:
    GtkTextLabel(GtkApp& app, GtkWidget* layout, GtkWidget* parentWindow, std::string_view text, Rect b,
                 bool transparent)
        : GtkWindowBase(app, gtk_label_new(validUtf8(text).c_str())), layout_(layout), parentWindow_(parentWindow) {
        GtkLabel* label = GTK_LABEL(widget_);
        // One line, left-aligned, vertically centred; text longer than the label ends in an
        // ellipsis (the layout gives a child its minimum size, so this also keeps the width).
        gtk_label_set_single_line_mode(label, TRUE);
        gtk_label_set_ellipsize(label, PANGO_ELLIPSIZE_END);
        gtk_label_set_xalign(label, 0.0f);
        gtk_label_set_yalign(label, 0.5f);
        if (!transparent) g_signal_connect(widget_, "draw", G_CALLBACK(onOpaqueDraw), this);
        bounds_ = b;
        gtk_widget_set_size_request(widget_, b.width, b.height);
        gtk_layout_put(GTK_LAYOUT(layout_), widget_, b.x, b.y);
        gtk_widget_show(widget_);
    }

    void show(ShowCommand command) override {
        if (!alive_) return;
        if (command == ShowCommand::Hide) {
            gtk_widget_hide(widget_);
        } else {
            gtk_widget_show(widget_);
        }
    }
    void focus() override {
        // A static text takes no keyboard focus.
    }
    void setText(std::string_view utf8) override {
        if (alive_) gtk_label_set_text(GTK_LABEL(widget_), validUtf8(utf8).c_str());
    }
    void setBounds(Rect b) override {
        // Unchanged bounds change nothing: a paint handler sets them on every paint, and moving a
        // child queues a new paint.
        if (!alive_ || b == bounds_) return;
        bounds_ = b;
        gtk_widget_set_size_request(widget_, b.width, b.height);
        gtk_layout_move(GTK_LAYOUT(layout_), widget_, b.x, b.y);
    }
    Rect bounds() const override { return alive_ ? bounds_ : Rect{}; }
    void centre(bool, bool) override {
        // Labels are placed by client coordinates only.
    }

private:
    static gboolean onOpaqueDraw(GtkWidget* widget, cairo_t* cr, gpointer self) {
        // An opaque label hides the parent's painting behind it with the window's background.
        auto* l = static_cast<GtkTextLabel*>(self);
        gtk_render_background(gtk_widget_get_style_context(l->parentWindow_), cr, 0, 0,
                              gtk_widget_get_allocated_width(widget), gtk_widget_get_allocated_height(widget));
        return FALSE;
    }

    GtkWidget* layout_;
    GtkWidget* parentWindow_;
    Rect bounds_;
};

GtkApp::GtkApp() {
    if (theApp) throw Error("a windowing application exists already", "RuntimeError");
    if (!gtk_init_check(nullptr, nullptr)) throw Error("cannot open the display", "OSError");
    theApp = this;
}

GtkApp::~GtkApp() { theApp = nullptr; }

std::unique_ptr<Window> GtkApp::createFrame(const FrameOptions& options) {
    return std::make_unique<GtkFrame>(*this, options);
}

std::unique_ptr<Window> GtkApp::createLabel(Window& parent, std::string_view text, Rect bounds, bool transparent) {
    auto* frame = dynamic_cast<GtkFrame*>(&parent);
    if (!frame) throw Error("a label needs a frame as its parent", "ValueError");
    if (!frame->alive()) throw Error("cannot create a window", "OSError");
    return std::make_unique<GtkTextLabel>(*this, frame->layout(), static_cast<GtkWidget*>(frame->handle()), text,
                                          bounds, transparent);
}

std::unique_ptr<Picture> GtkApp::decodeJpeg(std::span<const unsigned char> bytes) {
    GError* error = nullptr;
    GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type("jpeg", &error);
    if (!loader) {
        g_clear_error(&error);
        throw Error("cannot decode the picture", "OSError");
    }
    bool ok = !bytes.empty() && gdk_pixbuf_loader_write(loader, bytes.data(), bytes.size(), &error);
    g_clear_error(&error);
    // Close in every case (the loader complains when finalised open); a truncated picture fails
    // here.
    ok = gdk_pixbuf_loader_close(loader, ok ? &error : nullptr) && ok;
    g_clear_error(&error);
    GdkPixbuf* pixbuf = ok ? gdk_pixbuf_loader_get_pixbuf(loader) : nullptr;
    if (pixbuf) g_object_ref(pixbuf);
    g_object_unref(loader);
    if (!pixbuf) throw Error("cannot decode the picture", "ValueError");
    return std::make_unique<GtkPicture>(pixbuf);
}

void GtkApp::showErrorBox(Window* owner, std::string_view caption, std::string_view text) {
    GtkWindow* parent = nullptr;
    if (owner && owner->alive()) {
        GtkWidget* top = gtk_widget_get_toplevel(static_cast<GtkWidget*>(owner->handle()));
        if (GTK_IS_WINDOW(top)) parent = GTK_WINDOW(top);
    }
    // "%s": the text is shown as it is, never read as a format or as markup.
    const auto flags = GtkDialogFlags(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT);
    GtkWidget* dialog =
        gtk_message_dialog_new(parent, flags, GTK_MESSAGE_ERROR, GTK_BUTTONS_OK, "%s", validUtf8(text).c_str());
    // Our own reference: the owner's destruction may destroy the dialog inside gtk_dialog_run.
    g_object_ref_sink(dialog);
    gtk_window_set_title(GTK_WINDOW(dialog), validUtf8(caption).c_str());
    // A hidden owner (the main window before it is revealed) has no place to centre on.
    const bool ownerShown = parent && gtk_widget_get_visible(GTK_WIDGET(parent));
    gtk_window_set_position(GTK_WINDOW(dialog), ownerShown ? GTK_WIN_POS_CENTER_ON_PARENT : GTK_WIN_POS_CENTER);
    // Enter activates OK (it is the default and has the focus); GtkDialog binds Escape to close.
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
    // A nested main loop: the application's windows keep painting and its handlers keep running.
    gtk_dialog_run(GTK_DIALOG(dialog));
    gtk_widget_destroy(dialog);
    g_object_unref(dialog);
}

}  // namespace

std::unique_ptr<Application> createApplication() { return std::make_unique<GtkApp>(); }

bool post(NativeHandle window, std::function<void()> fn) {
    try {
        auto call = std::make_unique<PostedCall>();
        call->fn = std::move(fn);
        FrameRegistry& r = registry();
        // Declared after call: a refused call is destroyed once the lock is released.
        std::lock_guard lock(r.mutex);
        auto it = r.serialOf.find(window);
        if (it == r.serialOf.end()) return false;
        std::set<guint>& pending = r.postedTo[it->second];
        call->serial = it->second;
        PostedCall* raw = call.release();
        // Default priority, like a posted message ahead of painting; same-priority sources run in
        // the order added, so posts run in the order posted. The source runs on GTK's thread only
        // after this lock is released, so raw->source is set.
        raw->source = g_idle_add_full(G_PRIORITY_DEFAULT, GtkFrame::runPostedCall, raw, GtkFrame::freePostedCall);
        pending.insert(raw->source);
        return true;
    } catch (...) {
        // Out of memory on a worker: nothing posted.
        return false;
    }
}

}  // namespace tovi::ui
