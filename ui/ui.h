// The windowing layer as the client uses it: top-level frames, a static label, a picture decoded
// from memory, modal error boxes, handlers per event, timers, and a loop that ends with the last
// top-level window.
// Portable: the client's shell and splash are written against these classes only; the backends
// are ui/win32/ (Windows) and ui/gtk/ (GTK 3, Linux).
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace tovi::ui {

// The platform's window handle (an HWND on Windows).
using NativeHandle = void*;

enum class ShowCommand { Hide, Normal, Minimize, Maximize };

struct Size {
    int width = 0;
    int height = 0;
    bool operator==(const Size&) const = default;
};

struct Rect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const Rect&) const = default;
};

// A decoded image, drawn unscaled.
class Picture {
public:
    virtual ~Picture() = default;
    virtual Size size() const = 0;
};

// Drawing into a window while it handles its paint event.
class Painter {
public:
    virtual ~Painter() = default;
    virtual void drawPicture(const Picture& picture, int x, int y) = 0;
};

enum class Event {
    Focus,       // the window received the keyboard focus
    Paint,       // the window must be drawn; args.painter is set
    Timer,       // a timer fired; args.first is its identifier
    // A message another program sent to a frame (Windows: WM_APP + args.message, as the
    // installer's close request is); never raised by the GTK backend. Work of our own threads
    // reaches the UI thread through post, not through this.
    AppMessage,
};

struct EventArgs {
    unsigned message = 0;       // AppMessage: the number above WM_APP
    std::uintptr_t first = 0;   // Timer: identifier; AppMessage: WPARAM
    std::intptr_t second = 0;   // AppMessage: LPARAM
    Painter* painter = nullptr;
};

using Handler = std::function<void(const EventArgs&)>;

// A window of the layer. The object may outlive the platform window: alive() tells.
class Window {
public:
    virtual ~Window() = default;

    virtual NativeHandle handle() const = 0;
    // False once the platform window has been destroyed; every other call is then ignored.
    virtual bool alive() const = 0;

    // Adds a handler; several per event are allowed and run in the order added. Handlers do not
    // run once the application has a pending error.
    virtual void on(Event event, Handler handler) = 0;

    virtual void show(ShowCommand command) = 0;
    virtual bool visible() const = 0;
    // Gives the window the keyboard focus; when it has it already, its focus event runs again.
    virtual void focus() = 0;
    virtual void setText(std::string_view utf8) = 0;
    // Outer position and size (a child: within its parent's client area); no z-order change, no
    // activation.
    virtual void setBounds(Rect bounds) = 0;
    virtual Rect bounds() const = 0;
    // Centres the window on the primary screen, kept inside the screen.
    virtual void centre(bool horizontally, bool vertically) = 0;
    virtual void setClipChildren(bool clip) = 0;
    virtual void startTimer(unsigned id, unsigned periodMs) = 0;
    virtual void stopTimer(unsigned id) = 0;
    // A synchronous close request; a frame then destroys itself (unless its closing is locked).
    virtual void close() = 0;
    // While locked, close requests (the system's close command, close()) are ignored.
    virtual void setCloseLocked(bool locked) = 0;
};

struct FrameStyle {
    bool popup = false;       // no caption bar
    bool border = false;      // one-pixel border
    bool systemMenu = false;  // the system's close command (Alt+F4) works
    bool topmost = false;     // above all windows that are not topmost
};

struct FrameOptions {
    std::string title;    // UTF-8
    Rect bounds;          // outer; x and y are also used as given (centre() moves it later)
    FrameStyle style;
    bool visible = false;
};

class Application {
public:
    virtual ~Application() = default;

    // A top-level frame; the layer always makes frames clip their children.
    virtual std::unique_ptr<Window> createFrame(const FrameOptions& options) = 0;
    // A one-line static text, vertically centred, child of parent, at bounds (client coordinates);
    // transparent: the parent's painting shows through behind the text.
    virtual std::unique_ptr<Window> createLabel(Window& parent, std::string_view text, Rect bounds,
                                                bool transparent) = 0;
    // Decodes a JPEG held in memory; throws tovi::Error when it cannot.
    virtual std::unique_ptr<Picture> decodeJpeg(std::span<const unsigned char> bytes) = 0;

    // Size of the primary screen in pixels.
    virtual Size screenSize() const = 0;

    // A modal error box with one OK button, owned by owner's top-level window (null or a destroyed
    // window: no owner); texts in UTF-8. Returns once the operator has dismissed it (OK, Enter or
    // Escape). Events keep being dispatched meanwhile, so handlers (timers, posted messages,
    // painting) may run inside this call; a frame destroyed meanwhile takes an owned box with it.
    virtual void showErrorBox(Window* owner, std::string_view caption, std::string_view text) = 0;

    // Marks an error as pending: handlers stop running, and run() returns it at its next turn.
    virtual void fail(std::exception_ptr error) = 0;
    virtual bool failed() const = 0;

    // Dispatches events until no top-level frame is left (result null) or an error is pending
    // (result that error; the windows are then still on screen).
    virtual std::exception_ptr run() = 0;
};

// The backend's application object (one per process). It initialises what the platform's
// windows need (Windows: common controls and OLE).
std::unique_ptr<Application> createApplication();

// Runs fn on the UI thread, from the loop, while the window exists; callable from any thread.
// Posted functions run in the order posted. The layer owns fn from here: it is destroyed without
// running when the window is gone (now or before its turn). Not run while an error is pending; an
// error thrown by fn becomes the pending error. False when the window is gone already.
bool post(NativeHandle window, std::function<void()> fn);

}  // namespace tovi::ui
