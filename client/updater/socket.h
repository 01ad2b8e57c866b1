// A blocking TCP connection, the one piece of the HTTP client that is platform-bound
// (socket_posix.cpp / socket_win32.cpp; Winsock on Windows).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace tovi::updater {

class Socket {
public:
    // Connects to host:port (every address the name resolves to, in turn). Reads and writes that
    // make no progress for idleTimeout fail; so does a connection attempt that takes longer.
    // Throws IOError naming the host.
    static Socket connect(const std::string& host, std::uint16_t port, std::chrono::milliseconds idleTimeout);

    Socket() = default;
    Socket(Socket&& o) noexcept : fd_(o.fd_) { o.fd_ = kNone; }
    Socket& operator=(Socket&& o) noexcept;
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    ~Socket();

    // The descriptor as OpenSSL's SSL_set_fd takes it (a SOCKET fits: Windows keeps them small).
    int fd() const { return static_cast<int>(fd_); }

    // Plain reads and writes (http:). read returns 0 at the end of the stream; both throw IOError,
    // with the "timed out" text when the idle time-out passed.
    std::size_t read(char* buf, std::size_t size);
    void writeAll(const char* data, std::size_t size);

    // Whether the last failed socket call of this thread ran into the idle time-out.
    static bool lastErrorWasTimeout();
    // The system's text of the last socket error of this thread.
    static std::string lastErrorText();

private:
    using Native = std::intptr_t;
    static constexpr Native kNone = -1;
    explicit Socket(Native fd) : fd_(fd) {}
    Native fd_ = kNone;
};

// While one exists, a write to a connection the peer has closed fails with an error instead of
// ending the process with SIGPIPE (posix); nothing on Windows.
class NoSigpipe {
public:
    NoSigpipe();
    ~NoSigpipe();
    NoSigpipe(const NoSigpipe&) = delete;
    NoSigpipe& operator=(const NoSigpipe&) = delete;

private:
    bool wasPending_ = false;
    bool blocked_ = false;
};

// "no data from host for 60 s (timed out)".
std::string idleTimeoutText(const std::string& host, std::chrono::milliseconds idleTimeout);

}  // namespace tovi::updater
