// An X display for the GUI tests: the one in DISPLAY, or a private Xvfb (with openbox as window
// manager when it is installed) started on first use and ended with the test process.
#pragma once

#include <functional>
#include <string>

namespace tovi::ui::testing {

struct TestDisplay {
    bool ok = false;
    bool ownServer = false;      // a private Xvfb of 1280 x 800 pixels
    bool windowManager = false;  // minimise, maximise and keep-above need one
    std::string why;             // when !ok: why no display could be had (the skip message)
};

// Once per process; later calls return the first result.
const TestDisplay& testDisplay();

// Runs GTK's main context until done() is true or timeoutMs have passed; returns done().
bool pumpUntil(const std::function<bool()>& done, int timeoutMs = 10000);
// Runs GTK's main context for about ms milliseconds.
void pumpFor(int ms);

}  // namespace tovi::ui::testing
