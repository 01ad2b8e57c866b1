#include <windows.h>

#include "common/library.h"
#include "common/text.h"

namespace tovi {

void LibraryTraits::close(type h) noexcept { FreeLibrary(static_cast<HMODULE>(h)); }

Library Library::load(const std::string& fileName) {
    Library lib;
    // The wide call with the UTF-8 name converted gives LoadLibraryA's search order for any name.
    HMODULE h = LoadLibraryW(widen(fileName).c_str());
    if (!h) {
        lib.badFormat_ = GetLastError() == ERROR_BAD_EXE_FORMAT;
        return lib;
    }
    lib.handle_.reset(h);
    return lib;
}

void* Library::find(const char* name) const {
    if (!handle_) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_.get()), name));
}

}  // namespace tovi
