#include <fcntl.h>

#include <cerrno>

#include "common/error.h"
#include "tools/publish/keys.h"

namespace tovi::publish {

UniqueFile createPrivateFile(const std::string& path) {
    // Owner-only from the first byte (never widened by the umask: it only takes rights away).
    UniqueFile file(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!file) throw ioError("cannot create " + path + ": " + systemErrorText(static_cast<unsigned long>(errno)));
    return file;
}

}  // namespace tovi::publish
