#include "client/sockets.h"

namespace tovi::client {

void startSockets() {}

}  // namespace tovi::client
