// Winsock must come before <windows.h>, which other headers' users may include.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <memory>

#include "common/error.h"
#include "common/net.h"
#include "common/net_addrinfo.h"
#include "common/text.h"

namespace tovi::net {

namespace {

SOCKET sock(Socket s) { return static_cast<SOCKET>(s); }

std::string errorText(int code) { return systemErrorText(static_cast<unsigned long>(code)); }
std::string lastError() { return errorText(WSAGetLastError()); }

// select, not WSAPoll: WSAPoll never reports a connection that failed (it only times out) on
// many Windows releases. One socket is far below FD_SETSIZE. failedSet: also watch the exception
// set, where a connection attempt that failed comes back, and say whether it did.
//
// Only a connection needs the exception set. Elsewhere it would only report out-of-band data,
// which we never ask for, and it puts the socket into one poll twice. Wine 8.0's server then
// dies now and then on an assertion ("complete_async_poll: output->count == signaled_count")
// when the peer hangs up as the poll starts, as a printer does at the end of a job; every
// program of that Wine prefix hangs with it (seen about once in 100 print runs; none in 900
// since the read and write waits watch one set).
Wait waitFor(Socket s, bool write, int timeoutMs, std::string* reason, bool* failedSet = nullptr) {
    fd_set ready, failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(sock(s), &ready);
    if (failedSet) FD_SET(sock(s), &failed);
    timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    const int r = ::select(0, write ? nullptr : &ready, write ? &ready : nullptr, failedSet ? &failed : nullptr, &limit);
    if (failedSet) *failedSet = r > 0 && FD_ISSET(sock(s), &failed);
    if (r > 0) return Wait::Ready;
    *reason = r == 0 ? errorText(WSAETIMEDOUT) : lastError();
    return r == 0 ? Wait::TimedOut : Wait::Failed;
}

Transfer outcome(int n) {
    Transfer t;
    if (n != SOCKET_ERROR) {
        t.bytes = static_cast<std::size_t>(n);
        return t;
    }
    const int code = WSAGetLastError();
    if (code == WSAEWOULDBLOCK) {
        t.wouldBlock = true;
    } else {
        t.failed = true;
        t.timedOut = code == WSAETIMEDOUT;
        t.error = errorText(code);
    }
    return t;
}

// send and recv take an int count.
int piece(std::size_t size) { return size > (1u << 20) ? (1 << 20) : static_cast<int>(size); }

struct AddrInfoFree {
    void operator()(ADDRINFOW* a) const noexcept { FreeAddrInfoW(a); }
};

}  // namespace

SocketLibrary::SocketLibrary() {
    WSADATA data;
    const int r = ::WSAStartup(MAKEWORD(2, 2), &data);
    if (r != 0)
        error_ = "no Winsock: " + errorText(r);
    else
        started_ = true;
}

SocketLibrary::~SocketLibrary() {
    if (started_) ::WSACleanup();
}

std::vector<Endpoint> resolve(const std::string& host, int port, bool numeric, std::string* reason) {
    const ADDRINFOW hints = tcpHints<ADDRINFOW>(numeric);
    ADDRINFOW* raw = nullptr;
    // The wide call: a host name is UTF-8 here, never the ANSI code page.
    const int r = ::GetAddrInfoW(widen(host).c_str(), std::to_wstring(port).c_str(), &hints, &raw);
    if (r != 0) {
        *reason = errorText(r);
        return {};
    }
    const std::unique_ptr<ADDRINFOW, AddrInfoFree> list(raw);
    return endpointsOf(list.get(), reason);
}

UniqueSocket startConnect(const Endpoint& endpoint, std::string* reason) {
    // Not inherited: a program started meanwhile must not keep the connection open.
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

Wait waitConnected(Socket s, int timeoutMs, std::string* reason) {
    bool failedSet = false;
    const Wait w = waitFor(s, true, timeoutMs, reason, &failedSet);
    if (w != Wait::Ready) return w;
    int error = 0;
    int size = sizeof error;
    if (::getsockopt(sock(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0)
        error = WSAGetLastError();
    // A socket in the exception set failed to connect, whatever SO_ERROR says by now.
    if (error == 0 && failedSet) error = WSAECONNREFUSED;
    if (error == 0) return Wait::Ready;
    *reason = errorText(error);
    return Wait::Failed;
}

void makeBlocking(Socket s, int idleTimeoutMs) {
    u_long off = 0;
    ::ioctlsocket(sock(s), FIONBIO, &off);
    const BOOL one = TRUE;
    ::setsockopt(sock(s), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    // 0 would mean no time-out at all.
    const DWORD ms = static_cast<DWORD>(idleTimeoutMs > 0 ? idleTimeoutMs : 1);
    ::setsockopt(sock(s), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&ms), sizeof ms);
    ::setsockopt(sock(s), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&ms), sizeof ms);
}

Transfer sendSome(Socket s, std::string_view bytes) { return outcome(::send(sock(s), bytes.data(), piece(bytes.size()), 0)); }

Transfer receiveSome(Socket s, char* buffer, std::size_t size) { return outcome(::recv(sock(s), buffer, piece(size), 0)); }

void shutdownSending(Socket s) { ::shutdown(sock(s), SD_SEND); }

bool lastErrorWasTimeout() {
    const int e = WSAGetLastError();
    return e == WSAETIMEDOUT || e == WSAEWOULDBLOCK;
}

std::string lastErrorText() { return lastError(); }

}  // namespace tovi::net

void tovi::SocketTraits::close(type s) noexcept { ::closesocket(static_cast<SOCKET>(s)); }
