#include <windows.h>

#include "common/handle.h"
#include "common/paths.h"
#include "common/text.h"

namespace tovi {

std::string programPath() {
    std::wstring buf(MAX_PATH, L'\0');
    while (true) {
        const DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
        if (n < buf.size()) {
            buf.resize(n);
            return narrow(buf);
        }
        buf.resize(buf.size() * 2);  // truncated: try a larger buffer
    }
}

std::string programFolder() {
    const std::string p = programPath();
    const auto pos = p.find_last_of("\\/");
    return pos == std::string::npos ? std::string(".") : p.substr(0, pos);
}

char pathSeparator() { return '\\'; }

EntryKind fileKind(const std::string& path) {
    const DWORD a = GetFileAttributesW(widen(path).c_str());
    if (a == INVALID_FILE_ATTRIBUTES) return EntryKind::Missing;
    if (a & FILE_ATTRIBUTE_DIRECTORY) return EntryKind::Folder;
    return EntryKind::File;
}

std::optional<std::vector<std::string>> folderNames(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAW data{};
    const UniqueWin32Find find(FindFirstFileW(widen(folder + "\\*").c_str(), &data));
    if (!find) return std::nullopt;
    do {
        const std::string name = narrow(data.cFileName);
        if (name != "." && name != "..") names.push_back(name);
    } while (FindNextFileW(find.get(), &data));
    return names;
}

std::optional<std::string> absolutePath(const std::string& path) {
    if (!fileExists(path)) return std::nullopt;
    const std::wstring wide = widen(path);
    std::wstring buf(MAX_PATH, L'\0');
    while (true) {
        const DWORD n = GetFullPathNameW(wide.c_str(), static_cast<DWORD>(buf.size()), buf.data(), nullptr);
        if (n == 0) return std::nullopt;
        if (n < buf.size()) {
            buf.resize(n);
            return narrow(buf);
        }
        buf.resize(n);  // n is the size needed, terminator included
    }
}

bool createFolder(const std::string& folder) { return CreateDirectoryW(widen(folder).c_str(), nullptr) != 0; }

}  // namespace tovi
