// The GTK backend on a real X display (a private Xvfb when DISPLAY is unset).
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "common/error.h"
#include "ui/gtk/gtk_native.h"
#include "ui/gtk/testing/x_display.h"
#include "ui/ui.h"

namespace tovi::ui {
namespace {

using testing::pumpFor;
using testing::pumpUntil;

class GtkUi : public ::testing::Test {
protected:
    void SetUp() override {
        const auto& display = testing::testDisplay();
        if (!display.ok) GTEST_SKIP() << display.why;
        app = createApplication();
    }
    void TearDown() override { app.reset(); }

    std::unique_ptr<Window> frame(Rect bounds = {0, 0, 300, 200}, FrameStyle style = {}) {
        FrameOptions o;
        o.bounds = bounds;
        o.style = style;
        return app->createFrame(o);
    }

    // A JPEG of one colour, made by the same library the backend decodes with.
    static std::vector<unsigned char> jpeg(int width, int height, guint32 rgba) {
        GdkPixbuf* p = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, width, height);
        gdk_pixbuf_fill(p, rgba);
        gchar* buffer = nullptr;
        gsize size = 0;
        EXPECT_TRUE(gdk_pixbuf_save_to_buffer(p, &buffer, &size, "jpeg", nullptr, "quality", "95", nullptr));
        std::vector<unsigned char> out(buffer, buffer + size);
        g_free(buffer);
        g_object_unref(p);
        return out;
    }

    static GtkWindow* gtkWindow(Window& w) { return GTK_WINDOW(w.handle()); }

    std::unique_ptr<Application> app;
};

TEST_F(GtkUi, FrameHandleIsTheWindowWithALayoutChild) {
    auto f = frame();
    ASSERT_TRUE(f->alive());
    EXPECT_FALSE(f->visible()) << "frames are created hidden";
    ASSERT_TRUE(GTK_IS_WINDOW(f->handle()));
    GtkLayout* layout = gtk::frameLayout(f->handle());
    ASSERT_NE(layout, nullptr);
    EXPECT_EQ(gtk_bin_get_child(GTK_BIN(f->handle())), GTK_WIDGET(layout));

    auto label = app->createLabel(*f, "x", {1, 2, 30, 20}, true);
    EXPECT_TRUE(GTK_IS_LABEL(label->handle()));
    EXPECT_EQ(gtk::frameLayout(label->handle()), nullptr) << "a label is no frame";
    EXPECT_EQ(gtk::frameLayout(nullptr), nullptr);
    EXPECT_THROW(app->createLabel(*label, "y", {0, 0, 1, 1}, true), Error) << "labels go into frames only";
}

TEST_F(GtkUi, FrameStylesReachTheWindow) {
    auto popup = frame({0, 0, 200, 100}, {.popup = true, .border = true, .systemMenu = true, .topmost = true});
    auto plain = frame({0, 0, 200, 100}, {});
    EXPECT_FALSE(gtk_window_get_decorated(gtkWindow(*popup)));
    EXPECT_TRUE(gtk_window_get_deletable(gtkWindow(*popup)));
    EXPECT_EQ(gtk_container_get_border_width(GTK_CONTAINER(popup->handle())), 1u);
    EXPECT_TRUE(gtk_window_get_decorated(gtkWindow(*plain)));
    EXPECT_FALSE(gtk_window_get_deletable(gtkWindow(*plain)));
    EXPECT_EQ(gtk_container_get_border_width(GTK_CONTAINER(plain->handle())), 0u);
}

TEST_F(GtkUi, TitlesAreUtf8AndInvalidBytesAreReplaced) {
    struct Case {
        std::string given;
        std::string shown;
    } cases[] = {
        {"", ""},
        {"收银台 POS", "收银台 POS"},
        {"a\xff" "b", "a\xEF\xBF\xBD" "b"},
        {"cut \xE6\x94", "cut \xEF\xBF\xBD\xEF\xBF\xBD"},  // one replacement per stray byte
    };
    auto f = frame();
    for (const auto& c : cases) {
        f->setText(c.given);
        EXPECT_EQ(std::string(gtk_window_get_title(gtkWindow(*f))), c.shown) << c.given;
    }
    auto label = app->createLabel(*f, "a\xff", {0, 0, 100, 20}, true);
    EXPECT_EQ(std::string(gtk_label_get_text(GTK_LABEL(label->handle()))), "a\xEF\xBF\xBD");
    label->setText("正在更新 list.txt");
    EXPECT_EQ(std::string(gtk_label_get_text(GTK_LABEL(label->handle()))), "正在更新 list.txt");
}

TEST_F(GtkUi, DecodesJpegFromMemoryAndRefusesAnythingElse) {
    const auto good = jpeg(44, 26, 0xff0000ff);
    auto picture = app->decodeJpeg(good);
    EXPECT_EQ(picture->size(), (Size{44, 26}));

    GdkPixbuf* p = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, 4, 4);
    gchar* png = nullptr;
    gsize pngSize = 0;
    ASSERT_TRUE(gdk_pixbuf_save_to_buffer(p, &png, &pngSize, "png", nullptr, nullptr));
    const std::vector<unsigned char> pngBytes(png, png + pngSize);
    g_free(png);
    g_object_unref(p);

    struct Case {
        const char* what;
        std::vector<unsigned char> bytes;
    } bad[] = {
        {"empty", {}},
        {"truncated JPEG", std::vector<unsigned char>(good.begin(), good.begin() + static_cast<long>(good.size() / 3))},
        {"PNG", pngBytes},
        {"text", {'h', 'e', 'l', 'l', 'o'}},
    };
    for (const auto& c : bad) {
        try {
            app->decodeJpeg(c.bytes);
            ADD_FAILURE() << c.what << " decoded";
        } catch (const Error& e) {
            EXPECT_EQ(e.kind(), "ValueError") << c.what;
        }
    }
}

TEST_F(GtkUi, RunEndsWhenTheLastFrameIsDestroyed) {
    auto a = frame();
    auto b = frame();
    std::vector<std::string> seen;
    a->on(Event::Timer, [&](const EventArgs&) {
        seen.push_back("a");
        a->close();
    });
    b->on(Event::Timer, [&](const EventArgs&) {
        seen.push_back("b");
        b->stopTimer(9);
        if (!a->alive()) b->close();
    });
    a->startTimer(9, 10);
    b->startTimer(9, 40);
    EXPECT_EQ(app->run(), nullptr);
    EXPECT_FALSE(a->alive());
    EXPECT_FALSE(b->alive());
    EXPECT_EQ(seen, (std::vector<std::string>{"a", "b"}));
    // Every call on a destroyed window is ignored.
    a->show(ShowCommand::Normal);
    a->setText("t");
    a->setBounds({1, 1, 1, 1});
    a->startTimer(1, 1);
    a->focus();
    a->close();
    EXPECT_FALSE(a->visible());
    EXPECT_EQ(a->bounds(), Rect{});
    EXPECT_EQ(app->run(), nullptr) << "no frame left: returns at once";
}

TEST_F(GtkUi, HandlersRunInOrderAndStopAtAPendingError) {
    auto f = frame();
    std::vector<int> order;
    f->on(Event::Timer, [&](const EventArgs& args) {
        order.push_back(1);
        EXPECT_EQ(args.first, 5u);
    });
    f->on(Event::Timer, [&](const EventArgs&) {
        order.push_back(2);
        throw valueError("bad request");
    });
    f->on(Event::Timer, [&](const EventArgs&) { order.push_back(3); });
    f->startTimer(5, 10);
    const std::exception_ptr error = app->run();
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(unhandledErrorText(error), "Error: unhandled exception: bad request [ValueError]\n");
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    EXPECT_TRUE(f->alive()) << "the windows stay on screen for the report";
    EXPECT_TRUE(app->failed());
    // Nothing runs any more, and run() keeps answering with the first error.
    EXPECT_TRUE(post(f->handle(), [&] { order.push_back(4); }));
    pumpFor(60);
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    app->fail(std::make_exception_ptr(std::runtime_error("second")));
    EXPECT_EQ(unhandledErrorText(app->run()), "Error: unhandled exception: bad request [ValueError]\n");
}

TEST_F(GtkUi, AHandlerAddedWhileDispatchingRunsNextTime) {
    auto f = frame();
    int added = 0, ticks = 0;
    f->on(Event::Timer, [&](const EventArgs&) {
        ++ticks;
        if (ticks == 1) f->on(Event::Timer, [&](const EventArgs&) { ++added; });
        if (ticks == 3) f->close();
    });
    f->startTimer(1, 5);
    EXPECT_EQ(app->run(), nullptr);
    EXPECT_EQ(ticks, 3);
    EXPECT_EQ(added, 1) << "added during tick 1, ran in tick 2 only (tick 3 closed the window first)";
}

TEST_F(GtkUi, TimersArePerWindowAndIdentifier) {
    auto a = frame();
    auto b = frame();
    std::vector<std::pair<char, std::uintptr_t>> ticks;
    a->on(Event::Timer, [&](const EventArgs& e) {
        ticks.push_back({'a', e.first});
        a->stopTimer(static_cast<unsigned>(e.first));
    });
    b->on(Event::Timer, [&](const EventArgs& e) {
        ticks.push_back({'b', e.first});
        b->stopTimer(static_cast<unsigned>(e.first));
    });
    a->startTimer(1, 10);
    a->startTimer(2, 30);
    b->startTimer(1, 50);
    // Restarting an identifier replaces its timer: 2 now fires after 1 of b.
    a->startTimer(2, 90);
    pumpUntil([&] { return ticks.size() == 3; }, 5000);
    pumpFor(150);
    const std::vector<std::pair<char, std::uintptr_t>> expected{{'a', 1}, {'b', 1}, {'a', 2}};
    EXPECT_EQ(ticks, expected);
}

TEST_F(GtkUi, CloseIsSynchronousUnlessLocked) {
    auto f = frame();
    auto label = app->createLabel(*f, "x", {0, 0, 10, 10}, true);
    f->setCloseLocked(true);
    f->close();
    EXPECT_TRUE(f->alive());
    // The system's close command (a delete event from the window manager) is refused too.
    GdkEvent* del = gdk_event_new(GDK_DELETE);
    gtk_widget_realize(GTK_WIDGET(f->handle()));
    del->any.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(GTK_WIDGET(f->handle()))));
    gtk_main_do_event(del);
    EXPECT_TRUE(f->alive());
    f->setCloseLocked(false);
    gtk_main_do_event(del);
    gdk_event_free(del);
    EXPECT_FALSE(f->alive()) << "an unlocked frame is destroyed by the close command";
    EXPECT_FALSE(label->alive()) << "its children go with it";

    auto g = frame();
    g->close();
    EXPECT_FALSE(g->alive());
    EXPECT_EQ(app->run(), nullptr);
}

TEST_F(GtkUi, AWindowThatOutlivesItsApplicationIsHarmless) {
    auto f = frame();
    int ticks = 0;
    f->on(Event::Timer, [&](const EventArgs&) { ++ticks; });
    f->startTimer(1, 5);
    app.reset();
    pumpFor(50);
    EXPECT_EQ(ticks, 0) << "no handler runs without its application";
    f->close();
    EXPECT_FALSE(f->alive());
    app = createApplication();
    EXPECT_EQ(app->run(), nullptr) << "the new application counts no frame of the old one";
}

TEST_F(GtkUi, AnErrorThrownByAPostedFunctionBecomesThePendingError) {
    auto f = frame();
    std::thread worker([handle = f->handle()] { EXPECT_TRUE(post(handle, [] { throw valueError("check failed"); })); });
    worker.join();
    EXPECT_EQ(unhandledErrorText(app->run()), "Error: unhandled exception: check failed [ValueError]\n");
    EXPECT_TRUE(f->alive()) << "the windows stay on screen for the report";
}

TEST_F(GtkUi, PostedFunctionsRunOnTheUiThreadInOrderAndDieWithTheirWindow) {
    auto f = frame();
    const auto ui = std::this_thread::get_id();
    std::vector<int> ran;
    std::atomic<int> accepted{0};
    std::thread worker([&, handle = f->handle()] {
        for (int i = 0; i < 100; ++i) {
            accepted += post(handle, [&, i] {
                EXPECT_EQ(std::this_thread::get_id(), ui);
                ran.push_back(i);
                if (i == 99) f->close();
            }) ? 1 : 0;
        }
    });
    EXPECT_EQ(app->run(), nullptr);
    worker.join();
    ASSERT_EQ(accepted.load(), 100);
    ASSERT_EQ(ran.size(), 100u);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(ran[static_cast<std::size_t>(i)], i);

    // Posted to a window that goes before the loop runs again: destroyed without running.
    auto g = frame();
    auto owned = std::make_shared<int>(0);
    EXPECT_TRUE(post(g->handle(), [owned] { ++*owned; }));
    EXPECT_EQ(owned.use_count(), 2);
    const NativeHandle old = g->handle();
    g->close();
    EXPECT_EQ(owned.use_count(), 1) << "the layer destroys the function with its window";
    EXPECT_FALSE(post(old, [owned] { ++*owned; }));
    EXPECT_FALSE(post(nullptr, [] {}));
    EXPECT_FALSE(post(reinterpret_cast<NativeHandle>(&ran), [] {})) << "no window of ours";
    auto f2 = frame();
    auto label = app->createLabel(*f2, "x", {0, 0, 10, 10}, true);
    EXPECT_FALSE(post(label->handle(), [] {})) << "posts go to frames";
    pumpFor(50);
    EXPECT_EQ(*owned, 0);
    EXPECT_EQ(owned.use_count(), 1);
}

TEST_F(GtkUi, CentresOnThePrimaryScreen) {
    const Size screen = app->screenSize();
    ASSERT_GT(screen.width, 0);
    ASSERT_GT(screen.height, 0);
    if (testing::testDisplay().ownServer) {
        EXPECT_EQ(screen, (Size{1280, 800})) << "the private server's screen";
    }
    auto f = frame({3, 4, 500, 325}, {.popup = true});
    f->centre(true, false);
    EXPECT_EQ(f->bounds(), (Rect{(screen.width - 500) / 2, 4, 500, 325}));
    f->centre(true, true);
    const Rect expected{(screen.width - 500) / 2, (screen.height - 325) / 2, 500, 325};
    EXPECT_EQ(f->bounds(), expected);
    f->show(ShowCommand::Normal);
    ASSERT_TRUE(pumpUntil([&] { return gtk_widget_get_mapped(GTK_WIDGET(f->handle())); }));
    pumpFor(100);
    int x = 0, y = 0;
    gdk_window_get_root_origin(gtk_widget_get_window(GTK_WIDGET(f->handle())), &x, &y);
    EXPECT_EQ(x, expected.x);
    EXPECT_EQ(y, expected.y);
}

TEST_F(GtkUi, TheWindowGrowsAndShrinksAgain) {
    auto f = frame({0, 0, 500, 325}, {.popup = true, .border = true});
    f->show(ShowCommand::Normal);
    GtkWidget* layout = GTK_WIDGET(gtk::frameLayout(f->handle()));
    // A child larger than the window must not hold it open (a GtkLayout asks nothing of it).
    GtkWidget* big = gtk_label_new("big");
    gtk_widget_set_size_request(big, 900, 700);
    gtk_layout_put(GTK_LAYOUT(layout), big, 0, 0);
    gtk_widget_show(big);
    struct Step {
        Rect bounds;
    } steps[] = {{{0, 0, 800, 600}}, {{10, 20, 320, 200}}, {{0, 0, 1000, 700}}, {{5, 5, 400, 300}}};
    for (const auto& s : steps) {
        f->setBounds(s.bounds);
        const bool settled = pumpUntil([&] {
            return gtk_widget_get_allocated_width(GTK_WIDGET(f->handle())) == s.bounds.width &&
                   gtk_widget_get_allocated_height(GTK_WIDGET(f->handle())) == s.bounds.height;
        });
        EXPECT_TRUE(settled) << s.bounds.width << "x" << s.bounds.height << " got "
                             << gtk_widget_get_allocated_width(GTK_WIDGET(f->handle())) << "x"
                             << gtk_widget_get_allocated_height(GTK_WIDGET(f->handle()));
        // Inside the one-pixel border.
        EXPECT_EQ(gtk_widget_get_allocated_width(layout), s.bounds.width - 2);
        EXPECT_EQ(f->bounds().width, s.bounds.width);
        EXPECT_EQ(f->bounds().height, s.bounds.height);
    }
}

// Renders the frame's layout into an image and reads pixels back.
class Snapshot {
public:
    explicit Snapshot(GtkWidget* widget)
        : surface_(cairo_image_surface_create(CAIRO_FORMAT_RGB24, gtk_widget_get_allocated_width(widget),
                                              gtk_widget_get_allocated_height(widget))) {
        cairo_t* cr = cairo_create(surface_);
        cairo_set_source_rgb(cr, 0, 0, 1);  // blue: whatever nothing paints over
        cairo_paint(cr);
        gtk_widget_draw(widget, cr);
        cairo_destroy(cr);
        cairo_surface_flush(surface_);
    }
    ~Snapshot() { cairo_surface_destroy(surface_); }
    Snapshot(const Snapshot&) = delete;
    Snapshot& operator=(const Snapshot&) = delete;
    // 0xRRGGBB
    std::uint32_t at(int x, int y) const {
        const unsigned char* data = cairo_image_surface_get_data(surface_);
        const int stride = cairo_image_surface_get_stride(surface_);
        std::uint32_t v;
        std::memcpy(&v, data + y * stride + x * 4, 4);
        return v & 0xffffff;
    }

private:
    cairo_surface_t* surface_;
};

bool near(std::uint32_t colour, std::uint32_t expected) {
    for (int shift : {0, 8, 16}) {
        const int a = static_cast<int>((colour >> shift) & 0xff), b = static_cast<int>((expected >> shift) & 0xff);
        if (std::abs(a - b) > 12) return false;
    }
    return true;
}

TEST_F(GtkUi, PaintDrawsThePictureUnderATransparentLabel) {
    auto f = frame({0, 0, 440, 260}, {.popup = true});
    auto picture = app->decodeJpeg(jpeg(440, 260, 0xff0000ff));
    int paints = 0;
    f->on(Event::Paint, [&](const EventArgs& e) {
        ++paints;
        ASSERT_NE(e.painter, nullptr);
        e.painter->drawPicture(*picture, 0, 0);
    });
    auto clear = app->createLabel(*f, "正在加载，请稍候……", {20, 225, 300, 20}, true);
    auto opaque = app->createLabel(*f, "", {20, 20, 100, 20}, false);
    f->show(ShowCommand::Normal);
    GtkWidget* layout = GTK_WIDGET(gtk::frameLayout(f->handle()));
    ASSERT_TRUE(pumpUntil([&] { return paints > 0 && gtk_widget_get_allocated_width(layout) == 440; }));
    pumpFor(50);
    Snapshot shot(layout);
    EXPECT_TRUE(near(shot.at(5, 5), 0xff0000)) << std::hex << shot.at(5, 5);
    EXPECT_TRUE(near(shot.at(430, 250), 0xff0000)) << std::hex << shot.at(430, 250);
    // Behind the transparent label (right of its text) the picture shows through.
    EXPECT_TRUE(near(shot.at(315, 235), 0xff0000)) << std::hex << shot.at(315, 235);
    // The opaque label covers the picture with the window's background.
    EXPECT_FALSE(near(shot.at(60, 30), 0xff0000)) << std::hex << shot.at(60, 30);
}

TEST_F(GtkUi, LabelBoundsMoveOnlyWhenChanged) {
    auto f = frame({0, 0, 440, 260}, {.popup = true});
    auto label = app->createLabel(*f, "text", {20, 225, 300, 20}, true);
    int paints = 0;
    Rect wanted{20, 225, 300, 20};
    // The splash sets the label's bounds on every paint; that must not paint again and again.
    f->on(Event::Paint, [&](const EventArgs&) {
        ++paints;
        label->setBounds(wanted);
    });
    f->show(ShowCommand::Normal);
    ASSERT_TRUE(pumpUntil([&] { return paints > 0; }));
    pumpFor(200);
    const int settled = paints;
    pumpFor(300);
    EXPECT_EQ(paints, settled) << "painting keeps repeating";
    wanted = {30, 200, 200, 24};
    label->setBounds(wanted);
    EXPECT_EQ(label->bounds(), wanted);
    ASSERT_TRUE(pumpUntil([&] {
        GtkAllocation a;
        gtk_widget_get_allocation(GTK_WIDGET(label->handle()), &a);
        return a.x == 30 && a.y == 200 && a.width == 200 && a.height == 24;
    }));
    // Text longer than the label keeps its width (it is ellipsised, not widened).
    label->setText(std::string(200, 'W'));
    pumpFor(100);
    EXPECT_EQ(gtk_widget_get_allocated_width(GTK_WIDGET(label->handle())), 200);
}

TEST_F(GtkUi, FocusRunsTheFocusHandlersAgainWhenFocusedAlready) {
    auto f = frame({0, 0, 200, 100}, {.popup = true});
    int focusEvents = 0;
    f->on(Event::Focus, [&](const EventArgs&) { ++focusEvents; });
    f->focus();
    pumpFor(50);
    EXPECT_EQ(focusEvents, 0) << "a hidden window takes no focus";
    f->show(ShowCommand::Normal);
    f->focus();
    ASSERT_TRUE(pumpUntil([&] { return gtk_window_has_toplevel_focus(gtkWindow(*f)) && focusEvents > 0; }));
    const int before = focusEvents;
    f->focus();
    EXPECT_EQ(focusEvents, before + 1) << "focused already: the handlers run again at once";
}

TEST_F(GtkUi, ShowCommandsWithAWindowManager) {
    if (!testing::testDisplay().windowManager) GTEST_SKIP() << "no window manager on the display";
    auto f = frame({0, 0, 300, 200}, {.popup = true, .border = true, .systemMenu = true, .topmost = true});
    auto state = [&] {
        GdkWindow* w = gtk_widget_get_window(GTK_WIDGET(f->handle()));
        return w ? gdk_window_get_state(w) : GdkWindowState(0);
    };
    struct Step {
        ShowCommand command;
        bool visible;
        int mustHave;
        int mustLack;
    } steps[] = {
        {ShowCommand::Normal, true, GDK_WINDOW_STATE_ABOVE, GDK_WINDOW_STATE_ICONIFIED | GDK_WINDOW_STATE_MAXIMIZED},
        {ShowCommand::Maximize, true, GDK_WINDOW_STATE_MAXIMIZED, GDK_WINDOW_STATE_ICONIFIED},
        {ShowCommand::Maximize, true, GDK_WINDOW_STATE_MAXIMIZED, GDK_WINDOW_STATE_ICONIFIED},
        {ShowCommand::Minimize, true, GDK_WINDOW_STATE_ICONIFIED, 0},
        {ShowCommand::Normal, true, 0, GDK_WINDOW_STATE_ICONIFIED | GDK_WINDOW_STATE_MAXIMIZED},
        {ShowCommand::Hide, false, GDK_WINDOW_STATE_WITHDRAWN, 0},
        {ShowCommand::Minimize, true, GDK_WINDOW_STATE_ICONIFIED, 0},
        {ShowCommand::Normal, true, 0, GDK_WINDOW_STATE_ICONIFIED | GDK_WINDOW_STATE_WITHDRAWN},
    };
    int i = 0;
    for (const auto& s : steps) {
        f->show(s.command);
        const bool reached = pumpUntil([&] {
            const int st = state();
            return (st & s.mustHave) == s.mustHave && (st & s.mustLack) == 0;
        });
        EXPECT_TRUE(reached) << "step " << i << " state " << std::hex << state();
        EXPECT_EQ(f->visible(), s.visible) << "step " << i;
        ++i;
    }
}

// The dialog a box is shown in, once it is on screen.
GtkWindow* shownBox() {
    GtkWindow* found = nullptr;
    GList* all = gtk_window_list_toplevels();
    for (GList* l = all; l; l = l->next) {
        if (GTK_IS_MESSAGE_DIALOG(l->data) && gtk_widget_get_mapped(GTK_WIDGET(l->data))) found = GTK_WINDOW(l->data);
    }
    g_list_free(all);
    return found;
}

TEST_F(GtkUi, ErrorBoxIsModalToItsOwnerAndReturnsWhenDismissed) {
    if (!testing::testDisplay().windowManager) GTEST_SKIP() << "no window manager to give the box the focus";
    if (std::system("xdotool version >/dev/null 2>&1") != 0) GTEST_SKIP() << "xdotool is not installed";
    enum class Owner { Shown, Hidden, None, Destroyed, DestroyedMeanwhile };
    struct Case {
        const char* what;
        Owner owner;
        const char* key;  // pressed in the box (an X key name); null: the owner goes away instead
    } cases[] = {
        {"shown owner, Enter", Owner::Shown, "Return"},
        {"hidden owner, Escape", Owner::Hidden, "Escape"},
        {"no owner, keypad Enter", Owner::None, "KP_Enter"},
        {"destroyed owner, Enter", Owner::Destroyed, "Return"},
        {"owner destroyed while the box is up", Owner::DestroyedMeanwhile, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto owner = frame({100, 100, 400, 300});
        if (c.owner == Owner::Shown) owner->show(ShowCommand::Normal);
        if (c.owner == Owner::Destroyed) owner->close();
        // The box's loop is the only one running: this frame's timer handler looks at the box from
        // inside the call (that it runs at all shows that handlers keep running).
        auto driver = frame();
        int ticks = 0;
        bool keySent = false;
        GtkWindow* box = nullptr;
        driver->on(Event::Timer, [&](const EventArgs&) {
            ++ticks;
            if (box) {
                // The box takes the focus (Enter works without a click); a key that does not
                // dismiss it fails the case instead of waiting for an operator forever.
                if (c.key && !keySent && gtk_window_is_active(box)) {
                    keySent = true;
                    // A real key press through the X server (xdotool uses XTest).
                    EXPECT_EQ(std::system((std::string("xdotool key ") + c.key).c_str()), 0);
                } else if (ticks == 250) {
                    ADD_FAILURE() << (keySent ? "still up 5 s after the key" : "never focused");
                    gtk_widget_destroy(GTK_WIDGET(box));
                }
                return;
            }
            if (!(box = shownBox())) return;
            // Held until the case ends: the owner's end may destroy the box.
            g_object_ref(box);
            EXPECT_STREQ(gtk_window_get_title(box), "系统提示");
            gchar* text = nullptr;
            g_object_get(box, "text", &text, nullptr);
            EXPECT_STREQ(text, "设备请求无效 <b>%s</b>") << "shown as it is, not read as a format";
            g_free(text);
            EXPECT_TRUE(gtk_window_get_modal(box));
            const bool owned = c.owner != Owner::None && c.owner != Owner::Destroyed;
            EXPECT_EQ(gtk_window_get_transient_for(box), owned ? gtkWindow(*owner) : nullptr);
            if (!c.key) owner->close();
        });
        driver->startTimer(1, 20);
        Window* boxOwner = c.owner == Owner::None ? nullptr : owner.get();
        app->showErrorBox(boxOwner, "系统提示", "设备请求无效 <b>%s</b>");
        ASSERT_NE(box, nullptr) << "the box was never on screen";
        g_object_unref(box);
        pumpFor(20);
        EXPECT_EQ(shownBox(), nullptr) << "the box is gone once the call returns";
    }
}

}  // namespace
}  // namespace tovi::ui
