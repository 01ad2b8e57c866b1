// Fuzz target: any job bytes as the virtual printer draws them (and transcribes them, with the
// commands the picture skipped). Beyond "no crash": the paper stays within its bound, and every
// skipped command and every mark lies inside the job and the paper.
#include <fontconfig/fontconfig.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "escpos/picture.h"
#include "escpos/transcript.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // fontconfig keeps its configuration until FcFini; the leak checker would count it.
    static const int ended = std::atexit([] { FcFini(); });
    (void)ended;
    const std::string_view job(reinterpret_cast<const char*>(data), size);
    using namespace tovi::escpos;
    const ReceiptPicture p = renderReceipt(job, size % 2 ? 384 : 576);
    if (p.height < 1 || p.height > kMaxPaperDots) std::abort();
    if (p.dots.size() != static_cast<std::size_t>(p.width) * static_cast<std::size_t>(p.height)) std::abort();
    std::size_t last = 0;
    for (std::size_t i = 0; i < p.skipped.size(); ++i) {
        if (p.skipped[i] >= size || (i > 0 && p.skipped[i] <= last)) std::abort();
        last = p.skipped[i];
    }
    for (const ReceiptMark& m : p.marks)
        if (m.y < 0 || m.y > p.height) std::abort();
    (void)escposTranscript(job, p.skipped);
    return 0;
}
