#include "update/handoff.h"

#include <algorithm>
#include <vector>

#include "update/manifest.h"
#include "common/error.h"
#include "common/files.h"
#include "common/paths.h"

namespace tovi::updater {

namespace {

bool sameContent(const std::string& a, const std::string& b) {
    try {
        InputFile fa(a);
        InputFile fb(b);
        std::vector<char> ba(64 * 1024);
        std::vector<char> bb(ba.size());
        while (true) {
            const std::size_t na = fa.read(ba.data(), ba.size());
            std::size_t nb = 0;
            // Fill the same amount from b: read() may return less than asked.
            while (nb < na) {
                const std::size_t n = fb.read(bb.data() + nb, na - nb);
                if (n == 0) break;
                nb += n;
            }
            if (na == 0) return fb.read(bb.data(), 1) == 0;  // b must end too
            if (na != nb || !std::equal(ba.begin(), ba.begin() + static_cast<std::ptrdiff_t>(na), bb.begin())) return false;
        }
    } catch (const Error&) {
        return false;
    }
}

}  // namespace

bool handOffPending(const std::string& programFolder, const std::string& clientPath, char separator) {
    for (const auto& name : folderNames(programFolder).value_or(std::vector<std::string>{})) {
        // One that cannot be removed yet (another client still has it loaded) goes next time.
        if (isAsideName(name)) removeFile(programFolder + separator + name);
    }
    const std::string handOff = programFolder + separator + std::string(kHandOffFile);
    if (entryKind(handOff) != EntryKind::File) return false;
    if (sameContent(handOff, clientPath)) {
        removeFile(handOff);
        return false;
    }
    return true;
}

}  // namespace tovi::updater
