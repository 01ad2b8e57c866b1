// Fuzz target: the INI reader and writer. Input: section NUL key NUL value NUL file text (missing
// parts: [base] version and the whole input as the value). Property: when set() accepts, the text
// it leaves reads back with that key holding exactly that value and every other entry as before,
// in the same order; when it refuses, the text is unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "common/error.h"
#include "common/ini.h"

namespace {

bool sameEntry(const tovi::IniFile::Entry& a, const tovi::IniFile::Entry& b) {
    return a.section == b.section && a.key == b.key && a.value == b.value;
}

std::vector<tovi::IniFile::Entry> without(const std::vector<tovi::IniFile::Entry>& entries, std::string_view section,
                                          std::string_view key) {
    std::vector<tovi::IniFile::Entry> out;
    for (const auto& e : entries) {
        if (e.section != section || e.key != key) out.push_back(e);
    }
    return out;
}

bool sameEntries(const std::vector<tovi::IniFile::Entry>& a, const std::vector<tovi::IniFile::Entry>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (!sameEntry(a[i], b[i])) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view in(reinterpret_cast<const char*>(data), size);
    std::string_view parts[3] = {"base", "version", {}};
    std::size_t n = 0;
    for (; n < 3; ++n) {
        const auto nul = in.find('\0');
        if (nul == std::string_view::npos) break;
        parts[n] = in.substr(0, nul);
        in.remove_prefix(nul + 1);
    }
    const std::string_view section = parts[0], key = parts[1];
    const std::string_view value = n == 3 ? parts[2] : in;
    const std::string_view text = n == 3 ? in : std::string_view("[base]\nversion=1\n");

    tovi::IniFile f = tovi::IniFile::parse(text);
    const auto before = f.entries();
    try {
        f.set(section, key, value);
    } catch (const tovi::Error&) {
        if (f.text() != text || !sameEntries(f.entries(), before)) std::abort();
        return 0;
    }
    const tovi::IniFile back = tovi::IniFile::parse(f.text());
    if (back.find(section, key) != std::string(value)) std::abort();
    if (!sameEntries(without(back.entries(), section, key), without(before, section, key))) std::abort();
    if (!sameEntries(back.entries(), f.entries())) std::abort();
    return 0;
}
