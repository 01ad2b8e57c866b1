// Fuzz target: the reader of a printer's status replies, fed what a printer (or anything on its
// port) sends. Input: byte 0 the drawer's sense (mod 3); then, for each request the reader sends,
// one count byte n and the next n bytes, which arrive split at each byte 0x7F among them.
// Properties: each request is sent once at most, 3 only after an error was told; nothing is known
// but `connected` unless the source is the printer; paper out is never without paper low; the
// drawer is told only with its sense known; error causes only come with an error.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "escpos/status.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tovi::escpos;
    std::string_view in(reinterpret_cast<const char*>(data), size);
    if (in.empty()) return 0;
    const auto sense = static_cast<DrawerSense>(static_cast<unsigned char>(in[0]) % 3);
    in.remove_prefix(1);
    StatusReplies replies(sense);
    std::string sent;
    while (!replies.nextRequest().empty()) {
        const std::string_view request = replies.nextRequest();
        if (request.size() != 3 || request[0] != 0x10 || request[1] != 0x04) std::abort();
        if (sent.find(request[2]) != std::string::npos || sent.size() >= 4) std::abort();
        sent += request[2];
        replies.sent();
        if (in.empty()) break;
        std::string_view answer = in.substr(1, static_cast<unsigned char>(in[0]));
        in.remove_prefix(1 + answer.size());
        for (std::size_t cut; (cut = answer.find('\x7F')) != std::string_view::npos; answer.remove_prefix(cut + 1))
            replies.take(answer.substr(0, cut));
        replies.take(answer);
    }
    const tovi::protocol::DeviceStatus s = replies.status();
    if (s.connected != true) std::abort();
    const bool anything = s.online || s.paperLow || s.paperOut || s.coverOpen || s.drawerOpen || s.error;
    if (s.source != "escpos" && (anything || !replies.errorCauses().empty())) std::abort();
    if (s.paperOut == true && s.paperLow != true) std::abort();
    if (sense == DrawerSense::Unknown && s.drawerOpen) std::abort();
    if (!replies.errorCauses().empty() && s.error != true) std::abort();
    if (sent.find('\x03') != std::string::npos && s.error != true && !replies.spoiled()) std::abort();
    return 0;
}
