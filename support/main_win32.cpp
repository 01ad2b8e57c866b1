// tovipos_print on Windows (GUI subsystem, no window): bind the device libraries, run the one
// command, end.
#include <windows.h>

#include "common/cmdline.h"
#include "common/entry.h"
#include "common/messages.h"
#include "common/text.h"
#include "support/commands.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    return tovi::runReportingErrors([] {
        // Binding comes first: without both libraries no command runs, UPDATE included.
        auto devices = tovi::support::BoundDevices::bind();
        const auto args = tovi::splitCommandLine(tovi::narrow(GetCommandLineW()));
        const auto system = tovi::support::makeSystem(tovi::desktopWindow());
        tovi::support::dispatchCommand(args, devices, *system);
        return 0;
    });
}
