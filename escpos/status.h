// The printer's real-time status: the DLE EOT requests and the reader of their replies.
//
// DLE EOT n (10 04 n) asks for one status byte: n = 1 the printer (bit 2 the level of the drawer
// connector's pin 3, bit 3 offline), 2 the cause of being offline (bit 2 cover open, bit 5
// printing stopped at the paper end, bit 6 an error), 3 the error (bit 2 mechanical, bit 3
// autocutter, bit 5 unrecoverable, bit 6 recovers by itself, e.g. a hot head), 4 the paper roll
// sensors (bits 2-3 near its end, bits 5-6 at its end). Every reply byte has the fixed bits
// 0xx1xx10; a printer sends nothing else of that form unasked (automatic status packets start with
// 0xx1xx00, their other bytes have bit 4 clear), so bytes of any other form are skipped.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/support_protocol.h"

namespace tovi::escpos {

// Whether the drawer is open when its sensor holds pin 3 high or low: the drawer's make decides,
// and without being told the status cannot say whether the drawer is open.
enum class DrawerSense : std::uint8_t { Unknown, OpenHigh, OpenLow };

constexpr bool isStatusReply(unsigned char b) { return (b & 0x93) == 0x12; }

// One reading: request 1, then 2, then 3 when 2 tells an error, then 4, each sent once the reply to
// the one before is in. Replies are matched to requests by their order alone, so a link that
// answers more than once to one request, or speaks unasked between them, cannot be trusted: the
// reading is spoiled and tells nothing.
class StatusReplies {
public:
    explicit StatusReplies(DrawerSense sense) : sense_(sense) {}

    // The request to send next (three bytes); empty once every reply needed is in or the reading
    // is spoiled. sent() marks it sent.
    std::string_view nextRequest() const;
    void sent();
    // A request is out and its reply is not in yet.
    bool waiting() const { return pending_ != 0; }
    // Bytes as they arrived from the printer, in any pieces.
    void take(std::string_view bytes);
    bool spoiled() const { return spoiled_; }

    // What the replies tell, source "escpos"; where a reply is missing its facts are unknown. No
    // reply at all, or a spoiled reading: source "none" and nothing known. `connected` is true
    // either way: replies come over a link that is open.
    protocol::DeviceStatus status() const;
    // The causes the error reply (DLE EOT 3) names, for a report line; empty when none came.
    std::string errorCauses() const;

private:
    DrawerSense sense_;
    std::array<std::optional<unsigned char>, 5> replies_{};  // by n
    unsigned char pending_ = 0;
    bool spoiled_ = false;
};

}  // namespace tovi::escpos
