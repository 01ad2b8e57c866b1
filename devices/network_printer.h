// Raw print jobs to a printer on the network: the job's bytes on a TCP connection of their own
// (port 9100 by default), as ESC/POS network printers take them.
#pragma once

#include <string_view>

#include "devices/devio.h"

namespace tovi::devices {

// How long, after the last byte, we wait for the printer to close its end before closing ours
// anyway (many printers close at once; some never do).
inline constexpr int kCloseGraceMs = 500;

// Sends every byte to the printer at address ("HOST[:PORT]", see parseNetworkAddress) and closes
// the connection. Connecting (all addresses of the name together) takes at most connectTimeoutMs;
// the bytes must all be taken within writeTimeoutMs. Success only when every byte went out and
// the printer neither reset the connection nor stopped taking bytes; a job cut short is a failure.
// Name look-up is the system resolver's and runs on its own time-outs.
IoResult printOverNetwork(std::string_view address, std::string_view bytes, int connectTimeoutMs, int writeTimeoutMs);

}  // namespace tovi::devices
