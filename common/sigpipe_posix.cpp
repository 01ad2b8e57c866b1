#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <ctime>

#include "common/sigpipe.h"

namespace tovi {

NoSigpipe::NoSigpipe() {
    sigset_t pipe, pending, old;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    sigpending(&pending);
    wasPending_ = sigismember(&pending, SIGPIPE) == 1;
    if (pthread_sigmask(SIG_BLOCK, &pipe, &old) == 0) blocked_ = sigismember(&old, SIGPIPE) == 0;
}

NoSigpipe::~NoSigpipe() {
    if (!blocked_) return;
    sigset_t pipe, pending;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    sigpending(&pending);
    if (!wasPending_ && sigismember(&pending, SIGPIPE) == 1) {
        const timespec zero{0, 0};
        while (sigtimedwait(&pipe, nullptr, &zero) == -1 && errno == EINTR) {
        }
    }
    pthread_sigmask(SIG_UNBLOCK, &pipe, nullptr);
}

}  // namespace tovi
