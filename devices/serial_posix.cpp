#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/error.h"
#include "common/handle.h"
#include "common/write_all.h"
#include "devices/serial.h"

namespace tovi::devices {

namespace {

// The rates a POSIX line takes by name; anything else is refused rather than rounded.
bool speedOf(int baud, speed_t* out) {
    static const struct {
        int baud;
        speed_t speed;
    } kRates[] = {
        {50, B50},         {75, B75},         {110, B110},       {134, B134},       {150, B150},
        {200, B200},       {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
        {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
        {57600, B57600},   {115200, B115200}, {230400, B230400}, {460800, B460800}, {500000, B500000},
        {576000, B576000}, {921600, B921600}, {1000000, B1000000},
    };
    for (const auto& r : kRates)
        if (r.baud == baud) {
            *out = r.speed;
            return true;
        }
    return false;
}

std::string errnoText() { return std::strerror(errno); }

}  // namespace

struct SerialPort::Impl {
    UniqueFd fd;
    int writeTimeoutMs = 2000;
};

SerialPort::SerialPort(std::unique_ptr<Impl> impl, std::string name) : impl_(std::move(impl)), name_(std::move(name)) {}
SerialPort::SerialPort(SerialPort&&) noexcept = default;
SerialPort& SerialPort::operator=(SerialPort&&) noexcept = default;
SerialPort::~SerialPort() = default;

SerialPort SerialPort::open(const DeviceSettings& settings, int port, int baud) {
    const auto device = serialDevice(settings, port);
    if (!device) throw ioError("no serial port number " + std::to_string(port));
    speed_t speed{};
    if (!speedOf(baud, &speed)) throw valueError(*device + " cannot run at " + std::to_string(baud) + " baud");

    auto impl = std::make_unique<Impl>();
    impl->writeTimeoutMs = settings.serialWriteTimeoutMs;
    // Non-blocking open: without CLOCAL yet, a line with no carrier would block here.
    impl->fd.reset(::open(device->c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!impl->fd) throw ioError("cannot open " + *device + ": " + errnoText());
    termios tio{};
    if (::tcgetattr(impl->fd.get(), &tio) != 0) throw ioError(*device + " is no serial port: " + errnoText());
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CSIZE | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    if (::cfsetispeed(&tio, speed) != 0 || ::cfsetospeed(&tio, speed) != 0 ||
        ::tcsetattr(impl->fd.get(), TCSANOW, &tio) != 0)
        throw ioError(*device + " refused " + std::to_string(baud) + " baud 8N1: " + errnoText());
    // tcsetattr succeeds when any one change took: read back what the line really runs at.
    termios now{};
    if (::tcgetattr(impl->fd.get(), &now) != 0 || ::cfgetospeed(&now) != speed)
        throw ioError(*device + " did not take " + std::to_string(baud) + " baud");
    return SerialPort(std::move(impl), *device);
}

void SerialPort::send(std::string_view bytes) {
    const int fd = impl_->fd.get();
    const WriteResult w = writeAll(fd, bytes, impl_->writeTimeoutMs, WriteWait::PerStall);
    switch (w.stop) {
    case WriteStop::Done:
        break;
    case WriteStop::WriteFailed:
        throw ioError("cannot write to " + name_ + ": " + std::strerror(w.error));
    case WriteStop::WaitFailed:
        throw ioError("cannot wait for " + name_ + ": " + std::strerror(w.error));
    case WriteStop::TimedOut:
        throw ioError(name_ + " took " + std::to_string(w.done) + " of " + std::to_string(bytes.size()) + " bytes in " +
                      std::to_string(impl_->writeTimeoutMs) + " ms");
    }
    if (::tcdrain(fd) != 0) throw ioError("cannot drain " + name_ + ": " + errnoText());
}

}  // namespace tovi::devices
