// The device libraries' own settings: "devices.ini" in the folder of the library itself.
// Every key and its default is described in devices/README-settings.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace tovi::devices {

inline constexpr const char* kSettingsFileName = "devices.ini";
inline constexpr const char* kDefaultVirtualFolder = "virtual_printer";

struct DeviceSettings {
    bool fileFound = false;
    std::string printerName;    // [printer] name    (Windows printer)
    std::string printerDevice;  // [printer] device  (Linux device path or CUPS queue)
    std::string printerFolder;  // [printer] folder  (virtual printer), resolved
    std::map<std::string, std::string> ports;  // [ports] NAME=target, names upper-cased
    std::map<int, std::string> serialPorts;    // [serial] portN=device
    int serialWriteTimeoutMs = 2000;           // [serial] write_timeout
    int printerWriteTimeoutMs = 10000;         // [printer] write_timeout
};

enum class PathStyle { Posix, Windows };

#ifdef _WIN32
inline constexpr PathStyle kNativePathStyle = PathStyle::Windows;
#else
inline constexpr PathStyle kNativePathStyle = PathStyle::Posix;
#endif

bool isAbsolutePath(std::string_view path, PathStyle style);
// path when absolute, else base + separator + path.
std::string resolvePath(std::string_view base, std::string_view path, PathStyle style);

// Reads the settings text; relative folders are resolved against libraryFolder. A value that is
// not a number where one is needed is ignored (the default stays) and reported in `warnings`.
DeviceSettings parseDeviceSettings(std::string_view iniText, std::string_view libraryFolder, PathStyle style,
                                   std::string* warnings = nullptr);

// Where winPrint sends a job.
struct PrinterTarget {
    enum class Kind { VirtualFolder, WindowsPrinter, DefaultWindowsPrinter, Device, Queue } kind;
    std::string where;  // folder, printer name, device path or queue name
};

// The choice, first that applies:
//  1. [printer] folder set: the virtual printer in that folder;
//  2. Windows: [printer] name set: that printer; otherwise the system's default printer;
//  3. Linux: [printer] device set: a path (it holds a "/"; one under /dev/ must exist, any other
//     is a file, created or replaced) or else a CUPS queue name;
//     no settings file at all: the virtual printer in "virtual_printer" beside the library;
//     a settings file without printer keys: /dev/usb/lp0.
PrinterTarget choosePrinter(const DeviceSettings& settings, std::string_view libraryFolder, PathStyle style);

// Where winWriteFile writes for a port name as the support program passes it (upper case).
struct PortTarget {
    std::string path;
    bool mustExist = false;  // a device: opened, never created
};

// [ports] entries first (names compared in ASCII upper case); then
//  Windows: COMn / LPTn as \\.\COMn / \\.\LPTn (devices); \\.\x and \\host\name (a shared
//           printer) as devices; anything else a file path;
//  Linux:   COMn as the [serial] device of port n (default /dev/ttySn-1), LPTn as /dev/lpn-1;
//           paths under /dev/ as devices; anything else a file path.
// An empty name gives nothing.
std::optional<PortTarget> resolvePort(const DeviceSettings& settings, std::string_view port, PathStyle style);

// Serial device for port number n on Linux: [serial] portN, default /dev/ttyS(n-1); nothing for
// n < 1.
std::optional<std::string> serialDevice(const DeviceSettings& settings, int port);

}  // namespace tovi::devices
