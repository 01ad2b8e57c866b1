#include "client/log.h"

#include <cstdio>

#include "client/results.h"


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

std::string finishedRequestText(const FinishedRequest& f) {
    std::string text;
    if (!f.refusal.empty()) {
        text = "device request " + f.kind + " refused: " + f.problem + " [" + f.problemKind + "]";
    } else if (f.expired) {
        text = "device request " + f.kind + ": " + f.commandLine + ", expired before it started";
    } else if (!f.problem.empty()) {
        text = "device request " + f.kind + ": " + f.commandLine + ", not run: " + f.problem + " [" + f.problemKind + "]";
    } else {
        text = deviceRequestText(f.kind, f.commandLine, f.exitCode);
    }
    if (!f.tellOutcome) return text;
    const Result r = resultOf(f);
    text += std::string("; result ") + outcomeWord(r.outcome);
    if (!r.code.empty()) text += " " + r.code;
    text.append(", id ").append(f.id ? *f.id : std::string("null"));
    if (r.status) text.append(", status ").append(statusText(*r.status));
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

}  // namespace tovi::client
