// Starting the platform's sockets layer before the update check may use it.
#pragma once

namespace tovi::client {

// Windows: WSAStartup requesting version 1.1. Elsewhere there is nothing to start.
void startSockets();

}  // namespace tovi::client
