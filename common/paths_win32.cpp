#include <windows.h>

#include <cstdio>
#include <memory>

#include "common/error.h"
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

FileKind fileKind(const std::string& path) {
    const DWORD a = GetFileAttributesW(widen(path).c_str());
    if (a == INVALID_FILE_ATTRIBUTES) return FileKind::Missing;
    if (a & FILE_ATTRIBUTE_DIRECTORY) return FileKind::Directory;
    return FileKind::Regular;
}

std::string readFile(const std::string& path) {
    std::unique_ptr<FILE, int (*)(FILE*)> f(_wfopen(widen(path).c_str(), L"rb"), &std::fclose);
    if (!f) throw ioError("cannot open: " + path);
    std::string data;
    char buf[65536];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f.get())) > 0) data.append(buf, n);
    if (std::ferror(f.get())) throw ioError("cannot read: " + path);
    return data;
}

}  // namespace tovi
