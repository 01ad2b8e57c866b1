#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "common/net.h"
#include "common/net_addrinfo.h"

namespace tovi::net {

namespace {

int fd(Socket s) { return static_cast<int>(s); }

Wait waitFor(Socket s, short events, int timeoutMs, std::string* reason) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    pollfd p{fd(s), events, 0};
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        const int r = ::poll(&p, 1, static_cast<int>(left > 0 ? left : 0));
        if (r > 0) return Wait::Ready;
        if (r == 0) {
            *reason = std::strerror(ETIMEDOUT);
            return Wait::TimedOut;
        }
        if (errno != EINTR) {
            *reason = std::strerror(errno);
            return Wait::Failed;
        }
    }
}

// What send or recv returned. EINTR is retried by the callers: nothing was moved.
Transfer outcome(ssize_t n) {
    Transfer t;
    if (n >= 0) {
        t.bytes = static_cast<std::size_t>(n);
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
        t.wouldBlock = true;
    } else {
        t.failed = true;
        t.timedOut = errno == ETIMEDOUT;
        t.error = std::strerror(errno);
    }
    return t;
}

}  // namespace

SocketLibrary::SocketLibrary() = default;
SocketLibrary::~SocketLibrary() = default;

std::vector<Endpoint> resolve(const std::string& host, int port, bool numeric, std::string* reason) {
    const addrinfo hints = tcpHints<addrinfo>(numeric);
    addrinfo* list = nullptr;
    const int r = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list);
    if (r != 0) {
        *reason = r == EAI_SYSTEM ? std::strerror(errno) : ::gai_strerror(r);
        return {};
    }
    std::vector<Endpoint> out = endpointsOf(list, reason);
    ::freeaddrinfo(list);
    return out;
}

UniqueSocket startConnect(const Endpoint& endpoint, std::string* reason) {
    UniqueSocket s(static_cast<Socket>(::socket(endpoint.family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)));
    if (!s) {
        *reason = std::strerror(errno);
        return s;
    }
    const auto* address = reinterpret_cast<const sockaddr*>(endpoint.address.data());
    if (::connect(fd(s.get()), address, static_cast<socklen_t>(endpoint.address.size())) != 0 && errno != EINPROGRESS) {
        *reason = std::strerror(errno);
        s.reset();
    }
    return s;
}

Wait waitWritable(Socket s, int timeoutMs, std::string* reason) { return waitFor(s, POLLOUT, timeoutMs, reason); }
Wait waitReadable(Socket s, int timeoutMs, std::string* reason) { return waitFor(s, POLLIN, timeoutMs, reason); }

Wait waitConnected(Socket s, int timeoutMs, std::string* reason) {
    const Wait w = waitFor(s, POLLOUT, timeoutMs, reason);
    if (w != Wait::Ready) return w;
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(fd(s), SOL_SOCKET, SO_ERROR, &error, &size) != 0) error = errno;
    if (error == 0) return Wait::Ready;
    *reason = std::strerror(error);
    return Wait::Failed;
}

void makeBlocking(Socket s, int idleTimeoutMs) {
    const int flags = ::fcntl(fd(s), F_GETFL, 0);
    ::fcntl(fd(s), F_SETFL, flags & ~O_NONBLOCK);
    const int one = 1;
    ::setsockopt(fd(s), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(idleTimeoutMs / 1000);
    tv.tv_usec = static_cast<suseconds_t>((idleTimeoutMs % 1000) * 1000);
    ::setsockopt(fd(s), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(fd(s), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

Transfer sendSome(Socket s, std::string_view bytes) {
    ssize_t n;
    // MSG_NOSIGNAL: a peer that hangs up gives an error here, never SIGPIPE to the host program.
    while ((n = ::send(fd(s), bytes.data(), bytes.size(), MSG_NOSIGNAL)) < 0 && errno == EINTR) {
    }
    return outcome(n);
}

Transfer receiveSome(Socket s, char* buffer, std::size_t size) {
    ssize_t n;
    while ((n = ::recv(fd(s), buffer, size, 0)) < 0 && errno == EINTR) {
    }
    return outcome(n);
}

void shutdownSending(Socket s) { ::shutdown(fd(s), SHUT_WR); }

bool lastErrorWasTimeout() { return errno == EAGAIN || errno == EWOULDBLOCK || errno == ETIMEDOUT; }

std::string lastErrorText() { return std::strerror(errno); }

}  // namespace tovi::net

void tovi::SocketTraits::close(type s) noexcept { ::close(static_cast<int>(s)); }
