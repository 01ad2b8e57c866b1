#include "common/eventlog.h"
#include "common/process.h"
#include "support/system.h"

namespace tovi::support {

namespace {

class Started final : public StartedClient {
public:
    explicit Started(WatchedProgram program) : program_(std::move(program)) {}
    std::optional<int> waitForExit(int ms) override { return tovi::waitForExit(program_, ms); }

private:
    WatchedProgram program_;
};

class NativeSystem final : public SupportSystem {
public:
    explicit NativeSystem(WindowHandle owner) : owner_(owner) {}

    void showMessage(const std::string& text) override { showErrorMessage(owner_, kCaption, text); }
    EntryKind fileKind(const std::string& path) override { return tovi::fileKind(path); }
    std::string readFile(const std::string& path) override { return tovi::readFile(path); }
    void sleepMs(int ms) override { sleepMilliseconds(ms); }
    std::string programFolder() override { return tovi::programFolder(); }
    char separator() override { return pathSeparator(); }
    MoveResult moveFile(const std::string& src, const std::string& dst) override { return moveReplacing(src, dst); }
    void startClient() override { startProgram(owner_, kClientProgram, "", kShowHidden); }
    std::unique_ptr<StartedClient> startClientWatched() override {
        return std::make_unique<Started>(startWatched(owner_, kClientProgram, "", kShowHidden));
    }
    void log(const std::string& text) override { logEvent(text); }

private:
    WindowHandle owner_;
};

}  // namespace

std::unique_ptr<SupportSystem> makeSystem(WindowHandle owner) { return std::make_unique<NativeSystem>(owner); }

}  // namespace tovi::support
