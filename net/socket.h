// A blocking TCP connection with an idle time-out: the HTTP client's and OpenSSL's view of the
// socket primitives in common/net.h.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/handle.h"

namespace tovi::updater {

class Socket {
public:
    // Connects to host:port (every address the name resolves to, in turn). Reads and writes that
    // make no progress for idleTimeout fail; so does a connection attempt that takes longer.
    // Throws IOError naming the host.
    static Socket connect(const std::string& host, std::uint16_t port, std::chrono::milliseconds idleTimeout);

    Socket() = default;

    // The descriptor as OpenSSL's SSL_set_fd takes it (a SOCKET fits: Windows keeps them small).
    int fd() const { return static_cast<int>(socket_.get()); }

    // Plain reads and writes (http:). read returns 0 at the end of the stream; both throw IOError,
    // with the "timed out" text when the idle time-out passed.
    std::size_t read(char* buf, std::size_t size);
    void writeAll(const char* data, std::size_t size);

private:
    explicit Socket(UniqueSocket s) : socket_(std::move(s)) {}
    UniqueSocket socket_;
};

// "no data from host for 60 s (timed out)".
std::string idleTimeoutText(const std::string& host, std::chrono::milliseconds idleTimeout);

}  // namespace tovi::updater
