#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "common/handle.h"
#include "common/sigpipe.h"
#include "common/write_all.h"
#include "devices/devio.h"
#include "devices/printer_status.h"

extern char** environ;

namespace tovi::devices {

namespace {

std::string errnoText(int e) { return std::strerror(e); }

// A missing device: the node is absent, or present without a device behind it (printer unplugged).
bool isMissingDevice(int e) { return e == ENOENT || e == ENXIO || e == ENODEV || e == ENOTDIR; }

void anchor() {}

// A printer device or serial line, read and written without blocking. A terminal is put into raw
// mode for the reading (no line editing to hold back replies, no echo to send them back) at the
// speed it has, and given back its own settings at the end.
class DeviceLink final : public StatusLink {
public:
    explicit DeviceLink(UniqueFd fd) : fd_(std::move(fd)) {
        if (::tcgetattr(fd_.get(), &saved_) != 0) return;
        termios raw = saved_;
        ::cfmakeraw(&raw);
        raw.c_cflag |= CLOCAL | CREAD;
        terminal_ = ::tcsetattr(fd_.get(), TCSANOW, &raw) == 0;
    }
    ~DeviceLink() override {
        if (terminal_) ::tcsetattr(fd_.get(), TCSANOW, &saved_);
    }
    DeviceLink(const DeviceLink&) = delete;
    DeviceLink& operator=(const DeviceLink&) = delete;

    bool send(std::string_view bytes, int timeoutMs, std::string* reason) override {
        const WriteResult w = writeAll(fd_.get(), bytes, std::max(timeoutMs, 1), WriteWait::Overall);
        if (w.stop == WriteStop::Done) return true;
        *reason = "cannot send the status request: " + errnoText(w.error);
        return false;
    }

    Received receive(char* buffer, std::size_t size, int timeoutMs) override {
        pollfd p{fd_.get(), POLLIN, 0};
        const int ready = ::poll(&p, 1, timeoutMs);
        if (ready < 0) return {0, errno != EINTR, errnoText(errno)};
        if (ready == 0) return {};
        const ssize_t n = ::read(fd_.get(), buffer, size);
        if (n > 0) return {static_cast<std::size_t>(n), false, {}};
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) return {};
        // End of file, or EIO from a line that hung up.
        return {0, true, n == 0 ? "the device has nothing more to read" : errnoText(errno)};
    }

private:
    UniqueFd fd_;
    termios saved_{};
    bool terminal_ = false;
};

}  // namespace

std::unique_ptr<StatusLink> openDeviceLink(const std::string& path, IoResult* failure) {
    *failure = {};
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd) {
        const int e = errno;
        *failure = {isMissingDevice(e) ? WINPRINT_NO_PRINTER : WINPRINT_CANNOT_OPEN, "cannot open " + path + ": " + errnoText(e)};
        return nullptr;
    }
    return std::make_unique<DeviceLink>(std::move(fd));
}

std::string libraryFolder() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&anchor), &info) == 0 || !info.dli_fname) return {};
    std::string path = info.dli_fname;
    if (char* real = ::realpath(info.dli_fname, nullptr)) {
        path = real;
        std::free(real);
    }
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

IoResult writeToPath(const std::string& path, bool mustExist, std::string_view bytes, int timeoutMs) {
    struct stat st {};
    const bool exists = ::stat(path.c_str(), &st) == 0;
    const bool device = mustExist || (exists && !S_ISREG(st.st_mode));
    if (exists && S_ISDIR(st.st_mode)) return {WINPRINT_CANNOT_OPEN, path + " is a folder"};
    // Devices are opened without blocking: a serial line waiting for its carrier must not hang
    // the caller; writes then wait through poll with the time-out.
    const int flags = device ? (O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)
                             : (O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC);
    UniqueFd fd(::open(path.c_str(), flags, 0666));
    if (!fd) {
        const int e = errno;
        if (device && isMissingDevice(e)) return {WINPRINT_NO_PRINTER, "no device " + path + ": " + errnoText(e)};
        return {WINPRINT_CANNOT_OPEN, "cannot open " + path + ": " + errnoText(e)};
    }
    const WriteResult w = writeAll(fd.get(), bytes, timeoutMs, WriteWait::Overall);
    if (w.stop != WriteStop::Done)
        return {WINPRINT_SHORT_WRITE, "wrote " + std::to_string(w.done) + " of " + std::to_string(bytes.size()) +
                                          " bytes to " + path + ": " + errnoText(w.error)};
    if (::isatty(fd.get())) ::tcdrain(fd.get());
    if (::close(fd.release()) != 0)
        return {WINPRINT_SHORT_WRITE, "writing " + path + " failed on close: " + errnoText(errno)};
    return {};
}

CreateOutcome createNewFile(const std::string& path, std::string_view bytes, std::string* reason) {
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (!fd) {
        if (errno == EEXIST) return CreateOutcome::Exists;
        if (reason) *reason = "cannot create " + path + ": " + errnoText(errno);
        return CreateOutcome::Failed;
    }
    const WriteResult w = writeAll(fd.get(), bytes, 0, WriteWait::Overall);
    const bool closed = ::close(fd.release()) == 0;
    if (w.stop != WriteStop::Done || !closed) {
        if (reason) *reason = "cannot write " + path + ": " + errnoText(w.stop != WriteStop::Done ? w.error : errno);
        ::unlink(path.c_str());
        return CreateOutcome::Failed;
    }
    return CreateOutcome::Created;
}

IoResult printRaw(const std::string& queue, std::string_view bytes) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return {WINPRINT_FAILED, "no pipe: " + errnoText(errno)};
    UniqueFd readEnd(pipeFds[0]);
    UniqueFd writeEnd(pipeFds[1]);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, readEnd.get(), 0);
    // lp prints "request id is ..." on success; the caller's output is no place for it.
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    std::string dest = queue;
    char arg0[] = "lp", argD[] = "-d", argO[] = "-o", argRaw[] = "raw", argDash[] = "--";
    char* argv[] = {arg0, argD, dest.data(), argO, argRaw, argDash, nullptr};
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, "lp", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    readEnd.reset();
    if (spawned != 0) return {WINPRINT_NO_PRINTER, "cannot run lp for queue " + queue + ": " + errnoText(spawned)};

    WriteResult w;
    {
        // A dying lp must not take the caller down with SIGPIPE.
        NoSigpipe guard;
        w = writeAll(writeEnd.get(), bytes, 60000, WriteWait::Overall);
        writeEnd.reset();
    }

    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (w.stop != WriteStop::Done)
        return {WINPRINT_SHORT_WRITE, "lp took " + std::to_string(w.done) + " of " + std::to_string(bytes.size()) +
                                          " bytes for queue " + queue + ": " + errnoText(w.error)};
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return {WINPRINT_CANNOT_OPEN, "lp refused the job for queue " + queue};
    return {};
}

}  // namespace tovi::devices
