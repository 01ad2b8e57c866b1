// Writing to a descriptor that stops taking bytes, or whose reader has gone, on Linux.
#include "common/write_all.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <thread>

#include "common/handle.h"
#include "common/sigpipe.h"

namespace {

using tovi::UniqueFd;
using tovi::WriteStop;
using tovi::WriteWait;

struct Pipe {
    UniqueFd read, write;
};

Pipe nonBlockingPipe() {
    int fds[2];
    EXPECT_EQ(::pipe2(fds, O_CLOEXEC | O_NONBLOCK), 0);
    return {UniqueFd(fds[0]), UniqueFd(fds[1])};
}

bool sigpipeBlocked() {
    sigset_t now;
    pthread_sigmask(SIG_BLOCK, nullptr, &now);
    return sigismember(&now, SIGPIPE) == 1;
}

// A pipe nobody reads takes its buffer's worth and then times out under either rule: the bytes
// it took are counted, and a zero time-out does not wait at all.
TEST(WriteAll, StopsWhenTheReaderTakesNoMore) {
    const int capacity = [] {
        Pipe p = nonBlockingPipe();
        return ::fcntl(p.write.get(), F_GETPIPE_SZ);
    }();
    const std::string job(static_cast<std::size_t>(capacity) * 2, 'x');
    for (WriteWait rule : {WriteWait::Overall, WriteWait::PerStall}) {
        for (int timeoutMs : {0, 50}) {
            SCOPED_TRACE(std::to_string(static_cast<int>(rule)) + " " + std::to_string(timeoutMs));
            Pipe p = nonBlockingPipe();
            const tovi::WriteResult r = tovi::writeAll(p.write.get(), job, timeoutMs, rule);
            EXPECT_EQ(r.stop, WriteStop::TimedOut);
            EXPECT_EQ(r.error, ETIMEDOUT);
            EXPECT_EQ(r.done, static_cast<std::size_t>(capacity));
        }
    }
}

// A reader that keeps taking gets every byte, under either rule.
TEST(WriteAll, WritesEverythingToAReaderThatKeepsUp) {
    const std::string job(1 << 20, 'y');
    for (WriteWait rule : {WriteWait::Overall, WriteWait::PerStall}) {
        Pipe p = nonBlockingPipe();
        std::size_t got = 0;
        std::thread reader([&] {
            ::fcntl(p.read.get(), F_SETFL, 0);
            char buf[4096];
            ssize_t n;
            while ((n = ::read(p.read.get(), buf, sizeof buf)) > 0) got += static_cast<std::size_t>(n);
        });
        const tovi::WriteResult r = tovi::writeAll(p.write.get(), job, 10000, rule);
        p.write.reset();
        reader.join();
        EXPECT_EQ(r.stop, WriteStop::Done);
        EXPECT_EQ(r.done, job.size());
        EXPECT_EQ(got, job.size());
    }
}

// A reader that has gone: EPIPE under the guard, the process alive, the signal the write raised
// swallowed, and the thread's mask as it was (SIGPIPE still blocked if the caller had blocked it).
TEST(WriteAll, AGoneReaderIsAnErrorUnderTheSigpipeGuard) {
    for (bool blockedBefore : {false, true}) {
        SCOPED_TRACE(blockedBefore);
        sigset_t pipeSet, old;
        sigemptyset(&pipeSet);
        sigaddset(&pipeSet, SIGPIPE);
        pthread_sigmask(blockedBefore ? SIG_BLOCK : SIG_UNBLOCK, &pipeSet, &old);
        Pipe p = nonBlockingPipe();
        p.read.reset();
        tovi::WriteResult r;
        {
            tovi::NoSigpipe guard;
            r = tovi::writeAll(p.write.get(), "abc", 1000, WriteWait::Overall);
        }
        EXPECT_EQ(r.stop, WriteStop::WriteFailed);
        EXPECT_EQ(r.error, EPIPE);
        EXPECT_EQ(r.done, 0u);
        EXPECT_EQ(sigpipeBlocked(), blockedBefore);
        if (blockedBefore) {
            // Not ours to swallow: the caller blocked it and gets it.
            const timespec zero{0, 0};
            EXPECT_EQ(sigtimedwait(&pipeSet, nullptr, &zero), SIGPIPE);
        }
        pthread_sigmask(SIG_SETMASK, &old, nullptr);
    }
}

}  // namespace
