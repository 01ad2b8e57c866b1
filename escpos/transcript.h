// The virtual printer's readable transcript of an ESC/POS job.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tovi::escpos {

// Where the receipt picture of a job ends before the job does, and why.
struct PictureStop {
    std::size_t at = 0;  // the job's byte where the first command not drawn starts
    std::string why;
};

// A UTF-8 transcript of a job: text decoded from GB2312, LF as a line break, commands as short
// tags ([INIT] [DRAWER pin 2 120/240 ms] [CUT PARTIAL] [BOLD ON] [ALIGN CENTER] [QR DATA "..."]
// [RASTER IMAGE 64x32] ...), other control bytes as [0xNN], a command cut short by the end of the
// data as [TRUNCATED 1B 70]. Long blocks show their first bytes and their length. The commands
// that start at the offsets in `skipped` (sorted; the ones the receipt picture does not draw) are
// tagged [SKIPPED ...]; where the picture stops, [PICTURE STOPS: why] stands.
std::string escposTranscript(std::string_view job, const std::vector<std::size_t>& skipped = {},
                             const std::optional<PictureStop>& stop = std::nullopt);

}  // namespace tovi::escpos
