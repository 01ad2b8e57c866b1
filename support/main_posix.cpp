// tovipos_print on Linux: bind the device libraries, run the one command, end.
#include <exception>
#include <string>
#include <vector>

#include "common/library.h"
#include "common/messages.h"
#include "support/commands.h"

int main(int argc, char** argv) {
    try {
        auto devices = tovi::support::BoundDevices::bind();
        const std::vector<std::string> args(argv, argv + argc);
        const auto system = tovi::support::makeSystem(tovi::desktopWindow());
        tovi::support::dispatchCommand(args, devices, *system);
        return 0;
    } catch (const tovi::BindError& e) {
        tovi::reportBindError(e);
        return 1;
    } catch (...) {
        tovi::reportUnhandledError(std::current_exception());
        return 1;
    }
}
