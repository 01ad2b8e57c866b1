#include "devices/network_printer.h"

#include <algorithm>
#include <chrono>

#include "common/net.h"
#include "devices/printer_status.h"

namespace tovi::devices {

namespace {

using namespace net;

long long nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int msLeft(long long deadline) { return static_cast<int>(std::max(0LL, deadline - nowMs())); }

// Tries the addresses in turn within one deadline; the last failure is the reason.
UniqueSocket connectAny(const std::vector<Endpoint>& endpoints, int timeoutMs, std::string* reason) {
    const long long deadline = nowMs() + timeoutMs;
    for (const Endpoint& e : endpoints) {
        bool timedOut = false;
        UniqueSocket s = connectTo(e, msLeft(deadline), reason, &timedOut);
        if (s) return s;
        if (timedOut) {
            *reason = "no answer within " + std::to_string(timeoutMs) + " ms";
            return {};
        }
    }
    return {};
}

// The address read and the printer connected, or the failure as printOverNetwork reports it.
UniqueSocket connectPrinter(std::string_view address, int connectTimeoutMs, IoResult* failure) {
    const auto where = parseNetworkAddress(address);
    const std::string name = printableName(address);
    if (!where) {
        *failure = {WINPRINT_NO_PRINTER, "\"" + name + "\" is no printer address (HOST or HOST:PORT, [IPv6]:PORT)"};
        return {};
    }
    std::string reason;
    const std::vector<Endpoint> endpoints = resolve(where->host, where->port, where->numericIPv6, &reason);
    if (endpoints.empty()) {
        *failure = {WINPRINT_NO_PRINTER, "cannot find printer " + name + ": " + reason};
        return {};
    }
    UniqueSocket s = connectAny(endpoints, connectTimeoutMs, &reason);
    if (!s) *failure = {WINPRINT_CANNOT_OPEN, "cannot connect to printer " + name + ": " + reason};
    return s;
}

// A connection of its own for one status reading.
class NetworkLink final : public StatusLink {
public:
    bool open(std::string_view address, int connectTimeoutMs, IoResult* failure) {
        if (!sockets_.ok()) {
            *failure = {WINPRINT_FAILED, sockets_.error()};
            return false;
        }
        socket_ = connectPrinter(address, connectTimeoutMs, failure);
        return static_cast<bool>(socket_);
    }

    bool send(std::string_view bytes, int timeoutMs, std::string* reason) override {
        const long long deadline = nowMs() + timeoutMs;
        while (!bytes.empty()) {
            const Transfer t = sendSome(socket_.get(), bytes);
            if (t.failed) {
                *reason = t.error;
                return false;
            }
            bytes.remove_prefix(t.bytes);
            if (t.bytes > 0) continue;
            if (waitWritable(socket_.get(), msLeft(deadline), reason) != Wait::Ready) {
                if (reason->empty()) *reason = "the printer takes no bytes";
                return false;
            }
        }
        return true;
    }

    Received receive(char* buffer, std::size_t size, int timeoutMs) override {
        std::string reason;
        const Wait w = waitReadable(socket_.get(), timeoutMs, &reason);
        if (w == Wait::TimedOut) return {};
        if (w == Wait::Failed) return {0, true, reason};
        const Transfer t = receiveSome(socket_.get(), buffer, size);
        if (t.failed) return {0, true, t.error};
        if (t.bytes == 0 && !t.wouldBlock) return {0, true, "the printer closed the connection"};
        return {t.bytes, false, {}};
    }

private:
    SocketLibrary sockets_;  // before the socket: Winsock outlives it
    UniqueSocket socket_;
};

}  // namespace

std::unique_ptr<StatusLink> openNetworkLink(std::string_view address, int connectTimeoutMs, IoResult* failure) {
    *failure = {};
    auto link = std::make_unique<NetworkLink>();
    if (!link->open(address, connectTimeoutMs, failure)) return nullptr;
    return link;
}

IoResult printOverNetwork(std::string_view address, std::string_view bytes, int connectTimeoutMs, int writeTimeoutMs) {
    const std::string name = printableName(address);
    SocketLibrary sockets;
    if (!sockets.ok()) return {WINPRINT_FAILED, sockets.error()};
    IoResult failure;
    UniqueSocket s = connectPrinter(address, connectTimeoutMs, &failure);
    if (!s) return failure;
    std::string reason;

    const long long deadline = nowMs() + writeTimeoutMs;
    std::size_t done = 0;
    auto cutShort = [&](const std::string& why) {
        return IoResult{WINPRINT_SHORT_WRITE, "printer " + name + " took " + std::to_string(done) + " of " +
                                                  std::to_string(bytes.size()) + " bytes: " + why};
    };
    while (done < bytes.size()) {
        const Transfer t = sendSome(s.get(), bytes.substr(done));
        if (t.failed) return cutShort(t.error);
        done += t.bytes;
        if (t.bytes > 0) continue;
        const Wait w = waitWritable(s.get(), msLeft(deadline), &reason);
        if (w == Wait::TimedOut) return cutShort("it stopped taking bytes");
        if (w == Wait::Failed) return cutShort(reason);
    }

    // End of job. Reading until the printer closes its end also empties our receive buffer: a
    // socket closed with unread bytes (status a printer sent on its own) is reset, and a reset
    // may throw away job bytes still on their way.
    shutdownSending(s.get());
    const long long grace = std::min(deadline, nowMs() + kCloseGraceMs);
    char sink[512];
    while (nowMs() < grace) {
        const Wait w = waitReadable(s.get(), msLeft(grace), &reason);
        if (w != Wait::Ready) break;
        const Transfer t = receiveSome(s.get(), sink, sizeof sink);
        if (t.failed) return {WINPRINT_SHORT_WRITE, "printer " + name + " dropped the connection at the end of the job: " + t.error};
        if (t.bytes == 0 && !t.wouldBlock) break;  // the printer closed its end: all taken
    }
    return {};
}

}  // namespace tovi::devices
