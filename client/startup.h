// The client's whole run, from binding its libraries to the end of the message loop.
#pragma once

namespace tovi::client {

// Runs the client and returns its exit status: 0 after the loop ends normally, 1 after a start-up
// failure or an error left pending by a handler (both already reported).
int clientMain();

}  // namespace tovi::client
