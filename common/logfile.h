// The platform pieces of an append-only log: the local time with its offset from UTC, and
// appending to, measuring and rolling over a file (logfile_posix.cpp / logfile_win32.cpp).
// Paths are UTF-8. Nothing here throws: a log must never stop the program that writes it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tovi {

// A moment as the wall clock of this machine shows it.
struct LocalTime {
    int year = 1970;
    int month = 1;   // 1-12
    int day = 1;     // 1-31
    int hour = 0;
    int minute = 0;
    int second = 0;
    int utcOffsetMinutes = 0;  // local minus UTC: +480 for UTC+08:00
};

LocalTime localTimeNow();

// Size in bytes of the file at path; nothing when it does not exist or cannot be queried.
std::optional<std::uint64_t> fileSizeOf(const std::string& path);

// Appends all bytes to path, creating it when missing. False when that failed.
bool appendToFile(const std::string& path, std::string_view bytes);

// Renames from to to, replacing an existing to. False when that failed.
bool moveReplacing(const std::string& from, const std::string& to);

}  // namespace tovi
