// What the support program's commands need from the platform, behind an interface so that the
// dispatcher and the update hand-off run in tests with fakes. The real one is system.cpp over the
// primitives of system_win32.cpp and system_posix.cpp.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "common/messages.h"
#include "common/paths.h"

namespace tovi::support {

// Caption of every message the support program shows.
inline constexpr const char* kCaption = "系统提示";

enum class MoveStatus {
    Moved,
    // The target (or source) is held open by another process; worth trying again shortly.
    InUse,
    Failed,
};

struct MoveResult {
    MoveStatus status = MoveStatus::Failed;
    // The system's text for the error (Windows: FormatMessageW, usually ending in CR LF).
    std::string systemText;
};

// A client that the hand-off started, watched until it proves its release or ends.
class StartedClient {
public:
    virtual ~StartedClient() = default;
    // Waits at most ms: the exit status once the client has ended (-1: it never started), nothing
    // while it runs.
    virtual std::optional<int> waitForExit(int ms) = 0;
};

class SupportSystem {
public:
    virtual ~SupportSystem() = default;
    // A modal error message owned by the desktop window, caption kCaption.
    virtual void showMessage(const std::string& text) = 0;
    virtual EntryKind fileKind(const std::string& path) = 0;
    // The whole file as bytes; throws IOError when it cannot be opened or read.
    virtual std::string readFile(const std::string& path) = 0;
    virtual void sleepMs(int milliseconds) = 0;
    // Folder of the running executable, without a trailing separator.
    virtual std::string programFolder() = 0;
    virtual char separator() = 0;
    // One attempt to move src over dst, replacing dst, copying across volumes if need be.
    virtual MoveResult moveFile(const std::string& src, const std::string& dst) = 0;
    // Starts the client by its bare name, hidden, without waiting.
    virtual void startClient() = 0;
    // The same, keeping what is needed to learn when it ends.
    virtual std::unique_ptr<StartedClient> startClientWatched() = 0;
    // A line in the till's log (tovipos.log in the program folder).
    virtual void log(const std::string& text) = 0;
};

// The platform's implementation; messages and the client's start are owned by owner.
std::unique_ptr<SupportSystem> makeSystem(WindowHandle owner);

// The two primitives under makeSystem's object, one per platform (system_win32.cpp,
// system_posix.cpp); everything else it does is portable (system.cpp).
// One attempt to move src over dst, as SupportSystem::moveFile, with the platform's rule for
// which errors mean InUse.
MoveResult moveReplacing(const std::string& src, const std::string& dst);
void sleepMilliseconds(int milliseconds);

}  // namespace tovi::support
