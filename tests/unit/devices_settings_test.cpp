// devices.ini: reading, the printer choice and the port names of winWriteFile.
#include <gtest/gtest.h>

#include "devices/device_settings.h"

namespace {

using namespace tovi::devices;
using Kind = PrinterTarget::Kind;

TEST(DeviceSettings, ReadsEveryKey) {
    std::string warnings;
    const DeviceSettings s = parseDeviceSettings(
        "[printer]\nname = Receipt 80\ndevice=/dev/usb/lp1\nfolder=jobs\naddress=[::1]:9101\nwrite_timeout=500\npaper=58\n"
        "drawer_open = Low\ncheck_status=TRUE\nstatus =  paper-out\tDRAWER-OPEN  \n"
        "[serial]\nport1=/dev/ttyUSB0\nPORT12 = /dev/pts/7\nport0=/dev/null\nportx=/dev/zero\nwrite_timeout=750\n"
        "[ports]\nreceipt=/dev/usb/lp2\n",
        "/opt/pos", PathStyle::Posix, &warnings);
    EXPECT_TRUE(s.fileFound);
    EXPECT_EQ(s.printerName, "Receipt 80");
    EXPECT_EQ(s.printerDevice, "/dev/usb/lp1");
    EXPECT_EQ(s.printerFolder, "/opt/pos/jobs");
    EXPECT_EQ(s.printerAddress, "[::1]:9101");
    EXPECT_EQ(s.printerWriteTimeoutMs, 500);
    EXPECT_EQ(paperDots(s.paperMm), 384);
    EXPECT_EQ(s.serialWriteTimeoutMs, 750);
    EXPECT_EQ(s.serialPorts, (std::map<int, std::string>{{1, "/dev/ttyUSB0"}, {12, "/dev/pts/7"}}));
    EXPECT_EQ(s.ports, (std::map<std::string, std::string>{{"RECEIPT", "/dev/usb/lp2"}}));
    EXPECT_EQ(s.drawerOpen, tovi::escpos::DrawerSense::OpenLow);
    EXPECT_TRUE(s.checkStatus);
    EXPECT_EQ(s.virtualState, (VirtualPrinterState{.paperOut = true, .drawerOpen = true}));
    EXPECT_EQ(warnings, "");
}

// A value a key does not take is named in a warning and changes nothing.
TEST(DeviceSettings, BadWordsKeepTheDefaultAndSaySo) {
    const std::pair<const char*, const char*> cases[] = {
        {"paper=57", "paper=57 is neither 80 nor 58"},
        {"paper=80mm", "paper=80mm"},
        {"drawer_open=open", "drawer_open=open is neither high nor low"},
        {"check_status=yes", "check_status=yes is neither true nor false"},
        {"status=offline paper_out", "status: \"paper_out\" is none of"},
        {"status=offline\x01", "\"offline?\" is none of"},
    };
    for (const auto& [line, warning] : cases) {
        std::string warnings;
        const DeviceSettings s = parseDeviceSettings(std::string("[printer]\n") + line, "/x", PathStyle::Posix, &warnings);
        EXPECT_EQ(paperDots(s.paperMm), 576) << line;
        EXPECT_EQ(s.drawerOpen, tovi::escpos::DrawerSense::Unknown) << line;
        EXPECT_FALSE(s.checkStatus) << line;
        EXPECT_EQ(s.virtualState.paperOut, false) << line;
        EXPECT_NE(warnings.find(warning), std::string::npos) << line << ": " << warnings;
    }
}

TEST(DeviceSettings, BadTimeoutsKeepTheDefaultAndSaySo) {
    for (const char* bad : {"0", "-5", "fast", "99999999"}) {
        std::string warnings;
        const DeviceSettings s =
            parseDeviceSettings(std::string("[serial]\nwrite_timeout=") + bad + "\n", "/x", PathStyle::Posix, &warnings);
        EXPECT_EQ(s.serialWriteTimeoutMs, DeviceSettings{}.serialWriteTimeoutMs) << bad;
        EXPECT_NE(warnings.find("write_timeout"), std::string::npos) << bad;
    }
}

TEST(DeviceSettings, FolderResolution) {
    struct Case {
        const char* folder;
        PathStyle style;
        const char* resolved;
    } cases[] = {
        {"jobs", PathStyle::Posix, "/opt/pos/jobs"},
        {"/var/jobs", PathStyle::Posix, "/var/jobs"},
        {"jobs", PathStyle::Windows, "C:\\pos\\jobs"},
        {"D:\\jobs", PathStyle::Windows, "D:\\jobs"},
        {"\\\\server\\jobs", PathStyle::Windows, "\\\\server\\jobs"},
        {"/jobs", PathStyle::Windows, "/jobs"},
    };
    for (const auto& c : cases) {
        const char* base = c.style == PathStyle::Posix ? "/opt/pos" : "C:\\pos";
        const DeviceSettings s = parseDeviceSettings(std::string("[printer]\nfolder=") + c.folder, base, c.style);
        EXPECT_EQ(s.printerFolder, c.resolved) << c.folder;
    }
}

TEST(ChoosePrinter, FirstRuleThatApplies) {
    DeviceSettings none;  // no devices.ini
    DeviceSettings empty;
    empty.fileFound = true;
    DeviceSettings named = empty;
    named.printerName = "Receipt 80";
    DeviceSettings folder = named;
    folder.printerFolder = "/srv/vp";
    DeviceSettings device = empty;
    device.printerDevice = "/dev/usb/lp1";
    DeviceSettings queue = empty;
    queue.printerDevice = "receipt_raw";
    DeviceSettings network = named;
    network.printerDevice = "/dev/usb/lp1";
    network.printerAddress = "10.0.0.7";
    DeviceSettings networkAndFolder = network;
    networkAndFolder.printerFolder = "/srv/vp";
    struct Case {
        const char* name;
        const DeviceSettings& s;
        PathStyle style;
        Kind kind;
        const char* where;
    } cases[] = {
        {"Windows without settings: default printer", none, PathStyle::Windows, Kind::DefaultWindowsPrinter, ""},
        {"Windows without printer keys: default printer", empty, PathStyle::Windows, Kind::DefaultWindowsPrinter, ""},
        {"Windows named printer", named, PathStyle::Windows, Kind::WindowsPrinter, "Receipt 80"},
        {"a folder wins over a name", folder, PathStyle::Windows, Kind::VirtualFolder, "/srv/vp"},
        {"Linux without settings: virtual printer", none, PathStyle::Posix, Kind::VirtualFolder, "/opt/pos/virtual_printer"},
        {"Linux without printer keys: /dev/usb/lp0", empty, PathStyle::Posix, Kind::Device, "/dev/usb/lp0"},
        {"Linux device path", device, PathStyle::Posix, Kind::Device, "/dev/usb/lp1"},
        {"Linux CUPS queue", queue, PathStyle::Posix, Kind::Queue, "receipt_raw"},
        {"Linux folder", folder, PathStyle::Posix, Kind::VirtualFolder, "/srv/vp"},
        {"Windows: an address wins over a name", network, PathStyle::Windows, Kind::Network, "10.0.0.7"},
        {"Linux: an address wins over a device", network, PathStyle::Posix, Kind::Network, "10.0.0.7"},
        {"a folder wins over an address", networkAndFolder, PathStyle::Posix, Kind::VirtualFolder, "/srv/vp"},
    };
    for (const auto& c : cases) {
        const PrinterTarget t = choosePrinter(c.s, "/opt/pos", c.style);
        EXPECT_EQ(t.kind, c.kind) << c.name;
        EXPECT_EQ(t.where, c.where) << c.name;
    }
}

// The name comes from the page: only port names and listed names reach a target.
TEST(ResolvePort, Names) {
    DeviceSettings s = parseDeviceSettings("[serial]\nport2=/dev/ttyUSB0\n[ports]\nReceipt=/dev/usb/lp1\nshare=\\\\till\\epson\n"
                                           "kitchen=TCP://[::1]:9101\ncom7=tcp://printer.lan\nfile=out.bin\n"
                                           "hub=\\\\.\\USB001\nlpt2=COM4\n",
                                           "/opt", PathStyle::Posix);
    enum { Path, Device, Network };
    struct Case {
        const char* port;
        PathStyle style;
        const char* path;  // nullptr: refused
        int kind;
    } cases[] = {
        {"COM3", PathStyle::Windows, "\\\\.\\COM3", Device},
        {"com3", PathStyle::Windows, "\\\\.\\COM3", Device},
        {"LPT1", PathStyle::Windows, "\\\\.\\LPT1", Device},
        {"COM256", PathStyle::Windows, "\\\\.\\COM256", Device},
        {"SHARE", PathStyle::Windows, "\\\\till\\epson", Device},
        {"HUB", PathStyle::Windows, "\\\\.\\USB001", Device},
        {"LPT2", PathStyle::Windows, "\\\\.\\COM4", Device},
        {"FILE", PathStyle::Windows, "out.bin", Path},
        {"KITCHEN", PathStyle::Windows, "[::1]:9101", Network},
        {"COM7", PathStyle::Windows, "printer.lan", Network},
        {"COM1", PathStyle::Posix, "/dev/ttyS0", Device},
        {"COM2", PathStyle::Posix, "/dev/ttyUSB0", Device},
        {"LPT1", PathStyle::Posix, "/dev/lp0", Device},
        {"LPT2", PathStyle::Posix, "/dev/ttyS3", Device},
        {"RECEIPT", PathStyle::Posix, "/dev/usb/lp1", Device},
        {"receipt", PathStyle::Posix, "/dev/usb/lp1", Device},
        {"FILE", PathStyle::Posix, "out.bin", Path},
        {"kitchen", PathStyle::Posix, "[::1]:9101", Network},
        // Neither a port nor listed: refused on both systems, whatever the name looks like.
        {"CONFIG.INI", PathStyle::Windows, nullptr, 0},
        {"config.ini", PathStyle::Posix, nullptr, 0},
        {"OUT.BIN", PathStyle::Windows, nullptr, 0},
        {"C:\\OUT.BIN", PathStyle::Windows, nullptr, 0},
        {"..\\CACERT.PEM", PathStyle::Windows, nullptr, 0},
        {"..", PathStyle::Windows, nullptr, 0},
        {".", PathStyle::Posix, nullptr, 0},
        {"\\\\TILL\\RECEIPT", PathStyle::Windows, nullptr, 0},
        {"\\\\ATTACKER\\SHARE\\X", PathStyle::Windows, nullptr, 0},
        {"\\\\.\\PHYSICALDRIVE0", PathStyle::Windows, nullptr, 0},
        {"\\\\?\\C:\\X", PathStyle::Windows, nullptr, 0},
        {"COM1:", PathStyle::Windows, nullptr, 0},
        {"COM1.TXT", PathStyle::Windows, nullptr, 0},
        {"/dev/usb/lp3", PathStyle::Posix, nullptr, 0},
        {"/tmp/out.bin", PathStyle::Posix, nullptr, 0},
        {"../x", PathStyle::Posix, nullptr, 0},
        {"TCP://127.0.0.1", PathStyle::Posix, nullptr, 0},
        {"USB", PathStyle::Windows, nullptr, 0},
        {"COM0", PathStyle::Posix, nullptr, 0},
        {"COM03", PathStyle::Windows, nullptr, 0},
        {"COM257", PathStyle::Windows, nullptr, 0},
        {"LPT", PathStyle::Windows, nullptr, 0},
        {"COM+1", PathStyle::Posix, nullptr, 0},
        {"COM 1", PathStyle::Posix, nullptr, 0},
        {"", PathStyle::Posix, nullptr, 0},
        {"", PathStyle::Windows, nullptr, 0},
    };
    for (const auto& c : cases) {
        const auto t = resolvePort(s, c.port, c.style);
        if (!c.path) {
            EXPECT_FALSE(t.has_value()) << c.port;
            continue;
        }
        ASSERT_TRUE(t.has_value()) << c.port;
        EXPECT_EQ(t->path, c.path) << c.port;
        EXPECT_EQ(t->mustExist, c.kind == Device) << c.port;
        EXPECT_EQ(t->network, c.kind == Network) << c.port;
    }
}

TEST(NetworkAddress, Forms) {
    struct Case {
        const char* text;
        std::optional<NetworkAddress> address;
    } cases[] = {
        {"192.168.1.50", NetworkAddress{"192.168.1.50", 9100, false}},
        {"127.0.0.1:9101", NetworkAddress{"127.0.0.1", 9101, false}},
        {"printer-2.shop_lan", NetworkAddress{"printer-2.shop_lan", 9100, false}},
        {"localhost:1", NetworkAddress{"localhost", 1, false}},
        {"[::1]", NetworkAddress{"::1", 9100, true}},
        {"[::1]:65535", NetworkAddress{"::1", 65535, true}},
        {"[fe80::1%eth0]:9100", NetworkAddress{"fe80::1%eth0", 9100, true}},
        {"[::ffff:10.0.0.1]", NetworkAddress{"::ffff:10.0.0.1", 9100, true}},
        {"", std::nullopt},
        {":9100", std::nullopt},
        {"::1", std::nullopt},
        {"fd00::50:9100", std::nullopt},
        {"host:", std::nullopt},
        {"host:0", std::nullopt},
        {"host:65536", std::nullopt},
        {"host:999999", std::nullopt},
        {"host:-1", std::nullopt},
        {"host:91 00", std::nullopt},
        {"host:9100:1", std::nullopt},
        {"host name", std::nullopt},
        {"host/x", std::nullopt},
        {"host\n", std::nullopt},
        {"[]", std::nullopt},
        {"[::1", std::nullopt},
        {"[::1]9100", std::nullopt},
        {"[127.0.0.1]", std::nullopt},
        {"[::g]", std::nullopt},
        {"[fe80::1%]", std::nullopt},
        {"[fe80::1%a b]", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(parseNetworkAddress(c.text), c.address) << c.text;
    EXPECT_FALSE(parseNetworkAddress(std::string(254, 'a')).has_value());
}

}  // namespace
