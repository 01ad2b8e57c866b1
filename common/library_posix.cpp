#include <dlfcn.h>

#include <cstring>

#include "common/library.h"
#include "common/paths.h"

namespace tovi {

void LibraryTraits::close(type h) noexcept { dlclose(h); }

namespace {
// dlerror() texts for a file that exists but is no loadable library of this architecture.
bool isFormatError(const char* err) {
    return err && (std::strstr(err, "wrong ELF class") || std::strstr(err, "invalid ELF header") ||
                   std::strstr(err, "file too short") || std::strstr(err, "ELF file"));
}
}  // namespace

Library Library::load(const std::string& fileName) {
    Library lib;
    bool badFormat = false;
    void* h = nullptr;
    if (fileName.find('/') == std::string::npos) {
        // Own folder first, like the Windows search order.
        const std::string own = programFolder() + "/" + fileName;
        h = dlopen(own.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!h) badFormat = isFormatError(dlerror()) && fileExists(own);
    }
    if (!h && !badFormat) {
        h = dlopen(fileName.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!h) badFormat = isFormatError(dlerror());
    }
    lib.badFormat_ = badFormat;
    lib.handle_.reset(h);
    return lib;
}

void* Library::find(const char* name) const {
    if (!handle_) return nullptr;
    return dlsym(handle_.get(), name);
}

}  // namespace tovi
