#include "common/paths.h"

#include "common/error.h"
#include "common/files.h"

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
    return fileKind(folder) == EntryKind::Folder;
}

std::string readFile(const std::string& path) {
    const UniqueFile file = fileio::openForReading(path);
    if (!file) throw ioError("cannot open: " + path);
    std::string data;
    char buf[65536];
    while (true) {
        const auto n = fileio::readSome(file.get(), buf, sizeof buf);
        if (!n) throw ioError("cannot read: " + path);
        if (*n == 0) return data;
        data.append(buf, *n);
    }
}

}  // namespace tovi
