// Decimal integers as the support program's numeric parameters accept them.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace tovi {

// An optional "+" or "-", then decimal digits; an underscore directly after a digit is skipped
// ("1_000"). Nothing else is allowed (no blanks), and the value must fit in 32 bits, signed.
std::optional<std::int32_t> tryParseInt32(std::string_view text);

// As tryParseInt32, but a text that is not such a number throws a ValueError naming it.
std::int32_t parseInt32(std::string_view text);

}  // namespace tovi
