// Starting the other program of the system, with or without waiting for it.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "common/handle.h"
#include "common/messages.h"

namespace tovi {

// File names of the two programs as they are started by bare name.
#ifdef _WIN32
inline constexpr const char* kClientProgram = "tovipos.exe";
inline constexpr const char* kSupportProgram = "tovipos_print.exe";
#else
inline constexpr const char* kClientProgram = "tovipos";
inline constexpr const char* kSupportProgram = "tovipos_print";
#endif

// Show commands passed to the started program (SW_HIDE, SW_SHOWNORMAL).
inline constexpr int kShowHidden = 0;
inline constexpr int kShowNormal = 1;

// Starts program (a bare name, found by the system's usual search that begins in the current
// folder) with the parameter text, in the current folder, and returns at once. Nothing is
// reported: the result is not examined.
// Windows: ShellExecuteW(owner, "open", program, parameters, "", show).
// Linux: ./program if it exists in the current folder, else found on PATH; the parameters are
// split with splitCommandLine; the show command is ignored.
void startProgram(WindowHandle owner, const std::string& program, const std::string& parameters, int show);

// How a program started with runProgram ended.
struct ProgramResult {
    bool started = false;   // false: it never ran, error says why
    int exitCode = 0;       // when started
    std::string error;      // when not started: "cannot start " + program + ": " + the system's text
    std::string output{};   // its standard output, when RunOptions::captureOutput
    bool timedOut = false;  // it was ended after RunOptions::timeoutMs
};

// What runProgram may do beyond starting and waiting. With captureOutput the program's standard
// output is read (the first kMaxOutput bytes kept), variable ("NAME=value", empty: none) is added
// to its environment, and it runs at most timeoutMs (then it is ended by force; negative: no
// limit). Without it, the other two are not used.
struct RunOptions {
    bool captureOutput = false;
    std::string variable;
    int timeoutMs = -1;
};
inline constexpr std::size_t kMaxOutput = 64 * 1024;

// Starts program as startProgram does and waits until it has ended. Call it from a worker, never
// from the UI thread.
// Windows: ShellExecuteExW with SEE_MASK_NOCLOSEPROCESS, then a wait on the process handle; with
// options, CreateProcessW (the program from the current folder when it is there, as the shell
// finds it), its standard output a pipe and its standard error the caller's.
// Linux: posix_spawn, then waitpid; a program killed by a signal ends with 128 + the signal.
ProgramResult runProgram(WindowHandle owner, const std::string& program, const std::string& parameters, int show,
                         const RunOptions& options = {});

// A program started with startWatched, to be watched until it ends.
struct WatchedProgram {
    bool started = false;  // false: it never ran, error says why
    std::string error;
#ifdef _WIN32
    UniqueWin32Handle process;  // may be empty when the shell started it through another road
#else
    int pid = -1;
#endif
};

// Starts program as startProgram does, keeping what is needed to learn when it ends.
WatchedProgram startWatched(WindowHandle owner, const std::string& program, const std::string& parameters, int show);

// Waits at most ms for the program to end: its exit status once it has ended (a program killed by a
// signal: 128 + the signal; one that never started: -1), nothing while it still runs. A program
// whose end cannot be learnt counts as still running.
std::optional<int> waitForExit(WatchedProgram& program, int ms);

}  // namespace tovi
