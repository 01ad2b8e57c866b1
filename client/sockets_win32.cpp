#include <winsock2.h>

#include "client/sockets.h"

namespace tovi::client {

void startSockets() {
    WSADATA wsa;
    WSAStartup(0x0101, &wsa);  // not checked: a failure shows up as a failed update check
}

}  // namespace tovi::client
