// Fuzz target: origins from config.ini (the start address and the trustedOrigins list) and from
// the engine. Input: start address NUL list (no NUL: the input is both). Properties: an entry yields
// an origin or an error, never both; every origin the parsers yield reads back as itself, so that
// comparing serialised texts is sound; the trusted list holds each origin once.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "client/origins.h"

namespace {

void mustReadBack(const std::string& origin) {
    const tovi::client::ParsedOrigin again = tovi::client::parseOrigin(origin);
    if (!again.error.empty() || again.origin != origin) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view in(reinterpret_cast<const char*>(data), size);
    const std::size_t nul = in.find('\0');
    const std::string_view address = in.substr(0, nul);
    const std::string_view list = nul == std::string_view::npos ? in : in.substr(nul + 1);

    const tovi::client::ParsedOrigin entry = tovi::client::parseOrigin(address);
    if (entry.origin.empty() == entry.error.empty()) std::abort();
    if (!entry.origin.empty()) mustReadBack(entry.origin);
    if (const std::string start = tovi::client::originOfAddress(address); !start.empty()) mustReadBack(start);

    const tovi::client::TrustedOrigins trusted = tovi::client::trustedOrigins(address, list);
    for (const std::string& origin : trusted.origins) {
        mustReadBack(origin);
        if (std::count(trusted.origins.begin(), trusted.origins.end(), origin) != 1) std::abort();
    }
    tovi::client::OriginGuard guard(trusted.origins);
    for (const std::string& origin : trusted.origins) {
        if (!guard.admit("toviPrint", origin)) std::abort();
    }
    return 0;
}
