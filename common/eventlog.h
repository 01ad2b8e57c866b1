// The event log both programs append to: one line per event in "tovipos.log" in the program
// folder, rolled over to "tovipos.log.1" before it would pass 1 MiB. Lines are
//   2026-12-08T14:03:05+08:00 <event text>
// with the wall-clock time and its offset from UTC. Writing is serialised within a process (the
// client's workers log too) and never throws: a log that cannot be written is skipped.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "common/logfile.h"

namespace tovi {

inline constexpr const char* kLogFileName = "tovipos.log";
inline constexpr std::uint64_t kLogRollOverBytes = 1 << 20;
// Longer event texts are cut (at a character boundary) so that no single event floods the log.
inline constexpr std::size_t kMaxEventText = 4096;

// "2026-12-08T14:03:05+08:00"; "-03:30" west of UTC, "+00:00" on it.
std::string timestampText(const LocalTime& time);

// The timestamp, a blank, the text and LF. Control characters in the text are written as \n, \r,
// \t or \xHH, so that text from outside (a command line, an error message) stays on one line.
std::string logLine(const LocalTime& time, std::string_view text);

// One log file.
class EventLog {
public:
    explicit EventLog(std::string path, std::uint64_t rollOverBytes = kLogRollOverBytes);
    // Appends logLine(now, text). When the file would grow past the limit, it first becomes
    // path + ".1" (replacing the older one); when that fails the line is dropped rather than let
    // the file grow without bound. False when nothing was written.
    bool write(std::string_view text) noexcept;
    const std::string& path() const { return path_; }

private:
    std::mutex mutex_;
    std::string path_;
    std::uint64_t rollOverBytes_;
};

// The process's log, tovipos.log in the folder of the running program.
void logEvent(std::string_view text) noexcept;

}  // namespace tovi
