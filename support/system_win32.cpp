#include <windows.h>

#include "common/error.h"
#include "common/text.h"
#include "support/system.h"

namespace tovi::support {

MoveResult moveReplacing(const std::string& src, const std::string& dst) {
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

void sleepMilliseconds(int milliseconds) { Sleep(static_cast<DWORD>(milliseconds)); }

}  // namespace tovi::support
