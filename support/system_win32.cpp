#include <windows.h>

#include "common/error.h"
#include "common/process.h"
#include "common/text.h"
#include "support/system.h"

namespace tovi::support {

namespace {

class WindowsSystem final : public SupportSystem {
public:
    explicit WindowsSystem(WindowHandle owner) : owner_(owner) {}

    void showMessage(const std::string& text) override { showErrorMessage(owner_, kCaption, text); }
    FileKind fileKind(const std::string& path) override { return tovi::fileKind(path); }
    std::string readFile(const std::string& path) override { return tovi::readFile(path); }
    void sleepMs(int ms) override { Sleep(static_cast<DWORD>(ms)); }
    std::string programFolder() override { return tovi::programFolder(); }
    char separator() override { return '\\'; }

    MoveResult moveFile(const std::string& src, const std::string& dst) override {
        // 3: MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED.
        if (MoveFileExW(widen(src).c_str(), widen(dst).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
            return {MoveStatus::Moved, {}};
        }
        const DWORD code = GetLastError();
        MoveResult r;
        // A client that has not quite ended yet holds its executable: access denied for a running
        // image, sharing violation for a file open without sharing.
        r.status = (code == ERROR_SHARING_VIOLATION || code == ERROR_ACCESS_DENIED) ? MoveStatus::InUse
                                                                                   : MoveStatus::Failed;
        r.systemText = systemErrorMessage(code);
        return r;
    }

    void startClient() override { startProgram(owner_, kClientProgram, "", kShowHidden); }

private:
    WindowHandle owner_;
};

}  // namespace

std::unique_ptr<SupportSystem> makeSystem(WindowHandle owner) { return std::make_unique<WindowsSystem>(owner); }

}  // namespace tovi::support
