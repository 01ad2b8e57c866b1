#include "common/paths.h"

namespace tovi {

bool createFolders(const std::string& folder) {
#ifdef _WIN32
    constexpr const char* separators = "\\/";
#else
    constexpr const char* separators = "/";
#endif
    // Each folder on the way down in turn. One that exists already, or a prefix that names no
    // folder (a drive "C:", a server "\\host"), simply fails; only the end result counts.
    for (std::size_t pos = folder.find_first_of(separators, 1); pos != std::string::npos;
         pos = folder.find_first_of(separators, pos + 1)) {
        createFolder(folder.substr(0, pos));
    }
    createFolder(folder);
    return fileKind(folder) == FileKind::Directory;
}

}  // namespace tovi
