#include <windows.h>
#include <sddl.h>

#include "common/error.h"
#include "common/text.h"
#include "tools/publish/keys.h"

namespace tovi::publish {

void writePrivateFile(const std::string& path, std::string_view text) {
    // A protected DACL that grants the owner alone full access: nothing inherited from the folder.
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;FA;;;OW)", SDDL_REVISION_1, &sd, nullptr))
        throw ioError("cannot create " + path + ": no security descriptor");
    SECURITY_ATTRIBUTES sa{sizeof sa, sd, FALSE};
    const std::wstring wide = widen(path);
    HANDLE h = CreateFileW(wide.c_str(), GENERIC_WRITE, 0, &sa, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    LocalFree(sd);
    if (h == INVALID_HANDLE_VALUE) throw ioError("cannot create " + path + " (it may exist already)");
    DWORD written = 0;
    const bool ok = WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) && written == text.size() &&
                    FlushFileBuffers(h);
    CloseHandle(h);
    if (!ok) {
        DeleteFileW(wide.c_str());
        throw ioError("cannot write: " + path);
    }
}

}  // namespace tovi::publish
