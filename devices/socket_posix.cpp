#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "devices/socket.h"

namespace tovi::devices::net {

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
        if (r == 0) return Wait::TimedOut;
        if (errno != EINTR) {
            *reason = std::strerror(errno);
            return Wait::Failed;
        }
    }
}

}  // namespace


SocketLibrary::SocketLibrary() = default;
SocketLibrary::~SocketLibrary() = default;

std::vector<Endpoint> resolve(const std::string& host, int port, bool numeric, std::string* reason) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_NUMERICSERV | (numeric ? AI_NUMERICHOST : 0);
    addrinfo* list = nullptr;
    const int r = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list);
    std::vector<Endpoint> out;
    if (r != 0) {
        *reason = r == EAI_SYSTEM ? std::strerror(errno) : ::gai_strerror(r);
        return out;
    }
    for (const addrinfo* a = list; a; a = a->ai_next) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(a->ai_addr);
        out.push_back({a->ai_family, std::vector<unsigned char>(bytes, bytes + a->ai_addrlen)});
    }
    ::freeaddrinfo(list);
    if (out.empty()) *reason = "no address";
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

std::string connectError(Socket s) {
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(fd(s), SOL_SOCKET, SO_ERROR, &error, &size) != 0) error = errno;
    return error == 0 ? std::string() : std::strerror(error);
}

Transfer sendSome(Socket s, std::string_view bytes) {
    Transfer t;
    // MSG_NOSIGNAL: a printer that hangs up gives an error here, never SIGPIPE to the host program.
    const ssize_t n = ::send(fd(s), bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n >= 0) {
        t.bytes = static_cast<std::size_t>(n);
    } else if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
        t.wouldBlock = true;
    } else {
        t.failed = true;
        t.error = std::strerror(errno);
    }
    return t;
}

Transfer receiveSome(Socket s, char* buffer, std::size_t size) {
    Transfer t;
    const ssize_t n = ::recv(fd(s), buffer, size, 0);
    if (n >= 0) {
        t.bytes = static_cast<std::size_t>(n);
    } else if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
        t.wouldBlock = true;
    } else {
        t.failed = true;
        t.error = std::strerror(errno);
    }
    return t;
}

void shutdownSending(Socket s) { ::shutdown(fd(s), SHUT_WR); }

}  // namespace tovi::devices::net

void tovi::SocketTraits::close(type s) noexcept { ::close(static_cast<int>(s)); }
