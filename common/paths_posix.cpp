#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>

#include "common/paths.h"

namespace tovi {

std::string programPath() {
    std::string buf(4096, '\0');
    const ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
    if (n <= 0) return {};
    buf.resize(static_cast<std::size_t>(n));
    return buf;
}

std::string programFolder() {
    const std::string p = programPath();
    const auto pos = p.rfind('/');
    if (pos == std::string::npos) return ".";
    return pos == 0 ? std::string("/") : p.substr(0, pos);
}

char pathSeparator() { return '/'; }

EntryKind fileKind(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return EntryKind::Missing;
    if (S_ISDIR(st.st_mode)) return EntryKind::Folder;
    if (S_ISREG(st.st_mode)) return EntryKind::File;
    return EntryKind::Other;
}

std::optional<std::vector<std::string>> folderNames(const std::string& folder) {
    std::vector<std::string> names;
    std::unique_ptr<DIR, int (*)(DIR*)> d(::opendir(folder.c_str()), &::closedir);
    if (!d) return std::nullopt;
    while (const dirent* e = ::readdir(d.get())) {
        const std::string name = e->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    return names;
}

std::optional<std::string> absolutePath(const std::string& path) {
    std::unique_ptr<char, void (*)(void*)> full(::realpath(path.c_str(), nullptr), &std::free);
    if (!full) return std::nullopt;
    return std::string(full.get());
}

bool createFolder(const std::string& folder) { return ::mkdir(folder.c_str(), 0777) == 0; }

}  // namespace tovi
