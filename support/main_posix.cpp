// tovipos_print on Linux: bind the device libraries, run the one command, end.
#include <string>
#include <vector>

#include "common/entry.h"
#include "common/messages.h"
#include "support/commands.h"

int main(int argc, char** argv) {
    return tovi::runReportingErrors([&] {
        auto devices = tovi::support::BoundDevices::bind();
        const std::vector<std::string> args(argv, argv + argc);
        const auto system = tovi::support::makeSystem(tovi::desktopWindow());
        tovi::support::dispatchCommand(args, devices, *system);
        return 0;
    });
}
