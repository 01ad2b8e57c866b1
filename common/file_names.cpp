#include "common/file_names.h"

#include "common/ascii.h"

namespace tovi {

namespace {

// Characters that no Windows file name may hold; "*" and "?" would also turn a folder listing into
// a pattern.
bool forbiddenInName(char c) {
    return static_cast<unsigned char>(c) < 0x20 || std::string_view("<>\"|?*").find(c) != std::string_view::npos;
}

}  // namespace

bool sameFileName(std::string_view a, std::string_view b) { return ascii::equalsIgnoringCase(a, b); }

bool isDeviceName(std::string_view component) {
    std::string_view base = component.substr(0, component.find('.'));
    while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
    for (const char* device : {"con", "prn", "aux", "nul", "conin$", "conout$"}) {
        if (sameFileName(base, device)) return true;
    }
    if (base.size() < 4) return false;
    const std::string_view stem = base.substr(0, 3);
    if (!sameFileName(stem, "com") && !sameFileName(stem, "lpt")) return false;
    const std::string_view digit = base.substr(3);
    // Windows also counts the superscript digits one, two and three.
    return (digit.size() == 1 && digit[0] >= '1' && digit[0] <= '9') || digit == "\xC2\xB9" || digit == "\xC2\xB2" ||
           digit == "\xC2\xB3";
}

const char* fileNameProblem(std::string_view part) {
    // Windows drops a trailing dot or blank, so "a.dll." would be written as "a.dll": another name
    // than the one given, and on other systems a third one.
    if (part.empty() || part.back() == '.' || part.back() == ' ') return "path has a name ending in a dot or a blank";
    if (isDeviceName(part)) return "path names a Windows device";
    for (const char c : part) {
        if (forbiddenInName(c)) return "path has a character that file names cannot hold";
    }
    return nullptr;
}

}  // namespace tovi
