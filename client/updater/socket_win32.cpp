#include <winsock2.h>
#include <ws2tcpip.h>

#include <memory>

#include "client/updater/socket.h"
#include "common/error.h"
#include "common/text.h"

namespace tovi::updater {

namespace {

// Winsock counts its users; this one stays for the life of the process.
void startWinsock() {
    static const bool started = [] {
        WSADATA data{};
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    if (!started) throw ioError("cannot start Windows Sockets");
}

struct AddrInfoFree {
    void operator()(ADDRINFOW* a) const noexcept { FreeAddrInfoW(a); }
};

void setTimeouts(SOCKET s, std::chrono::milliseconds t) {
    const DWORD ms = static_cast<DWORD>(t.count() > 0 ? t.count() : 1);
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&ms), sizeof ms);
    setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&ms), sizeof ms);
}

int connectWithin(SOCKET s, const sockaddr* addr, int len, std::chrono::milliseconds t) {
    u_long on = 1;
    ioctlsocket(s, FIONBIO, &on);
    int err = 0;
    if (::connect(s, addr, len) != 0) {
        err = WSAGetLastError();
        if (err == WSAEWOULDBLOCK) {
            fd_set writable, failed;
            FD_ZERO(&writable);
            FD_ZERO(&failed);
            FD_SET(s, &writable);
            FD_SET(s, &failed);
            timeval tv{static_cast<long>(t.count() / 1000), static_cast<long>((t.count() % 1000) * 1000)};
            const int r = select(0, nullptr, &writable, &failed, &tv);
            if (r == 0) {
                err = WSAETIMEDOUT;
            } else if (r < 0) {
                err = WSAGetLastError();
            } else {
                int soErr = 0;
                int l = sizeof soErr;
                getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soErr), &l);
                err = FD_ISSET(s, &failed) && soErr == 0 ? WSAECONNREFUSED : soErr;
            }
        }
    }
    u_long off = 0;
    ioctlsocket(s, FIONBIO, &off);
    return err;
}

std::string errorText(int code) { return systemErrorText(static_cast<unsigned long>(code)); }

}  // namespace

Socket& Socket::operator=(Socket&& o) noexcept {
    if (this != &o) {
        if (fd_ != kNone) closesocket(static_cast<SOCKET>(fd_));
        fd_ = o.fd_;
        o.fd_ = kNone;
    }
    return *this;
}

Socket::~Socket() {
    if (fd_ != kNone) closesocket(static_cast<SOCKET>(fd_));
}

Socket Socket::connect(const std::string& host, std::uint16_t port, std::chrono::milliseconds idleTimeout) {
    startWinsock();
    ADDRINFOW hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    ADDRINFOW* raw = nullptr;
    const std::string service = std::to_string(port);
    const int rc = GetAddrInfoW(widen(host).c_str(), widen(service).c_str(), &hints, &raw);
    if (rc != 0) throw ioError("cannot resolve host " + host + ": " + errorText(rc));
    std::unique_ptr<ADDRINFOW, AddrInfoFree> list(raw);
    int lastErr = 0;
    for (ADDRINFOW* a = list.get(); a; a = a->ai_next) {
        const SOCKET s = WSASocketW(a->ai_family, a->ai_socktype, a->ai_protocol, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
        if (s == INVALID_SOCKET) {
            lastErr = WSAGetLastError();
            continue;
        }
        Socket sock(static_cast<Native>(s));
        lastErr = connectWithin(s, a->ai_addr, static_cast<int>(a->ai_addrlen), idleTimeout);
        if (lastErr == 0) {
            const BOOL one = TRUE;
            setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
            setTimeouts(s, idleTimeout);
            return sock;
        }
    }
    throw ioError("cannot connect to " + host + ":" + service + ": " + errorText(lastErr));
}

std::size_t Socket::read(char* buf, std::size_t size) {
    const int want = size > 0x40000000 ? 0x40000000 : static_cast<int>(size);
    const int n = ::recv(static_cast<SOCKET>(fd_), buf, want, 0);
    if (n >= 0) return static_cast<std::size_t>(n);
    if (lastErrorWasTimeout()) throw ioError("timed out");
    throw ioError("connection failed: " + lastErrorText());
}

void Socket::writeAll(const char* data, std::size_t size) {
    while (size > 0) {
        const int want = size > 0x40000000 ? 0x40000000 : static_cast<int>(size);
        const int n = ::send(static_cast<SOCKET>(fd_), data, want, 0);
        if (n < 0) {
            if (lastErrorWasTimeout()) throw ioError("timed out");
            throw ioError("connection failed: " + lastErrorText());
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

bool Socket::lastErrorWasTimeout() {
    const int e = WSAGetLastError();
    return e == WSAETIMEDOUT || e == WSAEWOULDBLOCK;
}

std::string Socket::lastErrorText() { return errorText(WSAGetLastError()); }

NoSigpipe::NoSigpipe() = default;
NoSigpipe::~NoSigpipe() = default;

}  // namespace tovi::updater
