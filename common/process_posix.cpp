#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "common/cmdline.h"
#include "common/handle.h"
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

    int spawn(pid_t& pid, const posix_spawn_file_actions_t* actions = nullptr, char* const* env = environ) {
        return here ? posix_spawn(&pid, args[0], actions, nullptr, args.data(), env)
                    : posix_spawnp(&pid, args[0], actions, nullptr, args.data(), env);
    }
};

int exitStatus(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

using Clock = std::chrono::steady_clock;

// Milliseconds left until deadline for poll (-1: no deadline).
int msLeft(std::optional<Clock::time_point> deadline) {
    if (!deadline) return -1;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

// Reads the program's output until it closes it (it ends), or the deadline passes: false then.
bool readOutput(int fd, std::string& out, std::optional<Clock::time_point> deadline) {
    char buf[4096];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        const int ready = poll(&p, 1, msLeft(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return true;
        const std::size_t room = kMaxOutput - std::min(kMaxOutput, out.size());
        out.append(buf, std::min(room, static_cast<std::size_t>(n)));
    }
}

// With options: the output through a pipe, the variable added, and a deadline after which the
// program is killed.
ProgramResult runWithOptions(Launch& launch, const std::string& program, const RunOptions& options) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return {false, 0, "cannot start " + program + ": " + std::strerror(errno), {}, false};
    UniqueFd readEnd(fds[0]);
    UniqueFd writeEnd(fds[1]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // dup2 leaves the copy open in the program (close-on-exec is not copied).
    posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), STDOUT_FILENO);
    std::vector<char*> env;
    for (char** e = environ; *e; ++e) env.push_back(*e);
    std::string variable = options.variable;
    if (!variable.empty()) env.push_back(variable.data());
    env.push_back(nullptr);
    pid_t pid = 0;
    const int rc = launch.spawn(pid, &actions, env.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return {false, 0, "cannot start " + program + ": " + std::strerror(rc), {}, false};
    writeEnd.reset();
    // Readable once the program has ended: its end is waited for, not polled for. None on a kernel
    // before 5.3, which is polled for in short steps instead.
    // (The system call itself: glibc's wrapper is newer than some tills' C library.)
    UniqueFd exited(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));
    std::optional<Clock::time_point> deadline;
    if (options.timeoutMs >= 0) deadline = Clock::now() + std::chrono::milliseconds(options.timeoutMs);
    ProgramResult result{true, 0, {}, {}, false};
    // A program that closed its output early (or left it to one of its own) is waited for in
    // short steps until the deadline.
    bool ended = readOutput(readEnd.get(), result.output, deadline);
    int status = 0;
    for (int step = 1; ended;) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) return {true, exitStatus(status), {}, std::move(result.output), false};
        if (done < 0 && errno != EINTR) return {true, -1, {}, std::move(result.output), false};
        if (deadline && Clock::now() >= *deadline) break;
        if (exited) {
            pollfd p{exited.get(), POLLIN, 0};
            if (poll(&p, 1, msLeft(deadline)) < 0 && errno != EINTR) exited.reset();
            continue;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(step));
        step = std::min(step * 2, 20);
    }
    kill(pid, SIGKILL);
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.exitCode = exitStatus(status);
    result.timedOut = true;
    return result;
}

}  // namespace

ProgramResult runProgram(WindowHandle, const std::string& program, const std::string& parameters, int,
                         const RunOptions& options) {
    Launch launch(program, parameters);
    if (options.captureOutput) return runWithOptions(launch, program, options);
    pid_t pid = 0;
    if (const int rc = launch.spawn(pid); rc != 0) {
        return {false, 0, "cannot start " + program + ": " + std::strerror(rc), {}, false};
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return {true, -1, {}, {}, false};
    }
    return {true, exitStatus(status), {}, {}, false};
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
            return exitStatus(status);
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
