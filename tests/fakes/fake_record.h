// Shared by the recording device libraries: every call is appended as one line to the file named
// by TOVI_FAKE_LOG, and a function named in TOVI_FAKE_FAIL (a comma list) reports failure.
//
// Record lines (hex: two lower-case digits per byte, "-" for no bytes):
//   winPrint <data-hex>
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

#ifdef _WIN32
#include <wchar.h>
#endif

namespace tovi::fakes {

inline std::string hex(std::string_view bytes) {
    if (bytes.empty()) return "-";
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        out += digits[c >> 4];
        out += digits[c & 0xF];
    }
    return out;
}

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

// winPrint gets no length; the data is followed by one NUL, but ESC/POS commands carry 0x00
// parameter bytes of their own (GS V m n, ESC p m t1 t2). The data ends at the first NUL that is
// not such a parameter byte. Hazard: data that itself ended in an incomplete GS V m or ESC p m t1
// would make the scan step over the terminator; the support program never sends that, since
// every job line it sends ends in LF.
inline std::size_t escposLength(const char* data) {
    std::size_t i = 0;
    while (data[i] != '\0') {
        const auto b = [&](std::size_t k) { return static_cast<unsigned char>(data[i + k]); };
        if (b(0) == 0x1D && b(1) == 0x56 && (b(2) == 0x41 || b(2) == 0x42 || b(2) == 0x61 || b(2) == 0x62)) {
            i += 3;
            ++i;  // n, possibly 0x00
        } else if (b(0) == 0x1B && b(1) == 0x70 && b(2) != 0 && b(3) != 0) {
            i += 4;
            ++i;  // t2, possibly 0x00
        } else {
            ++i;
        }
    }
    return i;
}

}  // namespace tovi::fakes
