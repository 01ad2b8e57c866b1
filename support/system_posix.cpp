#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "common/error.h"
#include "common/handle.h"
#include "support/system.h"

namespace tovi::support {

namespace {

MoveResult failure(int error) {
    MoveResult r;
    r.status = (error == EBUSY || error == ETXTBSY || error == EACCES) ? MoveStatus::InUse : MoveStatus::Failed;
    r.systemText = systemErrorMessage(static_cast<unsigned long>(error));
    return r;
}

// Copies src to a temporary file beside dst and renames that over dst, so that dst is never
// seen half written; then removes src. Used when src and dst lie on different file systems.
MoveResult copyAcross(const std::string& src, const std::string& dst) {
    const std::string tmp = dst + ".part";
    {
        UniqueFd in(::open(src.c_str(), O_RDONLY | O_CLOEXEC));
        if (!in) return failure(errno);
        UniqueFd out(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0755));
        if (!out) return failure(errno);
        char buf[65536];
        while (true) {
            const ssize_t n = ::read(in.get(), buf, sizeof buf);
            if (n == 0) break;
            if (n < 0) {
                if (errno == EINTR) continue;
                const int e = errno;
                ::unlink(tmp.c_str());
                return failure(e);
            }
            for (ssize_t off = 0; off < n;) {
                const ssize_t w = ::write(out.get(), buf + off, static_cast<std::size_t>(n - off));
                if (w < 0) {
                    if (errno == EINTR) continue;
                    const int e = errno;
                    ::unlink(tmp.c_str());
                    return failure(e);
                }
                off += w;
            }
        }
        if (::fsync(out.get()) != 0) {
            const int e = errno;
            ::unlink(tmp.c_str());
            return failure(e);
        }
    }
    if (::rename(tmp.c_str(), dst.c_str()) != 0) {
        const int e = errno;
        ::unlink(tmp.c_str());
        return failure(e);
    }
    ::unlink(src.c_str());
    return {MoveStatus::Moved, {}};
}

}  // namespace

MoveResult moveReplacing(const std::string& src, const std::string& dst) {
    // The downloaded file carries no execute permission, and the client must be startable from
    // the moment it has its name: a stop between the rename and a chmod would leave a client that
    // never starts again.
    struct stat st {};
    if (::stat(src.c_str(), &st) == 0) ::chmod(src.c_str(), (st.st_mode & 07777) | 0111);
    if (::rename(src.c_str(), dst.c_str()) == 0) return {MoveStatus::Moved, {}};
    if (errno != EXDEV) return failure(errno);
    return copyAcross(src, dst);
}

void sleepMilliseconds(int milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

}  // namespace tovi::support
