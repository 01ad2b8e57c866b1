// The client's events in the log of common/eventlog.h: device requests and update outcomes.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/eventlog.h"

namespace tovi::client {

using tovi::EventLog;
using tovi::kLogFileName;
using tovi::kLogRollOverBytes;
using tovi::kMaxEventText;
using tovi::logEvent;
using tovi::logLine;
using tovi::timestampText;

// "device request <kind>: <command line>, exit code <n>", or ", started" when the program's exit
// code is not known.
std::string deviceRequestText(std::string_view kind, std::string_view commandLine, std::optional<long> exitCode);

// The outcome of an update check that completed: "update: up to date", or the names of the files
// it brought up to date.
std::string updateOutcomeText(const std::vector<std::string>& updatedFiles);

// A device request and the support program's exit code (nothing: started, exit code unknown).
void logDeviceRequest(std::string_view kind, std::string_view commandLine, std::optional<long> exitCode) noexcept;

}  // namespace tovi::client
