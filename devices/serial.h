// One serial line, 8 data bits, no parity, 1 stop bit, no flow control, raw bytes.
// serial_posix.cpp / serial_win32.cpp.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "devices/device_settings.h"

namespace tovi::devices {

class SerialPort {
public:
    // Opens port number `port` (Windows \\.\COM<port>; Linux the [serial] device for it) at
    // `baud` bits per second. Throws tovi::Error with the reason when the port is missing, busy,
    // or cannot take that rate. Writes give up after writeTimeoutMs without progress.
    static SerialPort open(const DeviceSettings& settings, int port, int baud);

    SerialPort(SerialPort&&) noexcept;
    SerialPort& operator=(SerialPort&&) noexcept;
    ~SerialPort();

    // Writes every byte and waits until they have left the port. Throws tovi::Error on failure.
    void send(std::string_view bytes);

    const std::string& name() const { return name_; }

private:
    struct Impl;
    SerialPort(std::unique_ptr<Impl> impl, std::string name);
    std::unique_ptr<Impl> impl_;
    std::string name_;
};

}  // namespace tovi::devices
