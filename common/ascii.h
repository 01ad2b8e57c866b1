// ASCII letter case and hexadecimal digits, byte by byte: every other byte (UTF-8 sequences, GB2312
// codes) is kept as it is, so these never depend on a locale and never change a non-ASCII name.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tovi::ascii {

constexpr char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
constexpr char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

inline std::string lowered(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = lower(c);
    return out;
}

inline std::string uppered(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = upper(c);
    return out;
}

constexpr bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

// The value of a hexadecimal digit of either case, -1 for any other byte.
constexpr int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

enum class HexCase { Lower, Upper };

// Two digits a byte, high nibble first.
inline std::string hex(std::string_view bytes, HexCase letters = HexCase::Lower) {
    const char* const digits = letters == HexCase::Lower ? "0123456789abcdef" : "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const char b : bytes) {
        const auto v = static_cast<unsigned char>(b);
        out += digits[v >> 4];
        out += digits[v & 0x0f];
    }
    return out;
}

// The bytes that an even number of hexadecimal digits (either case) spell; nothing for any other text.
inline std::optional<std::string> unhex(std::string_view digits) {
    if (digits.size() % 2 != 0) return std::nullopt;
    std::string out;
    out.reserve(digits.size() / 2);
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        const int high = hexValue(digits[i]);
        const int low = hexValue(digits[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        out += static_cast<char>(high * 16 + low);
    }
    return out;
}

}  // namespace tovi::ascii
