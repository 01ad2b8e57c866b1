#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/error.h"
#include "tools/publish/keys.h"

namespace tovi::publish {

void writePrivateFile(const std::string& path, std::string_view text) {
    // Owner-only from the first byte (never widened by the umask: it only takes rights away).
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) throw ioError("cannot create " + path + ": " + std::strerror(errno));
    bool ok = true;
    while (ok && !text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) text.remove_prefix(static_cast<std::size_t>(n));
    }
    ok = ::fsync(fd) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    if (!ok) {
        ::unlink(path.c_str());
        throw ioError("cannot write: " + path);
    }
}

}  // namespace tovi::publish
