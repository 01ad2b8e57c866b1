// The client's events in the log of common/eventlog.h: device requests and update outcomes.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "client/device_queue.h"
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

// The log line of a device request that the queue worked off or that was refused: the command
// line and the exit code (or why it never ran), and, when the page gets a result of it, that
// result's outcome, code and id.
std::string finishedRequestText(const FinishedRequest& finished);

// The outcome of an update check that completed: "update: up to date", or the names of the files
// it brought up to date.
std::string updateOutcomeText(const std::vector<std::string>& updatedFiles);


}  // namespace tovi::client
