// Fuzz target: the manifest "list.txt" and the names derived from its paths. Beyond "no crash":
// every local path that is accepted lies strictly inside the program folder and has no "." or
// ".." component left, no name that Windows would change or take for a device, and the folders
// to create are exactly the ones that lead to it.
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <string>

#include "update/manifest.h"
#include "common/error.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::string folder = "/p/app";
    try {
        const tovi::updater::Manifest m = tovi::updater::parseManifest(text);
        for (const auto& e : tovi::updater::manifestEntries(m)) {
            try {
                const auto n = tovi::updater::entryNames(e, "https://h/u/", folder, '/');
                const std::string& p = n.localPath;
                if (p.size() <= folder.size() + 1 || p.compare(0, folder.size() + 1, folder + "/") != 0) std::abort();
                const std::string rel = p.substr(folder.size());
                if ((rel + "/").find("/../") != std::string::npos || (rel + "/").find("/./") != std::string::npos) std::abort();
                if (rel.find("//") != std::string::npos || rel.back() == '/') std::abort();
                std::size_t folders = 0;
                for (std::size_t i = 1; i < rel.size();) {
                    const std::size_t end = std::min(rel.find('/', i), rel.size());
                    const std::string name = rel.substr(i, end - i);
                    if (name.back() == '.' || name.back() == ' ' || tovi::updater::isDeviceName(name)) std::abort();
                    if (end < rel.size() && (folders >= n.folders.size() || n.folders[folders++] != folder + rel.substr(0, end)))
                        std::abort();
                    i = end + 1;
                }
                if (folders != n.folders.size()) std::abort();
            } catch (const tovi::Error&) {
            }
        }
    } catch (const tovi::Error&) {
    }
    return 0;
}
