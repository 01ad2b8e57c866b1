// Shared by the recording device libraries: every call is appended as one line to the file named
// by TOVI_FAKE_LOG, and a function named in TOVI_FAKE_FAIL (a comma list) reports failure.
//
// Record lines (hex: two lower-case digits per byte, "-" for no bytes):
//   winPrint <data-hex>
//   winPrintBytes <length> <data-hex>
//   winWriteFile <port-hex> <length> <data-hex>
//   com_init <port> <baud>
//   com_send <length> <data-hex>
//   com_rest
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "common/ascii.h"

#ifdef _WIN32
#include <wchar.h>
#endif

namespace tovi::fakes {

inline std::string hex(std::string_view bytes) { return bytes.empty() ? "-" : ascii::hex(bytes); }

inline void record(const std::string& line) {
#ifdef _WIN32
    const wchar_t* path = _wgetenv(L"TOVI_FAKE_LOG");
    if (!path || !*path) return;
    FILE* f = _wfopen(path, L"ab");
#else
    const char* path = std::getenv("TOVI_FAKE_LOG");
    if (!path || !*path) return;
    FILE* f = std::fopen(path, "ab");
#endif
    if (!f) return;
    std::fwrite(line.data(), 1, line.size(), f);
    std::fputc('\n', f);
    std::fclose(f);
}

// True when name is one of the comma-separated names in TOVI_FAKE_FAIL.
inline bool shouldFail(std::string_view name) {
    const char* list = std::getenv("TOVI_FAKE_FAIL");
    if (!list) return false;
    std::string_view rest(list);
    while (!rest.empty()) {
        const auto comma = rest.find(',');
        if (rest.substr(0, comma) == name) return true;
        if (comma == std::string_view::npos) break;
        rest.remove_prefix(comma + 1);
    }
    return false;
}

}  // namespace tovi::fakes
