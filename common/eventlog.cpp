#include "common/eventlog.h"

#include <cstdio>

#include "common/paths.h"

namespace tovi {

namespace {

// Cuts text to at most max bytes without splitting a UTF-8 sequence.
std::string_view cutAtCharacter(std::string_view text, std::size_t max) {
    if (text.size() <= max) return text;
    std::size_t end = max;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

}  // namespace

std::string timestampText(const LocalTime& t) {
    const int offset = t.utcOffsetMinutes < 0 ? -t.utcOffsetMinutes : t.utcOffsetMinutes;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", t.year, t.month, t.day, t.hour,
                  t.minute, t.second, t.utcOffsetMinutes < 0 ? '-' : '+', offset / 60, offset % 60);
    return buf;
}

std::string logLine(const LocalTime& time, std::string_view text) {
    const std::string_view kept = cutAtCharacter(text, kMaxEventText);
    std::string line = timestampText(time);
    line.reserve(line.size() + kept.size() + 32);
    line += ' ';
    for (const char c : kept) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\n') {
            line += "\\n";
        } else if (c == '\r') {
            line += "\\r";
        } else if (c == '\t') {
            line += "\\t";
        } else if (u < 0x20 || u == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", u);
            line += hex;
        } else {
            line += c;
        }
    }
    if (kept.size() < text.size()) line += " ... (" + std::to_string(text.size() - kept.size()) + " bytes more)";
    line += '\n';
    return line;
}

EventLog::EventLog(std::string path, std::uint64_t rollOverBytes)
    : path_(std::move(path)), rollOverBytes_(rollOverBytes) {}

bool EventLog::write(std::string_view text) noexcept {
    try {
        const std::string line = logLine(localTimeNow(), text);
        const std::lock_guard lock(mutex_);
        if (const auto size = fileSizeOf(path_); size && *size > 0 && *size + line.size() > rollOverBytes_) {
            if (!moveReplacing(path_, path_ + ".1")) return false;
        }
        return appendToFile(path_, line);
    } catch (...) {
        return false;  // out of memory: the event goes unrecorded, the client goes on
    }
}

void logEvent(std::string_view text) noexcept {
    try {
        // Created at the first event; the program's folder does not change while it runs.
        static EventLog log(programFolder() + pathSeparator() + kLogFileName);
        log.write(text);
    } catch (...) {
        // No folder name (out of memory): nothing is logged.
    }
}

}  // namespace tovi
