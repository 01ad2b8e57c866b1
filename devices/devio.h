// Platform services of the device libraries: their own folder, writing bytes to files and
// devices, raw print jobs, exclusive file creation. devio_posix.cpp / devio_win32.cpp.
#pragma once

#include <string>
#include <string_view>

#include "devices/device_settings.h"
#include "devices/winprint.h"

namespace tovi::devices {

// Folder of the shared library holding this code (of the program when linked statically),
// without a trailing separator; "" when it cannot be found.
std::string libraryFolder();

// devices.ini beside the library; defaults when it is absent. Problems with it (unreadable, bad
// values) are reported on standard error as "<who>: ..." and leave the defaults in place.
DeviceSettings loadDeviceSettings(const char* who);

// The outcome of one device operation: a winprint result code and, on failure, a reason for the
// one-line report on standard error.
struct IoResult {
    int code = WINPRINT_OK;
    std::string reason;
    bool ok() const { return code == WINPRINT_OK; }
};

// Writes every byte to a file or device. A device (mustExist) is opened, never created; a missing
// one gives WINPRINT_NO_PRINTER. A file is created or replaced. Waits at most timeoutMs for a
// device that takes no more bytes.
IoResult writeToPath(const std::string& path, bool mustExist, std::string_view bytes, int timeoutMs);

enum class CreateOutcome { Created, Exists, Failed };

// Creates path only if nothing of that name exists (O_EXCL / CREATE_NEW) and writes every byte;
// a file whose bytes could not all be written is removed again (Failed).
CreateOutcome createNewFile(const std::string& path, std::string_view bytes, std::string* reason);

// Linux: a raw job to a CUPS queue; Windows: a RAW job through the spooler to the named printer
// (empty name: the system's default printer).
IoResult printRaw(const std::string& printer, std::string_view bytes);

#ifdef _WIN32
// "error N (system text)" for a Win32 error code.
std::string systemErrorText(unsigned long error);
#endif

}  // namespace tovi::devices
