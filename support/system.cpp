#include "common/process.h"
#include "support/system.h"

namespace tovi::support {

namespace {

class NativeSystem final : public SupportSystem {
public:
    explicit NativeSystem(WindowHandle owner) : owner_(owner) {}

    void showMessage(const std::string& text) override { showErrorMessage(owner_, kCaption, text); }
    FileKind fileKind(const std::string& path) override { return tovi::fileKind(path); }
    std::string readFile(const std::string& path) override { return tovi::readFile(path); }
    void sleepMs(int ms) override { sleepMilliseconds(ms); }
    std::string programFolder() override { return tovi::programFolder(); }
    char separator() override { return pathSeparator(); }
    MoveResult moveFile(const std::string& src, const std::string& dst) override { return moveReplacing(src, dst); }
    void startClient() override { startProgram(owner_, kClientProgram, "", kShowHidden); }

private:
    WindowHandle owner_;
};

}  // namespace

std::unique_ptr<SupportSystem> makeSystem(WindowHandle owner) { return std::make_unique<NativeSystem>(owner); }

}  // namespace tovi::support
