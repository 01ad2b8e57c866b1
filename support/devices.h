// The device libraries as the support program's commands use them: an interface, so that the
// commands run against recording fakes in tests, and the bound implementation over the two
// libraries loaded at start-up.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "common/library.h"
#include "devices/device_api.h"

namespace tovi::support {

// One method per library function, with the library's own arguments and result.
class DeviceLibraries {
public:
    virtual ~DeviceLibraries() = default;
    // winprint: 0 is success. data is followed by a NUL byte, which is not part of the data.
    virtual int winPrint(const char* data) = 0;
    // winPrintBytes is optional: our library has it, other makers' may not.
    virtual bool hasWinPrintBytes() const = 0;
    virtual int winPrintBytes(const char* data, int length) = 0;
    virtual int winWriteFile(const char* port, const char* data, int length) = 0;
    // winPrinterStatus is optional as well: without it nothing is known of a printer's status.
    virtual bool hasPrinterStatus() const = 0;
    virtual int printerStatus(const char* port, int checkOnly, WinPrinterStatus* status) = 0;
    // api_com: the low byte of the result is non-zero on success.
    virtual int comInit(int port, int baud) = 0;
    virtual int comSend(const char* data, int length) = 0;
    virtual int comRest() = 0;
};

// File names of the two libraries as they are loaded (bare names, own folder first).
#ifdef _WIN32
inline constexpr const char* kPrintLibrary = "winprint.dll";
inline constexpr const char* kSerialLibrary = "api_com.dll";
#else
inline constexpr const char* kPrintLibrary = "libwinprint.so";
inline constexpr const char* kSerialLibrary = "libapi_com.so";
#endif

// The names tried for one function, in order: the plain name, then "_" + name + "@" + k for
// k = 0, 4, ..., 200 (the decorations a stdcall export may carry).
std::vector<std::string> exportNames(const std::string& name);

// The address of the first of exportNames(name) that lookup finds; BindError
// "could not import: " + name when it finds none.
void* findExport(const std::function<void*(const char*)>& lookup, const std::string& name);
void* findExport(const Library& library, const std::string& name);
// The same lookup for a function a library may lack: null when none of the names is found.
void* findOptionalExport(const std::function<void*(const char*)>& lookup, const std::string& name);

// The five entry points the support program needs, and winPrintBytes and winPrinterStatus when the
// library has them.
struct DeviceTable {
    decltype(&::winPrint) winPrint = nullptr;
    decltype(&::winPrintBytes) winPrintBytes = nullptr;  // may stay null
    decltype(&::winPrinterStatus) winPrinterStatus = nullptr;  // may stay null
    decltype(&::winWriteFile) winWriteFile = nullptr;
    decltype(&::com_init) comInit = nullptr;
    decltype(&::com_send) comSend = nullptr;
    decltype(&::com_rest) comRest = nullptr;
};

// Both libraries, loaded and bound; they stay loaded for the object's lifetime.
class BoundDevices final : public DeviceLibraries {
public:
    // Loads the print library, looks up winPrint and winWriteFile (and winPrintBytes and
    // winPrinterStatus, which may be missing), then loads the serial library and looks up com_init, com_send and com_rest; the
    // first failure throws BindError.
    static BoundDevices bind(const std::string& printLibrary = kPrintLibrary,
                             const std::string& serialLibrary = kSerialLibrary);

    int winPrint(const char* data) override { return table_.winPrint(data); }
    bool hasWinPrintBytes() const override { return table_.winPrintBytes != nullptr; }
    int winPrintBytes(const char* data, int length) override { return table_.winPrintBytes(data, length); }
    int winWriteFile(const char* port, const char* data, int length) override {
        return table_.winWriteFile(port, data, length);
    }
    bool hasPrinterStatus() const override { return table_.winPrinterStatus != nullptr; }
    int printerStatus(const char* port, int checkOnly, WinPrinterStatus* status) override {
        return table_.winPrinterStatus(port, checkOnly, status);
    }
    int comInit(int port, int baud) override { return table_.comInit(port, baud); }
    int comSend(const char* data, int length) override { return table_.comSend(data, length); }
    int comRest() override { return table_.comRest(); }

private:
    BoundDevices() = default;
    Library print_;
    Library serial_;
    DeviceTable table_;
};

}  // namespace tovi::support
