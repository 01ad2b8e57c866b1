#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>
#include <cstring>
#include <vector>

#include "common/cmdline.h"
#include "common/paths.h"
#include "common/process.h"

extern char** environ;

namespace tovi {

namespace {

// The argument vector of a start: program first, then the split parameters.
struct Launch {
    bool here = false;  // found in the current folder: spawned by path, not searched on PATH
    std::vector<std::string> argv;
    std::vector<char*> args;

    Launch(const std::string& program, const std::string& parameters) : argv(splitCommandLine(parameters)) {
        // Like the Windows shell, a bare name is looked for in the current folder first.
        const std::string local = "./" + program;
        here = program.find('/') == std::string::npos && fileKind(local) == EntryKind::File;
        argv.insert(argv.begin(), here ? local : program);
        for (auto& a : argv) args.push_back(a.data());
        args.push_back(nullptr);
    }

    int spawn(pid_t& pid) {
        return here ? posix_spawn(&pid, args[0], nullptr, nullptr, args.data(), environ)
                    : posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ);
    }
};

}  // namespace

ProgramResult runProgram(WindowHandle, const std::string& program, const std::string& parameters, int) {
    Launch launch(program, parameters);
    pid_t pid = 0;
    if (const int rc = launch.spawn(pid); rc != 0) {
        return {false, 0, "cannot start " + program + ": " + std::strerror(rc)};
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return {true, -1, {}};
    }
    if (WIFEXITED(status)) return {true, WEXITSTATUS(status), {}};
    return {true, 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0), {}};
}

WatchedProgram startWatched(WindowHandle, const std::string& program, const std::string& parameters, int) {
    Launch launch(program, parameters);
    WatchedProgram watched;
    pid_t pid = 0;
    if (const int rc = launch.spawn(pid); rc != 0) {
        watched.error = "cannot start " + program + ": " + std::strerror(rc);
        return watched;
    }
    watched.started = true;
    watched.pid = pid;
    return watched;
}

std::optional<int> waitForExit(WatchedProgram& program, int ms) {
    if (!program.started) return -1;
    if (program.pid < 0) return std::nullopt;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (true) {
        int status = 0;
        const pid_t done = waitpid(program.pid, &status, WNOHANG);
        if (done == program.pid) {
            program.pid = -1;
            if (WIFEXITED(status)) return WEXITSTATUS(status);
            return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
        }
        if (done < 0 && errno != EINTR) return std::nullopt;
        if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void startProgram(WindowHandle, const std::string& program, const std::string& parameters, int) {
    Launch launch(program, parameters);

    // Double fork: the started program is adopted by init, so the caller never waits for it and
    // never collects a zombie.
    const pid_t mid = fork();
    if (mid < 0) return;
    if (mid == 0) {
        pid_t pid;
        _exit(launch.spawn(pid) == 0 ? 0 : 127);
    }
    int status = 0;
    // Only an interrupted wait is repeated: with SIGCHLD ignored the child is reaped by itself and
    // waitpid fails with ECHILD for good.
    while (waitpid(mid, &status, 0) < 0 && errno == EINTR) {
    }
}

}  // namespace tovi
