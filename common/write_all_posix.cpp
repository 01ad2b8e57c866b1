#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "common/write_all.h"

namespace tovi {

WriteResult writeAll(int fd, std::string_view bytes, int timeoutMs, WriteWait wait) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    WriteResult r;
    auto stop = [&r](WriteStop why, int error) {
        r.stop = why;
        r.error = error;
        return r;
    };
    while (r.done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + r.done, bytes.size() - r.done);
        if (n > 0) {
            r.done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return stop(WriteStop::WriteFailed, errno);
        long long waitMs = timeoutMs;
        if (wait == WriteWait::Overall) {
            waitMs = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (waitMs <= 0) return stop(WriteStop::TimedOut, ETIMEDOUT);
        }
        pollfd p{fd, POLLOUT, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(waitMs));
        if (ready == 0 && wait == WriteWait::PerStall) return stop(WriteStop::TimedOut, ETIMEDOUT);
        if (ready < 0 && errno != EINTR) return stop(WriteStop::WaitFailed, errno);
        // Broken without room: writing again would only spin until the time-out.
        if (ready > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)) && !(p.revents & POLLOUT))
            return stop(WriteStop::WaitFailed, EIO);
    }
    return r;
}

}  // namespace tovi
