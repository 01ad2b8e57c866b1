#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <pthread.h>

#include "client/updater/socket.h"
#include "common/error.h"

namespace tovi::updater {

namespace {

struct AddrInfoFree {
    void operator()(addrinfo* a) const noexcept { freeaddrinfo(a); }
};

void setTimeouts(int fd, std::chrono::milliseconds t) {
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(t.count() / 1000);
    tv.tv_usec = static_cast<suseconds_t>((t.count() % 1000) * 1000);
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

// Connects with a bound on the time taken; returns 0 or the errno value.
int connectWithin(int fd, const sockaddr* addr, socklen_t len, std::chrono::milliseconds t) {
    const int flags = fcntl(fd, F_GETFL, 0);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    int err = 0;
    if (::connect(fd, addr, len) != 0) {
        err = errno;
        if (err == EINPROGRESS) {
            pollfd p{fd, POLLOUT, 0};
            int r;
            do {
                r = poll(&p, 1, static_cast<int>(t.count()));
            } while (r < 0 && errno == EINTR);
            if (r == 0) {
                err = ETIMEDOUT;
            } else if (r < 0) {
                err = errno;
            } else {
                socklen_t l = sizeof err;
                getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &l);
            }
        }
    }
    fcntl(fd, F_SETFL, flags);
    return err;
}

}  // namespace

Socket& Socket::operator=(Socket&& o) noexcept {
    if (this != &o) {
        if (fd_ != kNone) ::close(static_cast<int>(fd_));
        fd_ = o.fd_;
        o.fd_ = kNone;
    }
    return *this;
}

Socket::~Socket() {
    if (fd_ != kNone) ::close(static_cast<int>(fd_));
}

Socket Socket::connect(const std::string& host, std::uint16_t port, std::chrono::milliseconds idleTimeout) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* raw = nullptr;
    const std::string service = std::to_string(port);
    const int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &raw);
    if (rc != 0) throw ioError("cannot resolve host " + host + ": " + gai_strerror(rc));
    std::unique_ptr<addrinfo, AddrInfoFree> list(raw);
    int lastErr = 0;
    for (addrinfo* a = list.get(); a; a = a->ai_next) {
        const int fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            lastErr = errno;
            continue;
        }
        Socket s(fd);
        lastErr = connectWithin(fd, a->ai_addr, a->ai_addrlen, idleTimeout);
        if (lastErr == 0) {
            const int one = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            setTimeouts(fd, idleTimeout);
            return s;
        }
    }
    throw ioError("cannot connect to " + host + ":" + service + ": " + std::strerror(lastErr));
}

std::size_t Socket::read(char* buf, std::size_t size) {
    while (true) {
        const ssize_t n = ::recv(static_cast<int>(fd_), buf, size, 0);
        if (n >= 0) return static_cast<std::size_t>(n);
        if (errno == EINTR) continue;
        if (lastErrorWasTimeout()) throw ioError("timed out");
        throw ioError("connection failed: " + lastErrorText());
    }
}

void Socket::writeAll(const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::send(static_cast<int>(fd_), data, size, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (lastErrorWasTimeout()) throw ioError("timed out");
            throw ioError("connection failed: " + lastErrorText());
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

bool Socket::lastErrorWasTimeout() { return errno == EAGAIN || errno == EWOULDBLOCK || errno == ETIMEDOUT; }

std::string Socket::lastErrorText() { return std::strerror(errno); }

// OpenSSL writes with send() and no MSG_NOSIGNAL: block SIGPIPE on this thread while it writes,
// and swallow one that the write raised, so a closed connection is an error, not the end of us.
NoSigpipe::NoSigpipe() {
    sigset_t pipe, pending, old;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    sigpending(&pending);
    wasPending_ = sigismember(&pending, SIGPIPE) == 1;
    if (pthread_sigmask(SIG_BLOCK, &pipe, &old) == 0) blocked_ = sigismember(&old, SIGPIPE) == 0;
}

NoSigpipe::~NoSigpipe() {
    if (!blocked_) return;
    sigset_t pipe, pending;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    sigpending(&pending);
    if (!wasPending_ && sigismember(&pending, SIGPIPE) == 1) {
        const timespec zero{0, 0};
        while (sigtimedwait(&pipe, nullptr, &zero) == -1 && errno == EINTR) {
        }
    }
    pthread_sigmask(SIG_UNBLOCK, &pipe, nullptr);
}

}  // namespace tovi::updater
