#include <windows.h>

#include "common/handle.h"
#include "common/logfile.h"
#include "common/text.h"

namespace tovi {

namespace {

// 100-ns ticks since 1601 of a calendar time.
long long ticksOf(const SYSTEMTIME& t) {
    FILETIME ft{};
    if (!SystemTimeToFileTime(&t, &ft)) return 0;
    return static_cast<long long>((static_cast<unsigned long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
}

}  // namespace

LocalTime localTimeNow() {
    SYSTEMTIME utc{};
    GetSystemTime(&utc);
    SYSTEMTIME local{};
    // The zone's rule for this moment, daylight saving included.
    if (!SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) local = utc;
    constexpr long long kTicksPerMinute = 600000000LL;
    return {local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond,
            static_cast<int>((ticksOf(local) - ticksOf(utc)) / kTicksPerMinute)};
}

std::optional<std::uint64_t> fileSizeOf(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(widen(path).c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
    return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool appendToFile(const std::string& path, std::string_view bytes) {
    // FILE_APPEND_DATA alone: every write lands at the end, also when another process appends.
    // Shared for reading, writing and deleting, so that the file can be read or rolled over
    // while someone else has it open.
    const UniqueWin32File file(CreateFileW(widen(path).c_str(), FILE_APPEND_DATA,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    while (!bytes.empty()) {
        DWORD done = 0;
        const DWORD chunk = bytes.size() > 0x10000000 ? 0x10000000 : static_cast<DWORD>(bytes.size());
        if (!WriteFile(file.get(), bytes.data(), chunk, &done, nullptr) || done == 0) return false;
        bytes.remove_prefix(done);
    }
    return true;
}

bool moveReplacing(const std::string& from, const std::string& to) {
    return MoveFileExW(widen(from).c_str(), widen(to).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

}  // namespace tovi
