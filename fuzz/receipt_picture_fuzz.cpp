// Fuzz target: any job bytes as the virtual printer draws them (and transcribes them, with the
// commands the picture skipped). Beyond "no crash": the paper stays within its bound, every
// skipped command and every mark lies inside the job and the paper, and the job's time and memory
// stay within a fixed amount plus an amount per byte of job, so that no job grows them faster than
// its length. fuzz/regressions/receipt_picture holds 128 KiB jobs that once broke both.
#include <fontconfig/fontconfig.h>
#include <time.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "escpos/picture.h"
#include "escpos/transcript.h"

// The sanitizer runtime's allocation hooks (both targets build under ASan).
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*, std::size_t),
                                                         void (*free_hook)(const volatile void*));
extern "C" std::size_t __sanitizer_get_allocated_size(const volatile void* p);

namespace {

// Thread CPU time, not wall time: a machine busy with other work must not fail a job. The replay
// build draws the slowest jobs there are (characters enlarged 8 times, printed over one another)
// in 3 to 4 us a byte; the libFuzzer build traces every compare and takes up to 20 us a byte,
// which its inputs of a few KiB keep far below the fixed second.
constexpr double kFixedSeconds = 1.0;
constexpr double kSecondsPerByte = 10e-6;
// The picture's own memory (2.5 m of paper, an image as tall, glyphs and symbols) and the
// transcript, which grows with the job.
constexpr double kFixedBytes = 64.0 * 1024 * 1024;
constexpr double kBytesPerByte = 32.0;

long long liveBytes = 0;
long long peakBytes = 0;

void onMalloc(const volatile void*, std::size_t size) {
    liveBytes += static_cast<long long>(size);
    if (liveBytes > peakBytes) peakBytes = liveBytes;
}

void onFree(const volatile void* p) { liveBytes -= static_cast<long long>(__sanitizer_get_allocated_size(p)); }

double cpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // fontconfig keeps its configuration until FcFini; the leak checker would count it.
    static const int ended = std::atexit([] { FcFini(); });
    static const int hooked = __sanitizer_install_malloc_and_free_hooks(onMalloc, onFree);
    (void)ended;
    const std::string_view job(reinterpret_cast<const char*>(data), size);
    using namespace tovi::escpos;
    const long long startBytes = liveBytes;
    peakBytes = liveBytes;
    const double start = cpuSeconds();

    const ReceiptPicture p = renderReceipt(job, size % 2 ? 384 : 576);
    if (p.height < 1 || p.height > kMaxPaperDots) std::abort();
    if (p.dots.size() != static_cast<std::size_t>(p.width) * static_cast<std::size_t>(p.height)) std::abort();
    if (p.skipped.size() > kMaxSkipped || p.marks.size() > kMaxMarks) std::abort();
    if (p.cutShort && p.cutShort->at > size) std::abort();
    std::size_t last = 0;
    for (std::size_t i = 0; i < p.skipped.size(); ++i) {
        if (p.skipped[i] >= size || (i > 0 && p.skipped[i] <= last)) std::abort();
        last = p.skipped[i];
    }
    for (const ReceiptMark& m : p.marks)
        if (m.y < 0 || m.y > p.height) std::abort();
    (void)escposTranscript(job, p.skipped, p.cutShort);

    const double seconds = cpuSeconds() - start;
    const double bytes = static_cast<double>(peakBytes - startBytes);
    const auto n = static_cast<double>(size);
    if (seconds > kFixedSeconds + kSecondsPerByte * n || (hooked && bytes > kFixedBytes + kBytesPerByte * n)) {
        std::fprintf(stderr, "a job of %zu bytes took %.2f s and %.0f bytes of memory\n", size, seconds, bytes);
        std::abort();
    }
    return 0;
}
