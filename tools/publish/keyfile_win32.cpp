#include <windows.h>
#include <sddl.h>

#include "common/error.h"
#include "common/text.h"
#include "tools/publish/keys.h"

namespace tovi::publish {

UniqueFile createPrivateFile(const std::string& path) {
    // A protected DACL that grants the owner alone full access: nothing inherited from the folder.
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;FA;;;OW)", SDDL_REVISION_1, &sd, nullptr))
        throw ioError("cannot create " + path + ": no security descriptor");
    SECURITY_ATTRIBUTES sa{sizeof sa, sd, FALSE};
    UniqueFile file(CreateFileW(widen(path).c_str(), GENERIC_WRITE, 0, &sa, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    LocalFree(sd);
    if (!file) throw ioError("cannot create " + path + " (it may exist already)");
    return file;
}

}  // namespace tovi::publish
