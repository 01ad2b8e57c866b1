// UPDATE: moves the downloaded client executable into place and starts the client again.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "support/system.h"

namespace tovi::support {

// Waits before the move (the client is ending), after it (before the client is started), and
// between attempts while the target is still in use, for at most kMoveRetryBudgetMs in all.
inline constexpr int kWaitBeforeMoveMs = 1000;
inline constexpr int kWaitAfterMoveMs = 500;
inline constexpr int kMoveRetryIntervalMs = 250;
inline constexpr int kMoveRetryBudgetMs = 10000;
// A new client that replaced one kept as the previous release is watched this long (polled every
// kWatchPollMs): if it ends before it has proven itself, the previous release is put back and its
// client started. A rollback that finds files still held (the client's process going away) tries
// again kRollbackTries times, kRollbackRetryMs apart.
inline constexpr int kWatchMs = 120000;
inline constexpr int kWatchPollMs = 250;
inline constexpr int kRollbackTries = 10;
inline constexpr int kRollbackRetryMs = 500;

// Moves src over dst with move; while it reports InUse, waits kMoveRetryIntervalMs with sleep
// and tries again, until kMoveRetryBudgetMs have been waited. Any other failure ends at once.
MoveResult moveWithRetry(const std::function<MoveResult(const std::string&, const std::string&)>& move,
                         const std::function<void(int)>& sleep, const std::string& src, const std::string& dst);

// A path as a double-quoted string literal: backslash and double quote escaped, control
// characters as escapes, bytes 0x80 and above kept.
std::string quotedLiteral(std::string_view text);

// The message for a failed move: the system text, an LF unless it is empty or ends in one, then
// "Additional info: " + ("src", "dst") with both paths as quotedLiteral.
std::string moveErrorText(const std::string& systemText, const std::string& src, const std::string& dst);

// The UPDATE command: wait, move program folder/tovipos.exe.txt over the client's executable,
// wait, start the client. A failed move is shown and the client is not started. When the release
// is on trial (a previous release is kept), the old client is kept with it first, and the new
// client is watched: one that ends before it has proven itself is rolled back, without a box.
void finishUpdate(SupportSystem& system);

}  // namespace tovi::support
