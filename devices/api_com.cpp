// The exported functions of the serial-port library. The three calls share one open port: the
// support program opens it with com_init, sends with com_send and releases it with com_rest, so
// the port lives in this file for the whole process. Each function is a catch barrier.
#include <cstdio>
#include <optional>

#include "common/boundary.h"
#include "devices/device_api.h"
#include "devices/devio.h"
#include "devices/serial.h"

namespace {

using tovi::devices::SerialPort;

std::optional<SerialPort>& openPort() {
    static std::optional<SerialPort> port;
    return port;
}

}  // namespace

extern "C" int TOVI_STDCALL com_init(int port, int baud) {
    return tovi::guardedExport({"api_com"}, 0, [&] {
        openPort().reset();  // a second com_init replaces the first port
        const auto settings = tovi::devices::loadDeviceSettings("api_com");
        openPort().emplace(SerialPort::open(settings, port, baud));
        return 1;
    });
}

extern "C" int TOVI_STDCALL com_send(const char* data, int length) {
    return tovi::guardedExport({"api_com"}, 0, [&] {
        if (!openPort()) {
            std::fprintf(stderr, "api_com: com_send without an open port\n");
            return 0;
        }
        if (length < 0 || (!data && length != 0)) {
            std::fprintf(stderr, "api_com: com_send with no data or a negative length\n");
            return 0;
        }
        openPort()->send(std::string_view(data ? data : "", static_cast<std::size_t>(length)));
        return 1;
    });
}

extern "C" int TOVI_STDCALL com_rest(void) {
    return tovi::guardedExport({"api_com"}, 0, [&] {
        const bool wasOpen = openPort().has_value();
        openPort().reset();
        return wasOpen ? 1 : 0;
    });
}
