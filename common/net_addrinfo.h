// The resolver's halves that BSD sockets and Winsock share but for the name of the list type
// (addrinfo, ADDRINFOW). Only for net_posix.cpp and net_win32.cpp, after their socket headers.
#pragma once

#include <string>
#include <vector>

#include "common/net.h"

namespace tovi::net {

// What to ask the resolver for: TCP, either IP version, a numeric port; a numeric host when told.
template <typename AddrInfo>
AddrInfo tcpHints(bool numericHost) {
    AddrInfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_NUMERICSERV | (numericHost ? AI_NUMERICHOST : 0);
    return hints;
}

// The resolver's answer as endpoints; "no address" as the reason for an empty one.
template <typename AddrInfo>
std::vector<Endpoint> endpointsOf(const AddrInfo* list, std::string* reason) {
    std::vector<Endpoint> out;
    for (const AddrInfo* a = list; a; a = a->ai_next) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(a->ai_addr);
        out.push_back({a->ai_family, std::vector<unsigned char>(bytes, bytes + a->ai_addrlen)});
    }
    if (out.empty()) *reason = "no address";
    return out;
}

}  // namespace tovi::net
