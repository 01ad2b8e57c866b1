// The socket primitives of every network client here (the device library's network printer and the
// updater's HTTP client), over BSD sockets or Winsock: net_posix.cpp / net_win32.cpp, with the
// portable pieces in net.cpp. Sockets start non-blocking; makeBlocking turns a connected one into a
// blocking socket with idle time-outs, for callers that block in recv and send (OpenSSL does).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/handle.h"

namespace tovi::net {

using Socket = SocketTraits::type;

// Winsock start-up for as long as the object lives (WSAStartup / WSACleanup, which the system
// counts, so the host program's own start-up is neither needed nor disturbed). Nothing on POSIX.
class SocketLibrary {
public:
    SocketLibrary();
    ~SocketLibrary();
    SocketLibrary(const SocketLibrary&) = delete;
    SocketLibrary& operator=(const SocketLibrary&) = delete;
    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }

private:
    bool started_ = false;
    std::string error_;
};

// One address to connect to, as the system's resolver gave it.
struct Endpoint {
    int family = 0;
    std::vector<unsigned char> address;  // the sockaddr bytes
};

// The addresses of host (UTF-8) for TCP to port, in the resolver's order. numeric: host is an IP
// address literal and is never looked up as a name. An empty list and the reason when there are none.
std::vector<Endpoint> resolve(const std::string& host, int port, bool numeric, std::string* reason);

// A non-blocking socket whose connection to the endpoint has been started. Nothing and the
// reason when even that fails (a refused loopback connection may fail here at once).
UniqueSocket startConnect(const Endpoint& endpoint, std::string* reason);

enum class Wait { Ready, TimedOut, Failed };

// Until the socket can be written to (its send buffer has room), or has bytes, an end or an error
// to read. At most timeoutMs (0: just look). On TimedOut and Failed, reason says why in the
// system's words.
Wait waitWritable(Socket s, int timeoutMs, std::string* reason);
Wait waitReadable(Socket s, int timeoutMs, std::string* reason);
// Until a socket from startConnect is connected (Ready), or its connection failed or timed out.
Wait waitConnected(Socket s, int timeoutMs, std::string* reason);

// startConnect and waitConnected: the connected socket, or nothing with the reason; *timedOut
// (when given) tells an endpoint that gave no answer within timeoutMs.
UniqueSocket connectTo(const Endpoint& endpoint, int timeoutMs, std::string* reason, bool* timedOut = nullptr);

// A connected socket made blocking, its reads and writes failing with a time-out after idleTimeoutMs
// without progress, and its small writes sent at once (no Nagle delay).
void makeBlocking(Socket s, int idleTimeoutMs);

// What one send or receive call did: bytes > 0 moved; 0 with wouldBlock: try after waiting (on a
// blocking socket: its idle time-out passed); 0 without it from receive: the peer closed; failed:
// error holds why, and timedOut tells the system's connection time-out.
struct Transfer {
    std::size_t bytes = 0;
    bool wouldBlock = false;
    bool failed = false;
    bool timedOut = false;
    std::string error;
};
// Never raises SIGPIPE: a peer that hung up is an error here.
Transfer sendSome(Socket s, std::string_view bytes);
Transfer receiveSome(Socket s, char* buffer, std::size_t size);

// No more bytes from us (TCP FIN after what was sent).
void shutdownSending(Socket s);

// For calls made on our sockets by others (OpenSSL): whether the last failed socket call of this
// thread ran into a time-out, and the system's text of its error.
bool lastErrorWasTimeout();
std::string lastErrorText();

}  // namespace tovi::net
