// The device libraries' own settings: "devices.ini" in the folder of the library itself.
// Every key and its default is described in devices/README-settings.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "escpos/status.h"

namespace tovi::devices {

inline constexpr const char* kSettingsFileName = "devices.ini";
inline constexpr const char* kDefaultVirtualFolder = "virtual_printer";
// Raw TCP printers: the usual port of ESC/POS printers on the network, and how long a connection
// may take (all addresses of a name together) before the printer counts as off.
inline constexpr int kRawPrinterPort = 9100;
inline constexpr int kConnectTimeoutMs = 5000;
// The prefix of a [ports] target that is a network printer: tcp://HOST[:PORT].
inline constexpr std::string_view kTcpTargetPrefix = "tcp://";

// [printer] status: the state the virtual printer is in, from the blank-separated words paper-low,
// paper-out, cover-open, offline, drawer-open.
struct VirtualPrinterState {
    bool paperLow = false;
    bool paperOut = false;
    bool coverOpen = false;
    bool offline = false;
    bool drawerOpen = false;
    bool operator==(const VirtualPrinterState&) const = default;
};

struct DeviceSettings {
    bool fileFound = false;
    std::string printerName;    // [printer] name    (Windows printer)
    std::string printerDevice;  // [printer] device  (Linux device path or CUPS queue)
    std::string printerFolder;  // [printer] folder  (virtual printer), resolved
    std::string printerAddress; // [printer] address (network printer, HOST[:PORT])
    std::map<std::string, std::string> ports;  // [ports] NAME=target, names upper-cased
    std::map<int, std::string> serialPorts;    // [serial] portN=device
    int serialWriteTimeoutMs = 2000;           // [serial] write_timeout
    int printerWriteTimeoutMs = 10000;         // [printer] write_timeout
    int paperMm = 80;                          // [printer] paper: 80 or 58 (the virtual printer's picture)
    // These three hold for every printer target, [ports] names included.
    escpos::DrawerSense drawerOpen = escpos::DrawerSense::Unknown;  // [printer] drawer_open: high or low
    bool checkStatus = false;                  // [printer] check_status: ask before and after each job
    VirtualPrinterState virtualState;          // [printer] status
};

// Printer dots across the paper (8 dots a millimetre): 576 for 80 mm paper, 384 for 58 mm.
inline int paperDots(int paperMm) { return paperMm == 58 ? 384 : 576; }

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
// not a number where one is needed, or not one of the words a key takes, is ignored (the default
// stays) and reported in `warnings`; so is an unknown word of [printer] status.
DeviceSettings parseDeviceSettings(std::string_view iniText, std::string_view libraryFolder, PathStyle style,
                                   std::string* warnings = nullptr);

// A network printer: a host name, an IPv4 address or an IPv6 address (without its brackets).
struct NetworkAddress {
    std::string host;
    int port = kRawPrinterPort;
    bool numericIPv6 = false;  // written in brackets: never looked up as a name
    bool operator==(const NetworkAddress&) const = default;
};

// "HOST[:PORT]": HOST a name or IPv4 address (letters, digits, "-", "_", "."), or an IPv6 address
// in brackets ("[::1]:9100", "[fe80::1%eth0]"); PORT 1 to 65535, default 9100. Nothing for any
// other text (blanks, a bare IPv6 address, an empty host, a port out of range).
std::optional<NetworkAddress> parseNetworkAddress(std::string_view text);

// The number n of a port name COMn or LPTn (prefix "COM" or "LPT", any letter case): decimal 1 to
// 256 without leading zeros. Nothing for any other name.
std::optional<int> devicePortNumber(std::string_view name, std::string_view prefix);

// A name or address from outside, fit for a one-line report: control bytes become "?", and only
// the first 100 bytes are kept.
std::string printableName(std::string_view text);

// Where winPrint sends a job.
struct PrinterTarget {
    enum class Kind { VirtualFolder, Network, WindowsPrinter, DefaultWindowsPrinter, Device, Queue } kind;
    std::string where;  // folder, HOST[:PORT], printer name, device path or queue name
};

// The choice, first that applies:
//  1. [printer] folder set: the virtual printer in that folder;
//  2. [printer] address set: that network printer (raw TCP);
//  3. Windows: [printer] name set: that printer; otherwise the system's default printer;
//  4. Linux: [printer] device set: a path (it holds a "/"; one under /dev/ must exist, any other
//     is a file, created or replaced) or else a CUPS queue name;
//     no settings file at all: the virtual printer in "virtual_printer" beside the library;
//     a settings file without printer keys: /dev/usb/lp0.
PrinterTarget choosePrinter(const DeviceSettings& settings, std::string_view libraryFolder, PathStyle style);

// Where winWriteFile writes for a port name as the support program passes it (upper case).
struct PortTarget {
    std::string path;        // a path, or HOST[:PORT] of a network printer
    bool mustExist = false;  // a device: opened, never created
    bool network = false;    // path is HOST[:PORT] of a raw TCP printer
};

// The name comes from the web page, so it only ever selects a device: a name listed in [ports]
// (compared in ASCII upper case), or COMn / LPTn (devicePortNumber). Anything else, above all a
// path or file name, gives nothing, so a page can never name a file to be written.
// The target of a [ports] entry is the shop's own choice:
//  tcp://HOST[:PORT] is a network printer;
//  Windows: COMn / LPTn as \\.\COMn / \\.\LPTn (devices); \\.\x and \\host\name (a shared
//           printer) as devices; anything else a file path;
//  Linux:   COMn as the [serial] device of port n (default /dev/ttySn-1), LPTn as /dev/lpn-1;
//           paths under /dev/ as devices; anything else a file path.
std::optional<PortTarget> resolvePort(const DeviceSettings& settings, std::string_view port, PathStyle style);

// Serial device for port number n on Linux: [serial] portN, default /dev/ttyS(n-1); nothing for
// n < 1.
std::optional<std::string> serialDevice(const DeviceSettings& settings, int port);

}  // namespace tovi::devices
