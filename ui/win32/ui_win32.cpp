// The Win32 backend of the windowing layer: frames of class "wFrame", static labels, JPEG pictures
// decoded with GDI+, and the message loop.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <ole2.h>
#include <shlwapi.h>
#include <gdiplus.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <vector>

#include "common/error.h"
#include "common/handle.h"
#include "common/text.h"
#include "ui/ui.h"

namespace tovi::ui {

namespace {

constexpr const wchar_t* kFrameClass = L"wFrame";
constexpr const wchar_t* kTransparentProp = L"tovi.transparent";

class Win32Application;
Win32Application* theApp = nullptr;

// ---- Functions posted from any thread -------------------------------------------------------
//
// A posted function waits here under a number; the window message carries only the number, so a
// message that the system drops with its window (or one that reaches a later window with a reused
// handle) never leaks or runs a function. A frame's functions are destroyed when it goes.
struct PostRegistry {
    std::mutex mutex;
    std::set<HWND> frames;  // live frames of the layer
    std::map<std::uintptr_t, std::pair<HWND, std::function<void()>>> posted;
    std::uintptr_t next = 1;  // the size of WPARAM, which carries it
};

// Never destroyed: a worker may still post while the process runs its exit handlers.
PostRegistry& postRegistry() {
    static PostRegistry* r = new PostRegistry;
    return *r;
}

UINT postedCallMessage() {
    static const UINT message = RegisterWindowMessageW(L"tovi.posted-call");
    return message;
}

// The function posted under id to hwnd, taken out of the registry; empty when it is gone.
std::function<void()> takePosted(HWND hwnd, std::uintptr_t id) {
    PostRegistry& r = postRegistry();
    std::lock_guard lock(r.mutex);
    auto it = r.posted.find(id);
    if (it == r.posted.end() || it->second.first != hwnd) return {};
    std::function<void()> fn = std::move(it->second.second);
    r.posted.erase(it);
    return fn;
}

void frameBorn(HWND hwnd) {
    PostRegistry& r = postRegistry();
    std::lock_guard lock(r.mutex);
    r.frames.insert(hwnd);
}

void frameGone(HWND hwnd) {
    std::vector<std::function<void()>> dropped;
    {
        PostRegistry& r = postRegistry();
        std::lock_guard lock(r.mutex);
        r.frames.erase(hwnd);
        for (auto it = r.posted.begin(); it != r.posted.end();) {
            if (it->second.first == hwnd) {
                dropped.push_back(std::move(it->second.second));
                it = r.posted.erase(it);
            } else {
                ++it;
            }
        }
    }
    // Destroyed here, outside the lock.
}

class Win32Picture : public Picture {
public:
    Win32Picture(UniqueGdiObject bitmap, Size size) : bitmap_(std::move(bitmap)), size_(size) {}
    Size size() const override { return size_; }
    HGDIOBJ bitmap() const { return bitmap_.get(); }

private:
    UniqueGdiObject bitmap_;
    Size size_;
};

class Win32Painter : public Painter {
public:
    Win32Painter(HDC dc, POINT offset) : dc_(dc), offset_(offset) {}
    void drawPicture(const Picture& picture, int x, int y) override {
        const auto& p = static_cast<const Win32Picture&>(picture);
        HDC mem = CreateCompatibleDC(dc_);
        HGDIOBJ old = SelectObject(mem, p.bitmap());
        BitBlt(dc_, x - offset_.x, y - offset_.y, p.size().width, p.size().height, mem, 0, 0, SRCCOPY);
        SelectObject(mem, old);
        DeleteDC(mem);
    }

private:
    HDC dc_;
    POINT offset_;
};

// Shared by frames and labels: the calls on an existing platform window.
class Win32Window : public Window {
public:
    NativeHandle handle() const override { return hwnd_; }
    bool alive() const override { return hwnd_ != nullptr; }
    void on(Event event, Handler handler) override { handlers_[event].push_back(std::move(handler)); }
    void show(ShowCommand command) override {
        if (!hwnd_) return;
        int sw = SW_HIDE;
        switch (command) {
            case ShowCommand::Hide: sw = SW_HIDE; break;
            case ShowCommand::Normal: sw = SW_SHOWNORMAL; break;
            case ShowCommand::Minimize: sw = SW_MINIMIZE; break;
            case ShowCommand::Maximize: sw = SW_MAXIMIZE; break;
        }
        ShowWindow(hwnd_, sw);
    }
    bool visible() const override { return hwnd_ && IsWindowVisible(hwnd_); }
    void focus() override {
        if (!hwnd_) return;
        if (GetFocus() == hwnd_) {
            SendMessageW(hwnd_, WM_SETFOCUS, reinterpret_cast<WPARAM>(hwnd_), 0);
        } else {
            SetFocus(hwnd_);
        }
    }
    void setText(std::string_view utf8) override {
        if (!hwnd_) return;
        SetWindowTextW(hwnd_, widen(utf8).c_str());
        // A transparent control does not erase its old text: the parent's picture is put back.
        if (GetPropW(hwnd_, kTransparentProp)) InvalidateRect(hwnd_, nullptr, TRUE);
    }
    void setBounds(Rect b) override {
        if (!hwnd_) return;
        SetWindowPos(hwnd_, nullptr, b.x, b.y, b.width, b.height, SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOOWNERZORDER);
    }
    Rect bounds() const override {
        if (!hwnd_) return {};
        RECT r{};
        GetWindowRect(hwnd_, &r);
        if (HWND parent = GetParent(hwnd_); parent && (GetWindowLongW(hwnd_, GWL_STYLE) & WS_CHILD)) {
            MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&r), 2);
        }
        return {r.left, r.top, r.right - r.left, r.bottom - r.top};
    }
    void centre(bool horizontally, bool vertically) override {
        if (!hwnd_) return;
        RECT desk{}, r{};
        GetWindowRect(GetDesktopWindow(), &desk);
        GetWindowRect(hwnd_, &r);
        const int w = r.right - r.left, h = r.bottom - r.top;
        int x = r.left, y = r.top;
        if (horizontally) x = desk.left + (desk.right - desk.left - w) / 2;
        if (vertically) y = desk.top + (desk.bottom - desk.top - h) / 2;
        // Kept inside the screen: a window larger than the screen sits at its top-left corner.
        if (x + w > desk.right) x = desk.right - w;
        if (y + h > desk.bottom) y = desk.bottom - h;
        if (x < desk.left) x = desk.left;
        if (y < desk.top) y = desk.top;
        SetWindowPos(hwnd_, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    void setClipChildren(bool clip) override {
        if (!hwnd_) return;
        LONG_PTR style = GetWindowLongPtrW(hwnd_, GWL_STYLE);
        style = clip ? (style | WS_CLIPCHILDREN) : (style & ~static_cast<LONG_PTR>(WS_CLIPCHILDREN));
        SetWindowLongPtrW(hwnd_, GWL_STYLE, style);
    }
    void startTimer(unsigned id, unsigned periodMs) override {
        if (hwnd_) SetTimer(hwnd_, id, periodMs, nullptr);
    }
    void stopTimer(unsigned id) override {
        if (hwnd_) KillTimer(hwnd_, id);
    }
    void close() override {
        if (hwnd_) SendMessageW(hwnd_, WM_CLOSE, 0, 0);
    }
    void setCloseLocked(bool locked) override { closeLocked_ = locked; }

protected:
    HWND hwnd_ = nullptr;
    bool closeLocked_ = false;
    std::map<Event, std::vector<Handler>> handlers_;
};

class Win32Frame;

class Win32Application : public Application {
public:
    Win32Application() {
        INITCOMMONCONTROLSEX icc{sizeof icc, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
        InitCommonControlsEx(&icc);
        oleReady_ = SUCCEEDED(OleInitialize(nullptr));
        Gdiplus::GdiplusStartupInput input;
        gdiplusReady_ = Gdiplus::GdiplusStartup(&gdiplusToken_, &input, nullptr) == Gdiplus::Ok;
        theApp = this;
    }
    ~Win32Application() override {
        theApp = nullptr;
        if (gdiplusReady_) Gdiplus::GdiplusShutdown(gdiplusToken_);
        if (oleReady_) OleUninitialize();
    }

    std::unique_ptr<Window> createFrame(const FrameOptions& options) override;
    std::unique_ptr<Window> createLabel(Window& parent, std::string_view text, Rect bounds, bool transparent) override;
    std::unique_ptr<Picture> decodeJpeg(std::span<const unsigned char> bytes) override;

    Size screenSize() const override { return {GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)}; }

    // MessageBoxW runs its own loop: the owner is disabled meanwhile but keeps painting, and
    // posted messages and timers keep arriving. Given a child, it owns the box by its top-level.
    void showErrorBox(Window* owner, std::string_view caption, std::string_view text) override {
        HWND hwnd = owner && owner->alive() ? static_cast<HWND>(owner->handle()) : nullptr;
        MessageBoxW(hwnd, widen(text).c_str(), widen(caption).c_str(), MB_OK | MB_ICONERROR);
    }

    // No WM_QUIT is posted here or when the last frame goes: the loop tests both conditions after
    // every message, and a WM_QUIT left in the queue would close the error report's box at once.
    void fail(std::exception_ptr error) override {
        if (!pending_) pending_ = std::move(error);
    }
    bool failed() const override { return static_cast<bool>(pending_); }

    std::exception_ptr run() override {
        MSG msg;
        while (!pending_ && frames_ > 0) {
            const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
            if (got <= 0) break;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        return pending_;
    }

    void frameCreated() { ++frames_; }
    void frameDestroyed() { --frames_; }

private:
    void registerClass();

    bool classRegistered_ = false;
    bool oleReady_ = false;
    bool gdiplusReady_ = false;
    ULONG_PTR gdiplusToken_ = 0;
    int frames_ = 0;
    std::exception_ptr pending_;
};

class Win32Frame : public Win32Window {
public:
    static LRESULT CALLBACK proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
        if (msg == WM_NCCREATE) {
            auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
            auto* self = static_cast<Win32Frame*>(cs->lpCreateParams);
            self->hwnd_ = hwnd;
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
            frameBorn(hwnd);
        }
        auto* self = reinterpret_cast<Win32Frame*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (!self) return DefWindowProcW(hwnd, msg, wp, lp);
        // Catch barrier of the window procedure: an error becomes pending and ends the loop.
        try {
            LRESULT result = 0;
            if (self->handle(msg, wp, lp, result)) return result;
        } catch (...) {
            if (theApp) theApp->fail(std::current_exception());
        }
        return DefWindowProcW(hwnd, msg, wp, lp);
    }

    ~Win32Frame() override {
        if (hwnd_) {
            SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
            HWND h = hwnd_;
            hwnd_ = nullptr;
            frameGone(h);
            DestroyWindow(h);
            if (theApp) theApp->frameDestroyed();
        }
    }

private:
    bool run(Event event, const EventArgs& args) {
        auto it = handlers_.find(event);
        if (it == handlers_.end() || it->second.empty()) return false;
        // Copy: a handler may add handlers or destroy windows.
        const std::vector<Handler> list = it->second;
        for (const auto& h : list) {
            if (theApp && theApp->failed()) break;
            h(args);
        }
        return true;
    }

    bool handle(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
        const bool failed = theApp && theApp->failed();
        switch (msg) {
            case WM_NCDESTROY:
                frameGone(hwnd_);
                SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
                hwnd_ = nullptr;
                if (theApp) theApp->frameDestroyed();
                return false;
            case WM_CLOSE:
                if (!closeLocked_) DestroyWindow(hwnd_);
                result = 0;
                return true;
            case WM_SETFOCUS:
                if (failed) return false;
                run(Event::Focus, {});
                return true;
            case WM_PAINT: {
                if (failed || !handlers_.count(Event::Paint)) return false;
                PAINTSTRUCT ps;
                HDC dc = BeginPaint(hwnd_, &ps);
                Win32Painter painter(dc, POINT{0, 0});
                EventArgs args;
                args.painter = &painter;
                inPaint_ = true;
                try {
                    run(Event::Paint, args);
                } catch (...) {
                    inPaint_ = false;
                    EndPaint(hwnd_, &ps);
                    throw;
                }
                inPaint_ = false;
                EndPaint(hwnd_, &ps);
                return true;
            }
            case WM_CTLCOLORSTATIC: {
                HWND child = reinterpret_cast<HWND>(lp);
                if (!GetPropW(child, kTransparentProp)) return false;
                HDC dc = reinterpret_cast<HDC>(wp);
                SetBkMode(dc, TRANSPARENT);
                // The frame clips its children, so its own painting never reaches behind the
                // control: draw it into the control's device context first, then a hollow brush
                // leaves it showing through.
                if (!failed && !inPaint_) {
                    RECT r{};
                    GetWindowRect(child, &r);
                    MapWindowPoints(HWND_DESKTOP, hwnd_, reinterpret_cast<POINT*>(&r), 2);
                    Win32Painter painter(dc, POINT{r.left, r.top});
                    EventArgs args;
                    args.painter = &painter;
                    inPaint_ = true;
                    try {
                        runPictures(args);
                    } catch (...) {
                        inPaint_ = false;
                        throw;
                    }
                    inPaint_ = false;
                }
                result = reinterpret_cast<LRESULT>(GetStockObject(HOLLOW_BRUSH));
                return true;
            }
            case WM_TIMER:
                if (failed) return false;
                run(Event::Timer, EventArgs{0, static_cast<std::uintptr_t>(wp), 0, nullptr});
                return true;
            default:
                if (msg == postedCallMessage() && msg != 0) {
                    const std::function<void()> fn = takePosted(hwnd_, static_cast<std::uintptr_t>(wp));
                    // An exception goes to the window procedure's barrier: it becomes pending.
                    if (fn && !failed) fn();
                    result = 0;
                    return true;
                }
                if (msg > WM_APP && msg <= 0xBFFF) {
                    if (failed) return false;
                    return run(Event::AppMessage, EventArgs{msg - WM_APP, static_cast<std::uintptr_t>(wp),
                                                            static_cast<std::intptr_t>(lp), nullptr});
                }
                return false;
        }
    }

    // The paint handlers again, for a transparent control's background.
    void runPictures(const EventArgs& args) { run(Event::Paint, args); }

    bool inPaint_ = false;

    friend class Win32Application;
};

class Win32Label : public Win32Window {
public:
    explicit Win32Label(HWND hwnd) { hwnd_ = hwnd; }
    ~Win32Label() override {
        if (hwnd_ && IsWindow(hwnd_)) RemovePropW(hwnd_, kTransparentProp);
    }
    // A child goes with its parent: no later call may touch a reused handle.
    bool alive() const override { return hwnd_ && IsWindow(hwnd_); }
};

void Win32Application::registerClass() {
    if (classRegistered_) return;
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = Win32Frame::proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = kFrameClass;
    if (!RegisterClassExW(&wc)) throw Error("cannot register the window class", "OSError");
    classRegistered_ = true;
}

std::unique_ptr<Window> Win32Application::createFrame(const FrameOptions& o) {
    registerClass();
    DWORD style = WS_CLIPCHILDREN;
    if (o.style.popup) style |= WS_POPUP;
    if (o.style.border) style |= WS_BORDER;
    if (o.style.systemMenu) style |= WS_SYSMENU;
    if (o.visible) style |= WS_VISIBLE;
    const DWORD exStyle = o.style.topmost ? WS_EX_TOPMOST : 0;
    auto frame = std::make_unique<Win32Frame>();
    HWND h = CreateWindowExW(exStyle, kFrameClass, widen(o.title).c_str(), style, o.bounds.x, o.bounds.y,
                             o.bounds.width, o.bounds.height, nullptr, nullptr, GetModuleHandleW(nullptr),
                             frame.get());
    if (!h) throw Error("cannot create a window", "OSError");
    frameCreated();
    return frame;
}

std::unique_ptr<Window> Win32Application::createLabel(Window& parent, std::string_view text, Rect b,
                                                      bool transparent) {
    HWND h = CreateWindowExW(transparent ? WS_EX_TRANSPARENT : 0, L"STATIC", widen(text).c_str(),
                             WS_CHILD | WS_VISIBLE | SS_CENTERIMAGE, b.x, b.y, b.width, b.height,
                             static_cast<HWND>(parent.handle()), nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!h) throw Error("cannot create a window", "OSError");
    if (transparent) SetPropW(h, kTransparentProp, reinterpret_cast<HANDLE>(1));
    // The system's message font instead of the old bitmap font of a bare static control.
    NONCLIENTMETRICSW ncm{};
    ncm.cbSize = sizeof ncm;
    if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof ncm, &ncm, 0)) {
        static HFONT font = CreateFontIndirectW(&ncm.lfMessageFont);
        if (font) SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    }
    return std::make_unique<Win32Label>(h);
}

std::unique_ptr<Picture> Win32Application::decodeJpeg(std::span<const unsigned char> bytes) {
    if (!gdiplusReady_) throw Error("GDI+ is not available", "OSError");
    const UniqueComPtr<IStream> stream(SHCreateMemStream(bytes.data(), static_cast<UINT>(bytes.size())));
    if (!stream) throw Error("cannot read the picture", "OSError");
    Gdiplus::GpBitmap* bitmap = nullptr;
    if (Gdiplus::DllExports::GdipCreateBitmapFromStream(stream.get(), &bitmap) != Gdiplus::Ok || !bitmap) {
        throw Error("cannot decode the picture", "ValueError");
    }
    UINT w = 0, h = 0;
    Gdiplus::DllExports::GdipGetImageWidth(bitmap, &w);
    Gdiplus::DllExports::GdipGetImageHeight(bitmap, &h);
    HBITMAP hbm = nullptr;
    const auto status = Gdiplus::DllExports::GdipCreateHBITMAPFromBitmap(bitmap, &hbm, 0xFFFFFFFF);
    Gdiplus::DllExports::GdipDisposeImage(bitmap);
    UniqueGdiObject owned(hbm);
    if (status != Gdiplus::Ok || !owned) throw Error("cannot decode the picture", "ValueError");
    return std::make_unique<Win32Picture>(std::move(owned), Size{static_cast<int>(w), static_cast<int>(h)});
}

}  // namespace

std::unique_ptr<Application> createApplication() { return std::make_unique<Win32Application>(); }

bool post(NativeHandle window, std::function<void()> fn) {
    const HWND hwnd = static_cast<HWND>(window);
    const UINT message = postedCallMessage();
    if (!hwnd || !message) return false;
    std::uintptr_t id = 0;
    try {
        PostRegistry& r = postRegistry();
        std::lock_guard lock(r.mutex);
        if (!r.frames.count(hwnd)) return false;
        id = r.next++;
        r.posted.emplace(id, std::make_pair(hwnd, std::move(fn)));
    } catch (...) {
        return false;  // out of memory on a worker: nothing posted
    }
    if (PostMessageW(hwnd, message, static_cast<WPARAM>(id), 0)) return true;
    // Not posted (the window went meanwhile, or its queue is full): the function goes now.
    takePosted(hwnd, id);
    return false;
}

}  // namespace tovi::ui

namespace tovi {

// Beside the only code that links GDI.
void Win32GdiObjectTraits::close(type h) noexcept { DeleteObject(h); }

}  // namespace tovi
