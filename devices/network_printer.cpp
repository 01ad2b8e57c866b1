#include "devices/network_printer.h"

#include <algorithm>
#include <chrono>

#include "common/net.h"

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

}  // namespace

IoResult printOverNetwork(std::string_view address, std::string_view bytes, int connectTimeoutMs, int writeTimeoutMs) {
    const auto where = parseNetworkAddress(address);
    const std::string name = printableName(address);
    if (!where) return {WINPRINT_NO_PRINTER, "\"" + name + "\" is no printer address (HOST or HOST:PORT, [IPv6]:PORT)"};
    SocketLibrary sockets;
    if (!sockets.ok()) return {WINPRINT_FAILED, sockets.error()};

    std::string reason;
    const std::vector<Endpoint> endpoints = resolve(where->host, where->port, where->numericIPv6, &reason);
    if (endpoints.empty()) return {WINPRINT_NO_PRINTER, "cannot find printer " + name + ": " + reason};
    UniqueSocket s = connectAny(endpoints, connectTimeoutMs, &reason);
    if (!s) return {WINPRINT_CANNOT_OPEN, "cannot connect to printer " + name + ": " + reason};

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
