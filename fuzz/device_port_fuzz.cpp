// Fuzz target: devices.ini text and a port name as the page passes it (the input split at its
// first NUL byte). Beyond "no crash": a name only reaches a target when it is listed in [ports]
// or is COMn / LPTn with n from 1 to 256, and a network address that is accepted holds nothing
// but a host and a port in range.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/ascii.h"
#include "common/text.h"
#include "devices/device_settings.h"

namespace {

bool isPortName(const std::string& upper) {
    if (upper.size() < 4 || upper.size() > 6 || (upper.compare(0, 3, "COM") != 0 && upper.compare(0, 3, "LPT") != 0))
        return false;
    if (upper[3] < '1' || upper[3] > '9') return false;
    int n = 0;
    for (std::size_t i = 3; i < upper.size(); ++i) {
        if (upper[i] < '0' || upper[i] > '9') return false;
        n = n * 10 + (upper[i] - '0');
    }
    return n <= 256;
}

void checkAddress(std::string_view text) {
    const auto a = tovi::devices::parseNetworkAddress(text);
    if (!a) return;
    if (a->host.empty() || a->port < 1 || a->port > 65535) std::abort();
    for (char c : a->host)
        if (static_cast<unsigned char>(c) <= ' ' || c == '/' || c == '\\' || c == '[' || c == ']') std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tovi::devices;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const auto nul = input.find('\0');
    const std::string_view ini = input.substr(0, nul);
    const std::string_view port = nul == std::string_view::npos ? std::string_view() : input.substr(nul + 1);
    for (PathStyle style : {PathStyle::Posix, PathStyle::Windows}) {
        const DeviceSettings s = parseDeviceSettings(ini, "/p", style);
        (void)choosePrinter(s, "/p", style);
        const auto target = resolvePort(s, port, style);
        const std::string upper = tovi::ascii::uppered(port);
        if (target && !s.ports.count(upper) && !isPortName(upper)) std::abort();
        if (target && target->network) checkAddress(target->path);
    }
    checkAddress(port);
    return 0;
}
