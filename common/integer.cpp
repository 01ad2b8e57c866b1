#include "common/integer.h"

#include "common/error.h"

namespace tovi {

std::optional<std::int32_t> tryParseInt32(std::string_view text) {
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Accumulate the magnitude in 64 bits; -2147483648 is in range, +2147483648 is not.
    const std::int64_t limit = negative ? 2147483648LL : 2147483647LL;
    std::int64_t value = 0;
    bool anyDigit = false;
    bool lastWasDigit = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9') {
            value = value * 10 + (c - '0');
            if (value > limit) return std::nullopt;
            anyDigit = true;
            lastWasDigit = true;
        } else if (c == '_' && lastWasDigit) {
            lastWasDigit = false;
        } else {
            return std::nullopt;
        }
    }
    if (!anyDigit) return std::nullopt;
    return static_cast<std::int32_t>(negative ? -value : value);
}

std::int32_t parseInt32(std::string_view text) {
    if (auto v = tryParseInt32(text)) return *v;
    throw valueError("invalid literal for int(): \"" + std::string(text) + "\"");
}

}  // namespace tovi
