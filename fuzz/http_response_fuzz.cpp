// Fuzz target: the HTTP response parser. The first byte chooses the size of the pieces the input
// is fed in (a response arrives in arbitrary pieces); the rest is the response.
// Checks beyond "no crash": the parser never consumes more than it is given, never delivers more
// body than Content-Length announced, and takes nothing once the response is complete.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "net/http_parser.h"
#include "common/error.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t step = 1 + data[0] % 64;
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    tovi::updater::ResponseParser parser;
    std::uint64_t body = 0;
    try {
        std::size_t at = 0;
        while (at < text.size() && !parser.complete()) {
            std::string_view piece = text.substr(at, step);
            while (!piece.empty() && !parser.complete()) {
                const std::size_t used = parser.feed(piece, [&](std::string_view b) { body += b.size(); });
                if (used > piece.size()) std::abort();
                if (used == 0 && !parser.complete()) std::abort();  // stuck without progress
                piece.remove_prefix(used);
                at += used;
            }
        }
        if (parser.complete() && parser.feed("x", nullptr) != 0) std::abort();
        parser.finish();
    } catch (const tovi::Error&) {
    }
    if (parser.headComplete() && parser.framing() == tovi::updater::ResponseParser::Framing::Length) {
        const auto length = parser.header("Content-Length");
        if (length && length->find(',') == std::string::npos && body > std::strtoull(length->c_str(), nullptr, 10)) std::abort();
    }
    return 0;
}
