#include <windows.h>

#include "common/error.h"
#include "common/handle.h"
#include "common/text.h"
#include "devices/serial.h"

namespace tovi::devices {

namespace {

std::string lastError() { return "error " + std::to_string(GetLastError()); }

}  // namespace

struct SerialPort::Impl {
    UniqueWin32File file;
};

SerialPort::SerialPort(std::unique_ptr<Impl> impl, std::string name) : impl_(std::move(impl)), name_(std::move(name)) {}
SerialPort::SerialPort(SerialPort&&) noexcept = default;
SerialPort& SerialPort::operator=(SerialPort&&) noexcept = default;
SerialPort::~SerialPort() = default;

SerialPort SerialPort::open(const DeviceSettings& settings, int port, int baud) {
    if (port < 1 || port > 255) throw ioError("no serial port number " + std::to_string(port));
    if (baud <= 0) throw valueError("no baud rate " + std::to_string(baud));
    const std::string name = "COM" + std::to_string(port);
    // \\.\ reaches COM10 and up too.
    const std::wstring path = widen("\\\\.\\" + name);
    auto impl = std::make_unique<Impl>();
    impl->file.reset(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!impl->file) throw ioError("cannot open " + name + ": " + lastError());

    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(impl->file.get(), &dcb)) throw ioError(name + " is no serial port: " + lastError());
    dcb.BaudRate = static_cast<DWORD>(baud);
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fAbortOnError = FALSE;
    if (!SetCommState(impl->file.get(), &dcb))
        throw ioError(name + " refused " + std::to_string(baud) + " baud 8N1: " + lastError());

    // Without a write time-out a display that is not there (flow control held) hangs the caller.
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = MAXDWORD;
    t.WriteTotalTimeoutConstant = static_cast<DWORD>(settings.serialWriteTimeoutMs);
    t.WriteTotalTimeoutMultiplier = 2;  // ms per byte; 9600 baud needs about 1
    if (!SetCommTimeouts(impl->file.get(), &t)) throw ioError(name + " refused its time-outs: " + lastError());
    return SerialPort(std::move(impl), name);
}

void SerialPort::send(std::string_view bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        if (!WriteFile(impl_->file.get(), bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &written, nullptr))
            throw ioError("cannot write to " + name_ + ": " + lastError());
        if (written == 0)
            throw ioError(name_ + " took " + std::to_string(done) + " of " + std::to_string(bytes.size()) + " bytes");
        done += written;
    }
    if (!FlushFileBuffers(impl_->file.get())) throw ioError("cannot drain " + name_ + ": " + lastError());
}

}  // namespace tovi::devices
