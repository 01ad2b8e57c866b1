// The virtual printer's readable transcript of an ESC/POS job.
#pragma once

#include <string>
#include <string_view>

namespace tovi::devices {

// A UTF-8 transcript of a job: text decoded from GB2312, LF as a line break, commands as short
// tags ([INIT] [DRAWER pin 2 120/240 ms] [CUT PARTIAL] [BOLD ON] [ALIGN CENTER] ...), other
// control bytes as [0xNN], a command cut short by the end of the data as [TRUNCATED 1B 70].
std::string escposTranscript(std::string_view job);

}  // namespace tovi::devices
