// Starting a program without waiting for it, on Linux.
#include "common/process.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <tuple>
#include <thread>

// With SIGCHLD ignored the system reaps children itself and waitpid fails with ECHILD: the start
// must still return (a hang here ends in the test's time-out) and the program still run.
TEST(StartProgram, WorksWhenChildrenAreReapedByTheSystem) {
    const auto marker = std::filesystem::temp_directory_path() / ("tovi-started-" + std::to_string(::getpid()));
    const auto old = std::signal(SIGCHLD, SIG_IGN);
    tovi::startProgram(nullptr, "touch", marker.string(), tovi::kShowHidden);
    std::signal(SIGCHLD, old);
    for (int i = 0; i < 100 && !std::filesystem::exists(marker); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(std::filesystem::exists(marker));
    std::filesystem::remove(marker);
}

// The road of a support program's outcome: its standard output, the variable it is given, and the
// end of one that does not end by itself (its output up to then kept).
TEST(RunProgram, ReadsOutputPassesTheVariableAndEndsAProgramAfterItsTime) {
    const tovi::RunOptions options{true, "TOVIPOS_REPORT=page", 300};
    const auto told = tovi::runProgram(nullptr, "sh", "-c \"echo $TOVIPOS_REPORT; exit 3\"", 0, options);
    EXPECT_EQ(std::tie(told.started, told.exitCode, told.output, told.timedOut), std::make_tuple(true, 3, "page\n", false));
    const auto hung = tovi::runProgram(nullptr, "sh", "-c \"echo before; exec sleep 30\"", 0, options);
    EXPECT_EQ(std::tie(hung.output, hung.timedOut, hung.exitCode), std::make_tuple("before\n", true, 128 + SIGKILL));
    // Its output closed, its end waited for: the time still holds.
    const auto closed = tovi::runProgram(nullptr, "sh", "-c \"echo x; exec sleep 30 >&-\"", 0, options);
    EXPECT_EQ(std::tie(closed.output, closed.timedOut), std::make_tuple("x\n", true));
}
