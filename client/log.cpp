#include "client/log.h"

#include <cstdio>


namespace tovi::client {

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

void logDeviceRequest(std::string_view kind, std::string_view commandLine, std::optional<long> exitCode) noexcept {
    try {
        logEvent(deviceRequestText(kind, commandLine, exitCode));
    } catch (...) {
    }
}

}  // namespace tovi::client
