// Fuzz target: the manifest "list.txt" and the names derived from its paths. Beyond "no crash":
// every local path that is accepted lies strictly inside the program folder and has no "." or
// ".." component left.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "client/updater/manifest.h"
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
            } catch (const tovi::Error&) {
            }
        }
    } catch (const tovi::Error&) {
    }
    return 0;
}
