// devices.ini: reading, the printer choice and the port names of winWriteFile.
#include <gtest/gtest.h>

#include "devices/device_settings.h"

namespace {

using namespace tovi::devices;
using Kind = PrinterTarget::Kind;

TEST(DeviceSettings, ReadsEveryKey) {
    std::string warnings;
    const DeviceSettings s = parseDeviceSettings(
        "[printer]\nname = Receipt 80\ndevice=/dev/usb/lp1\nfolder=jobs\nwrite_timeout=500\n"
        "[serial]\nport1=/dev/ttyUSB0\nPORT12 = /dev/pts/7\nport0=/dev/null\nportx=/dev/zero\nwrite_timeout=750\n"
        "[ports]\nreceipt=/dev/usb/lp2\n",
        "/opt/pos", PathStyle::Posix, &warnings);
    EXPECT_TRUE(s.fileFound);
    EXPECT_EQ(s.printerName, "Receipt 80");
    EXPECT_EQ(s.printerDevice, "/dev/usb/lp1");
    EXPECT_EQ(s.printerFolder, "/opt/pos/jobs");
    EXPECT_EQ(s.printerWriteTimeoutMs, 500);
    EXPECT_EQ(s.serialWriteTimeoutMs, 750);
    EXPECT_EQ(s.serialPorts, (std::map<int, std::string>{{1, "/dev/ttyUSB0"}, {12, "/dev/pts/7"}}));
    EXPECT_EQ(s.ports, (std::map<std::string, std::string>{{"RECEIPT", "/dev/usb/lp2"}}));
    EXPECT_EQ(warnings, "");
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
    };
    for (const auto& c : cases) {
        const PrinterTarget t = choosePrinter(c.s, "/opt/pos", c.style);
        EXPECT_EQ(t.kind, c.kind) << c.name;
        EXPECT_EQ(t.where, c.where) << c.name;
    }
}

TEST(ResolvePort, Names) {
    DeviceSettings s = parseDeviceSettings("[serial]\nport2=/dev/ttyUSB0\n[ports]\nReceipt=/dev/usb/lp1\nshare=\\\\till\\epson\n",
                                           "/opt", PathStyle::Posix);
    struct Case {
        const char* port;
        PathStyle style;
        const char* path;  // nullptr: no target
        bool mustExist;
    } cases[] = {
        {"COM3", PathStyle::Windows, "\\\\.\\COM3", true},
        {"LPT1", PathStyle::Windows, "\\\\.\\LPT1", true},
        {"COM12", PathStyle::Windows, "\\\\.\\COM12", true},
        {"\\\\.\\USB001", PathStyle::Windows, "\\\\.\\USB001", true},
        {"\\\\TILL\\RECEIPT", PathStyle::Windows, "\\\\TILL\\RECEIPT", true},
        {"\\\\TILL\\SHARE\\OUT.BIN", PathStyle::Windows, "\\\\TILL\\SHARE\\OUT.BIN", false},
        {"C:\\OUT.BIN", PathStyle::Windows, "C:\\OUT.BIN", false},
        {"COMX", PathStyle::Windows, "COMX", false},
        {"SHARE", PathStyle::Windows, "\\\\till\\epson", true},
        {"COM1", PathStyle::Posix, "/dev/ttyS0", true},
        {"COM2", PathStyle::Posix, "/dev/ttyUSB0", true},
        {"COM0", PathStyle::Posix, nullptr, false},
        {"LPT1", PathStyle::Posix, "/dev/lp0", true},
        {"RECEIPT", PathStyle::Posix, "/dev/usb/lp1", true},
        {"receipt", PathStyle::Posix, "/dev/usb/lp1", true},
        {"/dev/usb/lp3", PathStyle::Posix, "/dev/usb/lp3", true},
        {"/TMP/OUT.BIN", PathStyle::Posix, "/TMP/OUT.BIN", false},
        {"OUT.BIN", PathStyle::Posix, "OUT.BIN", false},
        {"", PathStyle::Posix, nullptr, false},
        {"", PathStyle::Windows, nullptr, false},
    };
    for (const auto& c : cases) {
        const auto t = resolvePort(s, c.port, c.style);
        if (!c.path) {
            EXPECT_FALSE(t.has_value()) << c.port;
            continue;
        }
        ASSERT_TRUE(t.has_value()) << c.port;
        EXPECT_EQ(t->path, c.path) << c.port;
        EXPECT_EQ(t->mustExist, c.mustExist) << c.port;
    }
}

}  // namespace
