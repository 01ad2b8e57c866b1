// Writing every byte to a POSIX descriptor that may be non-blocking (devices, pipes, files),
// waiting through poll when it takes no more. write_all_posix.cpp; POSIX only.
#pragma once

#ifdef _WIN32
#error "common/write_all.h is for POSIX descriptors"
#endif

#include <cstddef>
#include <string_view>

namespace tovi {

// How long the writer waits for a descriptor that takes no more bytes.
enum class WriteWait {
    Overall,    // timeoutMs for the whole write (a job that must end in time)
    PerStall,   // timeoutMs each time it stalls (a slow line that keeps moving is not cut off)
};

enum class WriteStop {
    Done,        // every byte written
    WriteFailed, // write() failed: error is its errno
    WaitFailed,  // poll() failed (error is its errno), or reported the descriptor broken (EIO)
    TimedOut,    // the time-out passed without room (error is ETIMEDOUT)
};

struct WriteResult {
    std::size_t done = 0;  // bytes written
    WriteStop stop = WriteStop::Done;
    int error = 0;
};

WriteResult writeAll(int fd, std::string_view bytes, int timeoutMs, WriteWait wait);

}  // namespace tovi
