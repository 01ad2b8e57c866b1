#include "devices/device_settings.h"

#include "common/ini.h"
#include "common/text.h"

namespace tovi::devices {

namespace {

bool isDigits(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

// "COM3" -> 3 for prefix "COM"; nothing for other names or numbers out of range.
std::optional<int> numberedName(std::string_view name, std::string_view prefix) {
    if (name.size() <= prefix.size() || name.substr(0, prefix.size()) != prefix) return std::nullopt;
    const std::string_view digits = name.substr(prefix.size());
    if (!isDigits(digits) || digits.size() > 4) return std::nullopt;
    int n = 0;
    for (char c : digits) n = n * 10 + (c - '0');
    return n;
}

// A positive number of milliseconds, or the fallback with a warning.
int millis(const IniFile& ini, std::string_view section, std::string_view key, int fallback, std::string* warnings) {
    const auto v = ini.find(section, key);
    if (!v || v->empty()) return fallback;
    if (isDigits(*v) && v->size() <= 7) {
        const int n = std::stoi(*v);
        if (n > 0) return n;
    }
    if (warnings)
        *warnings += "devices.ini: [" + std::string(section) + "] " + std::string(key) + "=" + *v +
                     " is no positive number of milliseconds; using " + std::to_string(fallback) + "\n";
    return fallback;
}

}  // namespace

bool isAbsolutePath(std::string_view path, PathStyle style) {
    if (style == PathStyle::Posix) return !path.empty() && path[0] == '/';
    if (!path.empty() && (path[0] == '\\' || path[0] == '/')) return true;
    return path.size() >= 2 && path[1] == ':';
}

std::string resolvePath(std::string_view base, std::string_view path, PathStyle style) {
    if (isAbsolutePath(path, style) || base.empty()) return std::string(path);
    const char sep = style == PathStyle::Windows ? '\\' : '/';
    std::string out(base);
    if (out.back() != sep && out.back() != '/') out += sep;
    out += path;
    return out;
}

DeviceSettings parseDeviceSettings(std::string_view iniText, std::string_view libraryFolder, PathStyle style,
                                   std::string* warnings) {
    const IniFile ini = IniFile::parse(iniText);
    DeviceSettings s;
    s.fileFound = true;
    s.printerName = ini.get("printer", "name", "");
    s.printerDevice = ini.get("printer", "device", "");
    const std::string folder = ini.get("printer", "folder", "");
    if (!folder.empty()) s.printerFolder = resolvePath(libraryFolder, folder, style);
    s.printerWriteTimeoutMs = millis(ini, "printer", "write_timeout", s.printerWriteTimeoutMs, warnings);
    s.serialWriteTimeoutMs = millis(ini, "serial", "write_timeout", s.serialWriteTimeoutMs, warnings);
    for (const IniFile::Entry& e : ini.entries()) {
        if (e.section == "ports" && !e.key.empty() && !e.value.empty()) {
            s.ports[asciiUpper(e.key)] = e.value;
        } else if (e.section == "serial") {
            const auto n = numberedName(asciiUpper(e.key), "PORT");
            if (n && *n >= 1 && !e.value.empty()) s.serialPorts[*n] = e.value;
        }
    }
    return s;
}

PrinterTarget choosePrinter(const DeviceSettings& settings, std::string_view libraryFolder, PathStyle style) {
    using Kind = PrinterTarget::Kind;
    if (!settings.printerFolder.empty()) return {Kind::VirtualFolder, settings.printerFolder};
    if (style == PathStyle::Windows) {
        if (!settings.printerName.empty()) return {Kind::WindowsPrinter, settings.printerName};
        return {Kind::DefaultWindowsPrinter, ""};
    }
    if (!settings.printerDevice.empty()) {
        if (settings.printerDevice.find('/') != std::string::npos) return {Kind::Device, settings.printerDevice};
        return {Kind::Queue, settings.printerDevice};
    }
    if (!settings.fileFound) return {Kind::VirtualFolder, resolvePath(libraryFolder, kDefaultVirtualFolder, style)};
    return {Kind::Device, "/dev/usb/lp0"};
}

std::optional<std::string> serialDevice(const DeviceSettings& settings, int port) {
    if (port < 1) return std::nullopt;
    const auto it = settings.serialPorts.find(port);
    if (it != settings.serialPorts.end()) return it->second;
    return "/dev/ttyS" + std::to_string(port - 1);
}

std::optional<PortTarget> resolvePort(const DeviceSettings& settings, std::string_view port, PathStyle style) {
    if (port.empty()) return std::nullopt;
    const std::string upper = asciiUpper(port);
    std::string path(port);
    if (const auto it = settings.ports.find(upper); it != settings.ports.end()) path = it->second;
    const std::string target = asciiUpper(path);

    if (style == PathStyle::Windows) {
        if (numberedName(target, "COM") || numberedName(target, "LPT")) return PortTarget{"\\\\.\\" + path, true};
        if (target.rfind("\\\\.\\", 0) == 0) return PortTarget{path, true};
        if (target.rfind("\\\\", 0) == 0) {
            // \\host\name is a shared printer; \\host\share\folder\file is a file.
            const std::string_view rest = std::string_view(path).substr(2);
            const auto slash = rest.find_first_of("\\/");
            const bool twoParts = slash != std::string_view::npos && slash > 0 && slash + 1 < rest.size() &&
                                  rest.find_first_of("\\/", slash + 1) == std::string_view::npos;
            return PortTarget{path, twoParts};
        }
        return PortTarget{path, false};
    }
    if (path.find('/') == std::string::npos) {
        if (const auto n = numberedName(target, "COM")) {
            const auto dev = serialDevice(settings, *n);
            if (!dev) return std::nullopt;
            return PortTarget{*dev, true};
        }
        if (const auto n = numberedName(target, "LPT"); n && *n >= 1) return PortTarget{"/dev/lp" + std::to_string(*n - 1), true};
    }
    return PortTarget{path, path.rfind("/dev/", 0) == 0};
}

}  // namespace tovi::devices
