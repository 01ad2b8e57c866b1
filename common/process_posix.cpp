#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "common/cmdline.h"
#include "common/paths.h"
#include "common/process.h"

extern char** environ;

namespace tovi {

void startProgram(WindowHandle, const std::string& program, const std::string& parameters, int) {
    std::vector<std::string> argv = splitCommandLine(parameters);
    // Like the Windows shell, a bare name is looked for in the current folder first.
    const std::string local = "./" + program;
    const bool here = program.find('/') == std::string::npos && fileKind(local) == FileKind::Regular;
    argv.insert(argv.begin(), here ? local : program);
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);

    // Double fork: the started program is adopted by init, so the caller never waits for it and
    // never collects a zombie.
    const pid_t mid = fork();
    if (mid < 0) return;
    if (mid == 0) {
        pid_t pid;
        const int rc = here ? posix_spawn(&pid, args[0], nullptr, nullptr, args.data(), environ)
                            : posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ);
        _exit(rc == 0 ? 0 : 127);
    }
    int status = 0;
    // Only an interrupted wait is repeated: with SIGCHLD ignored the child is reaped by itself and
    // waitpid fails with ECHILD for good.
    while (waitpid(mid, &status, 0) < 0 && errno == EINTR) {
    }
}

}  // namespace tovi
