#include "client/log.h"

#include <cstdio>

#include "common/paths.h"

namespace tovi::client {

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

std::string deviceRequestText(std::string_view kind, std::string_view commandLine, std::optional<long> exitCode) {
    std::string text = "device request ";
    text.append(kind).append(": ").append(commandLine);
    if (!exitCode) return text + ", started";
    text += ", exit code " + std::to_string(*exitCode);
    // A crash ends a Windows program with an NTSTATUS such as 0xC0000005: readable in hexadecimal.
    if (*exitCode < 0 || *exitCode > 0xFFFF) {
        char hex[16];
        std::snprintf(hex, sizeof hex, " (0x%08lX)", static_cast<unsigned long>(*exitCode) & 0xFFFFFFFFUL);
        text += hex;
    }
    return text;
}

std::string updateOutcomeText(const std::vector<std::string>& updatedFiles) {
    if (updatedFiles.empty()) return "update: up to date";
    std::string text = "update: " + std::to_string(updatedFiles.size()) +
                       (updatedFiles.size() == 1 ? " file updated: " : " files updated: ");
    for (std::size_t i = 0; i < updatedFiles.size(); ++i) {
        if (i) text += ", ";
        text += updatedFiles[i].empty() ? "(unnamed)" : updatedFiles[i];
    }
    return text;
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

void logDeviceRequest(std::string_view kind, std::string_view commandLine, std::optional<long> exitCode) noexcept {
    try {
        logEvent(deviceRequestText(kind, commandLine, exitCode));
    } catch (...) {
    }
}

}  // namespace tovi::client
