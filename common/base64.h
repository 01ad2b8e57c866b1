// RFC 4648 base64 with the standard alphabet: the page's raw print jobs and the publisher's PEM keys.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tovi {

std::string base64Encode(std::string_view bytes);

// Strict: whole groups of four, "=" only as the padding of the last group, no line breaks or
// blanks, and the bits that padding leaves over must be zero, so that every byte string has exactly
// one accepted text. Nothing for any other text. Hand-written: the decoders at hand skip what they
// do not know, and a page's typo must not print a receipt with bytes missing.
std::optional<std::string> base64Decode(std::string_view text);

}  // namespace tovi
