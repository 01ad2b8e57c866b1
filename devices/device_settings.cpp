#include "devices/device_settings.h"

#include "common/ascii.h"
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

bool isHostNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
           c == '.';
}

bool isIPv6Char(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == ':' || c == '.';
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

// Letter case does not matter; the fallback with a warning for any other value.
template <typename T, std::size_t N>
T choice(const IniFile& ini, std::string_view key, const std::pair<std::string_view, T> (&words)[N], T fallback,
         std::string* warnings) {
    const auto v = ini.find("printer", key);
    if (!v || v->empty()) return fallback;
    const std::string word = ascii::lowered(*v);
    std::string known;
    for (const auto& [name, value] : words) {
        if (word == name) return value;
        known.append(known.empty() ? "" : " nor ").append(name);
    }
    if (warnings)
        warnings->append("devices.ini: [printer] ").append(key).append("=").append(printableName(*v)).append(" is neither ")
            .append(known).append("; ignored\n");
    return fallback;
}

VirtualPrinterState virtualState(const IniFile& ini, std::string* warnings) {
    VirtualPrinterState state;
    const std::pair<std::string_view, bool VirtualPrinterState::*> kWords[] = {
        {"paper-low", &VirtualPrinterState::paperLow},   {"paper-out", &VirtualPrinterState::paperOut},
        {"cover-open", &VirtualPrinterState::coverOpen}, {"offline", &VirtualPrinterState::offline},
        {"drawer-open", &VirtualPrinterState::drawerOpen},
    };
    const std::string text = ascii::lowered(ini.get("printer", "status", ""));
    std::size_t at = 0;
    while ((at = text.find_first_not_of(" \t", at)) != std::string::npos) {
        const std::size_t end = std::min(text.find_first_of(" \t", at), text.size());
        const std::string_view word = std::string_view(text).substr(at, end - at);
        at = end;
        bool known = false;
        for (const auto& [name, fact] : kWords) {
            if (word != name) continue;
            state.*fact = known = true;
        }
        if (!known && warnings)
            warnings->append("devices.ini: [printer] status: \"").append(printableName(word))
                .append("\" is none of paper-low paper-out cover-open offline drawer-open; ignored\n");
    }
    return state;
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
    s.printerAddress = ini.get("printer", "address", "");
    const std::string folder = ini.get("printer", "folder", "");
    if (!folder.empty()) s.printerFolder = resolvePath(libraryFolder, folder, style);
    s.printerWriteTimeoutMs = millis(ini, "printer", "write_timeout", s.printerWriteTimeoutMs, warnings);
    s.serialWriteTimeoutMs = millis(ini, "serial", "write_timeout", s.serialWriteTimeoutMs, warnings);
    if (const auto paper = ini.find("printer", "paper"); paper && !paper->empty()) {
        if (*paper == "58" || *paper == "80") {
            s.paperMm = *paper == "58" ? 58 : 80;
        } else if (warnings) {
            *warnings += "devices.ini: [printer] paper=" + *paper + " is neither 80 nor 58; using 80\n";
        }
    }
    using escpos::DrawerSense;
    const std::pair<std::string_view, DrawerSense> kSenses[] = {{"high", DrawerSense::OpenHigh}, {"low", DrawerSense::OpenLow}};
    s.drawerOpen = choice(ini, "drawer_open", kSenses, s.drawerOpen, warnings);
    const std::pair<std::string_view, bool> kBooleans[] = {{"true", true}, {"false", false}};
    s.checkStatus = choice(ini, "check_status", kBooleans, s.checkStatus, warnings);
    s.virtualState = virtualState(ini, warnings);
    for (const IniFile::Entry& e : ini.entries()) {
        if (e.section == "ports" && !e.key.empty() && !e.value.empty()) {
            s.ports[ascii::uppered(e.key)] = e.value;
        } else if (e.section == "serial") {
            const auto n = numberedName(ascii::uppered(e.key), "PORT");
            if (n && *n >= 1 && !e.value.empty()) s.serialPorts[*n] = e.value;
        }
    }
    return s;
}

std::optional<NetworkAddress> parseNetworkAddress(std::string_view text) {
    NetworkAddress out;
    std::string_view rest;
    if (!text.empty() && text[0] == '[') {
        const auto close = text.find(']');
        if (close == std::string_view::npos) return std::nullopt;
        const std::string_view host = text.substr(1, close - 1);
        // An optional zone after "%" (fe80::1%eth0) names the interface of a link-local address.
        const auto zone = host.find('%');
        const std::string_view address = host.substr(0, zone);
        if (address.find(':') == std::string_view::npos) return std::nullopt;
        for (char c : address)
            if (!isIPv6Char(c)) return std::nullopt;
        if (zone != std::string_view::npos) {
            const std::string_view name = host.substr(zone + 1);
            if (name.empty()) return std::nullopt;
            for (char c : name)
                if (!isHostNameChar(c)) return std::nullopt;
        }
        out.host = std::string(host);
        out.numericIPv6 = true;
        rest = text.substr(close + 1);
    } else {
        const auto colon = text.find(':');
        out.host = std::string(text.substr(0, colon));
        if (out.host.empty()) return std::nullopt;
        for (char c : out.host)
            if (!isHostNameChar(c)) return std::nullopt;
        rest = colon == std::string_view::npos ? std::string_view() : text.substr(colon);
    }
    if (out.host.size() > 253) return std::nullopt;
    if (rest.empty()) return out;
    const std::string_view digits = rest.substr(1);
    if (rest[0] != ':' || !isDigits(digits) || digits.size() > 5) return std::nullopt;
    out.port = std::stoi(std::string(digits));
    if (out.port < 1 || out.port > 65535) return std::nullopt;
    return out;
}

std::string printableName(std::string_view text) {
    std::string out;
    for (char c : text.substr(0, 100)) out += (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) ? '?' : c;
    return out;
}

std::optional<int> devicePortNumber(std::string_view name, std::string_view prefix) {
    const auto n = numberedName(ascii::uppered(name), prefix);
    if (!n || name[prefix.size()] == '0' || *n > 256) return std::nullopt;
    return n;
}

PrinterTarget choosePrinter(const DeviceSettings& settings, std::string_view libraryFolder, PathStyle style) {
    using Kind = PrinterTarget::Kind;
    if (!settings.printerFolder.empty()) return {Kind::VirtualFolder, settings.printerFolder};
    if (!settings.printerAddress.empty()) return {Kind::Network, settings.printerAddress};
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
    const std::string name = ascii::uppered(port);
    std::string path;
    if (const auto it = settings.ports.find(name); it != settings.ports.end())
        path = it->second;
    else if (devicePortNumber(name, "COM") || devicePortNumber(name, "LPT"))
        path = name;
    else
        return std::nullopt;
    const std::string target = ascii::uppered(path);

    if (target.rfind(ascii::uppered(kTcpTargetPrefix), 0) == 0)
        return PortTarget{path.substr(kTcpTargetPrefix.size()), false, true};
    if (style == PathStyle::Windows) {
        if (devicePortNumber(target, "COM") || devicePortNumber(target, "LPT")) return PortTarget{"\\\\.\\" + path, true};
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
        if (const auto n = devicePortNumber(target, "COM")) return PortTarget{*serialDevice(settings, *n), true};
        if (const auto n = devicePortNumber(target, "LPT")) return PortTarget{"/dev/lp" + std::to_string(*n - 1), true};
    }
    return PortTarget{path, path.rfind("/dev/", 0) == 0};
}

}  // namespace tovi::devices
