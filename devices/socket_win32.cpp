// Winsock must come before <windows.h>, which devio.h's users may include.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "devices/devio.h"
#include "devices/socket.h"

namespace tovi::devices::net {

namespace {

SOCKET sock(Socket s) { return static_cast<SOCKET>(s); }

std::string lastError() { return systemErrorText(static_cast<unsigned long>(WSAGetLastError())); }

// select, not WSAPoll: WSAPoll never reports a connection that failed (it only times out) on
// many Windows releases. One socket is far below FD_SETSIZE.
Wait waitFor(Socket s, bool write, int timeoutMs, std::string* reason) {
    fd_set ready, failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(sock(s), &ready);
    FD_SET(sock(s), &failed);
    timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    const int r = ::select(0, write ? nullptr : &ready, write ? &ready : nullptr, &failed, &limit);
    if (r > 0) return Wait::Ready;
    if (r == 0) return Wait::TimedOut;
    *reason = lastError();
    return Wait::Failed;
}

}  // namespace


SocketLibrary::SocketLibrary() {
    WSADATA data;
    const int r = ::WSAStartup(MAKEWORD(2, 2), &data);
    if (r != 0)
        error_ = "no Winsock: " + systemErrorText(static_cast<unsigned long>(r));
    else
        started_ = true;
}

SocketLibrary::~SocketLibrary() {
    if (started_) ::WSACleanup();
}

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
        *reason = systemErrorText(static_cast<unsigned long>(r));
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
    // Not inherited: a program the host starts meanwhile must not keep the printer's connection open.
    UniqueSocket s(static_cast<Socket>(
        ::WSASocketW(endpoint.family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT)));
    if (!s) {
        *reason = lastError();
        return s;
    }
    u_long nonBlocking = 1;
    if (::ioctlsocket(sock(s.get()), FIONBIO, &nonBlocking) != 0) {
        *reason = lastError();
        s.reset();
        return s;
    }
    const auto* address = reinterpret_cast<const sockaddr*>(endpoint.address.data());
    if (::connect(sock(s.get()), address, static_cast<int>(endpoint.address.size())) != 0 &&
        WSAGetLastError() != WSAEWOULDBLOCK) {
        *reason = lastError();
        s.reset();
    }
    return s;
}

Wait waitWritable(Socket s, int timeoutMs, std::string* reason) { return waitFor(s, true, timeoutMs, reason); }
Wait waitReadable(Socket s, int timeoutMs, std::string* reason) { return waitFor(s, false, timeoutMs, reason); }

std::string connectError(Socket s) {
    int error = 0;
    int size = sizeof error;
    if (::getsockopt(sock(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0)
        error = WSAGetLastError();
    return error == 0 ? std::string() : systemErrorText(static_cast<unsigned long>(error));
}

namespace {

Transfer outcome(int n) {
    Transfer t;
    if (n != SOCKET_ERROR) {
        t.bytes = static_cast<std::size_t>(n);
    } else if (WSAGetLastError() == WSAEWOULDBLOCK) {
        t.wouldBlock = true;
    } else {
        t.failed = true;
        t.error = lastError();
    }
    return t;
}

// send and recv take an int count.
int piece(std::size_t size) { return size > (1u << 20) ? (1 << 20) : static_cast<int>(size); }

}  // namespace

Transfer sendSome(Socket s, std::string_view bytes) {
    return outcome(::send(sock(s), bytes.data(), piece(bytes.size()), 0));
}

Transfer receiveSome(Socket s, char* buffer, std::size_t size) {
    return outcome(::recv(sock(s), buffer, piece(size), 0));
}

void shutdownSending(Socket s) { ::shutdown(sock(s), SD_SEND); }

}  // namespace tovi::devices::net

void tovi::SocketTraits::close(type s) noexcept { ::closesocket(static_cast<SOCKET>(s)); }
