#include <dlfcn.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "common/handle.h"
#include "common/sigpipe.h"
#include "common/write_all.h"
#include "devices/devio.h"

extern char** environ;

namespace tovi::devices {

namespace {

std::string errnoText(int e) { return std::strerror(e); }

// A missing device: the node is absent, or present without a device behind it (printer unplugged).
bool isMissingDevice(int e) { return e == ENOENT || e == ENXIO || e == ENODEV || e == ENOTDIR; }

void anchor() {}

}  // namespace

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
