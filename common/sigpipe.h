// While one exists, a write to a pipe or connection whose reader has gone fails with EPIPE on this
// thread instead of ending the process with SIGPIPE; one such signal the writes raised is swallowed.
// For writes we cannot flag MSG_NOSIGNAL (OpenSSL's send, pipes). Nothing on Windows, which has
// no SIGPIPE. sigpipe_posix.cpp.
#pragma once

namespace tovi {

class NoSigpipe {
public:
#ifdef _WIN32
    NoSigpipe() {}
    ~NoSigpipe() {}
#else
    NoSigpipe();
    ~NoSigpipe();
#endif
    NoSigpipe(const NoSigpipe&) = delete;
    NoSigpipe& operator=(const NoSigpipe&) = delete;

#ifndef _WIN32
private:
    bool wasPending_ = false;  // one was pending before: it is not ours to swallow
    bool blocked_ = false;     // we blocked it (it was not blocked already)
#endif
};

}  // namespace tovi
