// Fuzz target: the page's device requests. Beyond "no crash" (a request nested without bound
// included): an accepted request's command line holds no control character, so the support
// program sees exactly the words the client built.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "client/requests.h"

namespace {

void check(const tovi::client::DeviceCommand& c) {
    for (const char ch : c.commandLine) {
        const auto b = static_cast<unsigned char>(ch);
        if (b < 0x20 || b == 0x7F) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    using namespace tovi::client;
    try {
        check(printRequest(PrintKind::Receipt, text));
    } catch (const RequestError&) {
    }
    try {
        check(printRawRequest(text));
    } catch (const RequestError&) {
    }
    try {
        check(opencashRequest(text));
    } catch (const RequestError&) {
    }
    try {
        check(displayRequest(text));
    } catch (const RequestError&) {
    }
    return 0;
}
