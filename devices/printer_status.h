// The status of a printer target: which link can tell it, and the bounded reading over a link that
// answers. The links' platform pieces: devio_posix.cpp (descriptors), devio_win32.cpp (COM ports),
// network_printer.cpp (TCP), printraw_win32.cpp (the spooler's queue state).
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "common/support_protocol.h"
#include "devices/devio.h"
#include "escpos/status.h"

namespace tovi::devices {

// A two-way link to a printer, open.
class StatusLink {
public:
    virtual ~StatusLink() = default;
    // Every byte, within timeoutMs; false and the reason when they did not all go.
    virtual bool send(std::string_view bytes, int timeoutMs, std::string* reason) = 0;
    struct Received {
        std::size_t bytes = 0;
        bool ended = false;  // the link closed or failed: nothing more will come
        std::string reason;  // why it ended
    };
    // At most size bytes, those that arrive within timeoutMs (0: only those already there).
    virtual Received receive(char* buffer, std::size_t size, int timeoutMs) = 0;
};

// A reading takes at most this long once the link is open, and reads at most this many bytes in
// all, those that waited before it included: a link that floods costs neither time nor memory.
inline constexpr int kStatusTimeMs = WINPRINT_STATUS_TIME_MS;
inline constexpr std::size_t kMaxStatusBytes = 256;

// The printer's answers over an open link (escpos/status.h). `note` gets a line for the report when
// the printer tells an error or nothing could be learned from it.
protocol::DeviceStatus askPrinter(StatusLink& link, escpos::DrawerSense sense, std::string* note);

struct StatusResult {
    IoResult io;                    // WINPRINT_OK, or why the printer could not be opened
    protocol::DeviceStatus status;  // connected false when it could not be
    std::string note;               // a line for the report, or empty
};

// The status of "USB" (winPrint's printer) or of a port name as winWriteFile takes it.
StatusResult printerStatus(const DeviceSettings& settings, std::string_view libraryFolder, std::string_view port);

// A printer device or port opened for reading and writing, never created: nothing when the path is
// no such device (WINPRINT_NO_PRINTER) or cannot be opened (WINPRINT_CANNOT_OPEN), with *failure
// saying so; nothing with *failure OK when it opened but cannot answer (a Windows device other
// than a COM port).
std::unique_ptr<StatusLink> openDeviceLink(const std::string& path, IoResult* failure);
// A connection to a network printer ("HOST[:PORT]"), or nothing and why, as printOverNetwork fails.
std::unique_ptr<StatusLink> openNetworkLink(std::string_view address, int connectTimeoutMs, IoResult* failure);
#ifdef _WIN32
// The state of a Windows print queue (empty name: the default printer's), source "spooler".
StatusResult spoolerStatus(const std::string& printer);
#endif

}  // namespace tovi::devices
