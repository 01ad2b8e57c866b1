#include "ui/gtk/testing/x_display.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <fcntl.h>
#include <gtk/gtk.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

// GTK, fontconfig and the web engine keep caches until exit on purpose; the leak checker of the
// sanitized twins would report those. Our own objects are checked by the tests' assertions on
// alive() and the destruction paths instead.
extern "C" const char* __asan_default_options() { return "detect_leaks=0"; }

namespace tovi::ui::testing {

namespace {

std::vector<pid_t> children;

void endChildren() {
    // Window manager first, then the server it runs on.
    for (auto it = children.rbegin(); it != children.rend(); ++it) {
        kill(*it, SIGTERM);
        waitpid(*it, nullptr, 0);
    }
    children.clear();
}

// Starts argv with a parent-death signal, so a crashed test leaves no server behind.
pid_t spawn(std::vector<std::string> args, int keepFd) {
    const pid_t pid = fork();
    if (pid != 0) return pid;
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    const int devnull = open("/dev/null", O_RDWR);
    dup2(devnull, 0);
    dup2(devnull, 1);
    dup2(devnull, 2);
    for (int fd = 3; fd < 256; ++fd) {
        if (fd != keepFd) close(fd);
    }
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
}

bool onPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string p = path ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= p.size()) {
        const std::size_t end = p.find(':', start);
        const std::string dir = p.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!dir.empty() && access((dir + "/" + program).c_str(), X_OK) == 0) return true;
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return false;
}

// Starts Xvfb on a free display number (it writes the number to the pipe when it is ready).
std::string startXvfb() {
    int fds[2];
    if (pipe(fds) != 0) return {};
    const pid_t pid = spawn({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", "1280x800x24",
                             "-nolisten", "tcp", "-noreset"},
                            fds[1]);
    close(fds[1]);
    if (pid < 0) {
        close(fds[0]);
        return {};
    }
    children.push_back(pid);
    std::string number;
    pollfd pfd{fds[0], POLLIN, 0};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (std::chrono::steady_clock::now() < deadline) {
        if (poll(&pfd, 1, 200) <= 0) continue;
        char c;
        if (read(fds[0], &c, 1) != 1) break;
        if (c == '\n') break;
        number += c;
    }
    close(fds[0]);
    return number.empty() ? std::string() : ":" + number;
}

// True once a window manager has announced itself on the display (_NET_SUPPORTING_WM_CHECK).
bool waitForWindowManager(int timeoutMs) {
    Display* d = XOpenDisplay(nullptr);
    if (!d) return false;
    const Atom check = XInternAtom(d, "_NET_SUPPORTING_WM_CHECK", False);
    bool found = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    do {
        Atom type;
        int format;
        unsigned long count, after;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(d, DefaultRootWindow(d), check, 0, 1, False, XA_WINDOW, &type, &format, &count,
                               &after, &data) == Success &&
            count == 1) {
            found = true;
        }
        if (data) XFree(data);
        if (!found) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    } while (!found && std::chrono::steady_clock::now() < deadline);
    XCloseDisplay(d);
    return found;
}

TestDisplay openDisplay() {
    TestDisplay result;
    const char* display = std::getenv("DISPLAY");
    if (display && *display) {
        // A server started by xvfb-run without -noreset resets whenever its last client leaves, and
        // refuses connections meanwhile (another test process may just have ended). Connect with
        // retries, and hold the connection until exit so the server cannot reset under this test.
        static Display* held = nullptr;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!(held = XOpenDisplay(nullptr)) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (!held) {
            result.why = std::string("no X display: cannot connect to DISPLAY ") + display;
            return result;
        }
        result.ok = true;
        result.windowManager = waitForWindowManager(0);
        return result;
    }
    if (!onPath("Xvfb")) {
        result.why = "no X display: DISPLAY is unset and Xvfb is not installed (run under xvfb-run -a)";
        return result;
    }
    const std::string name = startXvfb();
    if (name.empty()) {
        result.why = "no X display: Xvfb did not start";
        return result;
    }
    setenv("DISPLAY", name.c_str(), 1);
    std::atexit(endChildren);
    result.ok = true;
    result.ownServer = true;
    if (onPath("openbox")) {
        const pid_t wm = spawn({"openbox", "--sm-disable"}, -1);
        if (wm > 0) children.push_back(wm);
        result.windowManager = waitForWindowManager(10000);
    }
    return result;
}

}  // namespace

const TestDisplay& testDisplay() {
    static const TestDisplay display = openDisplay();
    return display;
}

bool pumpUntil(const std::function<bool()>& done, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        if (!g_main_context_iteration(nullptr, FALSE)) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

void pumpFor(int ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    pumpUntil([&] { return std::chrono::steady_clock::now() >= deadline; }, ms + 1000);
}

}  // namespace tovi::ui::testing
