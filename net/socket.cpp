#include "net/socket.h"

#include <string_view>

#include "common/error.h"
#include "common/net.h"

namespace tovi::updater {

namespace {

[[noreturn]] void fail(const net::Transfer& t) {
    if (t.wouldBlock || t.timedOut) throw ioError("timed out");
    throw ioError("connection failed: " + t.error);
}

}  // namespace

Socket Socket::connect(const std::string& host, std::uint16_t port, std::chrono::milliseconds idleTimeout) {
    // Winsock stays started for the life of the process, never cleaned up at exit: a check may
    // still be reading on its worker thread then.
    static const net::SocketLibrary* const sockets = new net::SocketLibrary;
    if (!sockets->ok()) throw ioError("cannot start Windows Sockets");
    std::string reason;
    const std::vector<net::Endpoint> endpoints = net::resolve(host, port, false, &reason);
    if (endpoints.empty()) throw ioError("cannot resolve host " + host + ": " + reason);
    const int timeoutMs = static_cast<int>(idleTimeout.count());
    // Each address in turn gets the whole time-out; the last one's failure is the reason.
    for (const net::Endpoint& e : endpoints) {
        UniqueSocket s = net::connectTo(e, timeoutMs, &reason);
        if (s) {
            net::makeBlocking(s.get(), timeoutMs);
            return Socket(std::move(s));
        }
    }
    throw ioError("cannot connect to " + host + ":" + std::to_string(port) + ": " + reason);
}

std::size_t Socket::read(char* buf, std::size_t size) {
    const net::Transfer t = net::receiveSome(socket_.get(), buf, size);
    if (t.wouldBlock || t.failed) fail(t);
    return t.bytes;
}

void Socket::writeAll(const char* data, std::size_t size) {
    std::string_view rest(data, size);
    while (!rest.empty()) {
        const net::Transfer t = net::sendSome(socket_.get(), rest);
        if (t.wouldBlock || t.failed) fail(t);
        rest.remove_prefix(t.bytes);
    }
}

}  // namespace tovi::updater
