// The few socket services the network printer needs, over BSD sockets or Winsock:
// socket_posix.cpp / socket_win32.cpp. Sockets here are always non-blocking; waiting is done with
// explicit time-outs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/handle.h"

namespace tovi::devices::net {

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

// The addresses of host for TCP to port, in the resolver's order. numeric: host is an IP address
// literal and is never looked up as a name. An empty list and the reason when there are none.
std::vector<Endpoint> resolve(const std::string& host, int port, bool numeric, std::string* reason);

// A non-blocking socket whose connection to the endpoint has been started. Nothing and the
// reason when even that fails (a refused loopback connection may fail here at once).
UniqueSocket startConnect(const Endpoint& endpoint, std::string* reason);

enum class Wait { Ready, TimedOut, Failed };

// Until the socket can be written to: its connection is done (or failed), or its send buffer has
// room. At most timeoutMs (0: just look).
Wait waitWritable(Socket s, int timeoutMs, std::string* reason);
// Until the socket has bytes, an end or an error to read.
Wait waitReadable(Socket s, int timeoutMs, std::string* reason);

// After waitWritable on a connecting socket: "" when connected, else why not.
std::string connectError(Socket s);

// What one send or receive call did: bytes > 0 moved; 0 with wouldBlock: try after waiting;
// 0 without it from receive: the peer closed; failed: error holds why.
struct Transfer {
    std::size_t bytes = 0;
    bool wouldBlock = false;
    bool failed = false;
    std::string error;
};
Transfer sendSome(Socket s, std::string_view bytes);
Transfer receiveSome(Socket s, char* buffer, std::size_t size);

// No more bytes from us (TCP FIN after what was sent).
void shutdownSending(Socket s);

}  // namespace tovi::devices::net
