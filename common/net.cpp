#include "common/net.h"

namespace tovi::net {

UniqueSocket connectTo(const Endpoint& endpoint, int timeoutMs, std::string* reason, bool* timedOut) {
    if (timedOut) *timedOut = false;
    UniqueSocket s = startConnect(endpoint, reason);
    if (!s) return s;
    const Wait w = waitConnected(s.get(), timeoutMs, reason);
    if (w == Wait::Ready) return s;
    if (timedOut) *timedOut = w == Wait::TimedOut;
    return {};
}

}  // namespace tovi::net
