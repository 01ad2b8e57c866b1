#include "escpos/status.h"

#include "escpos/commands.h"

namespace tovi::escpos {

namespace {

// The request bytes DLE EOT n, n = 1 to 4, one after the other.
constexpr char kRequests[] = {kDle, kEot, 1, kDle, kEot, 2, kDle, kEot, 3, kDle, kEot, 4};

// DLE EOT 1
constexpr unsigned char kDrawerPin3High = 0x04;
constexpr unsigned char kOffline = 0x08;
// DLE EOT 2
constexpr unsigned char kCoverOpen = 0x04;
constexpr unsigned char kStoppedAtPaperEnd = 0x20;
constexpr unsigned char kError = 0x40;
// DLE EOT 4: each sensor has two bits; printers differ in which of them they set.
constexpr unsigned char kPaperNearEnd = 0x0C;
constexpr unsigned char kPaperEnd = 0x60;

}  // namespace

std::string_view StatusReplies::nextRequest() const {
    if (spoiled_ || pending_ != 0) return {};
    unsigned char n = 0;
    if (!replies_[1]) n = 1;
    else if (!replies_[2]) n = 2;
    else if ((*replies_[2] & kError) && !replies_[3]) n = 3;
    else if (!replies_[4]) n = 4;
    if (n == 0) return {};
    return {kRequests + 3 * (n - 1), 3};
}

void StatusReplies::sent() {
    const std::string_view request = nextRequest();
    if (!request.empty()) pending_ = static_cast<unsigned char>(request[2]);
}

void StatusReplies::take(std::string_view bytes) {
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (spoiled_ || !isStatusReply(b)) continue;
        if (pending_ == 0) {
            // A second answer to one request, or one nobody asked for: which reply is which is
            // no longer known.
            spoiled_ = true;
            continue;
        }
        replies_[pending_] = b;
        pending_ = 0;
    }
}

protocol::DeviceStatus StatusReplies::status() const {
    protocol::DeviceStatus s;
    s.connected = true;
    const auto& printer = replies_[1];
    const auto& offline = replies_[2];
    const auto& paper = replies_[4];
    if (spoiled_ || (!printer && !offline && !paper)) return s;
    s.source = "escpos";
    if (printer) {
        s.online = (*printer & kOffline) == 0;
        const bool high = (*printer & kDrawerPin3High) != 0;
        if (sense_ != DrawerSense::Unknown) s.drawerOpen = high == (sense_ == DrawerSense::OpenHigh);
    }
    const bool stopped = offline && (*offline & kStoppedAtPaperEnd);
    if (offline) {
        s.coverOpen = (*offline & kCoverOpen) != 0;
        s.error = (*offline & kError) != 0;
    }
    // Without the sensor byte, a print stopped at the paper end still tells that it is out.
    if (paper) s.paperOut = stopped || (*paper & kPaperEnd) != 0;
    else if (stopped) s.paperOut = true;
    if (paper) s.paperLow = *s.paperOut || (*paper & kPaperNearEnd) != 0;
    else if (s.paperOut) s.paperLow = true;
    return s;
}

std::string StatusReplies::errorCauses() const {
    if (spoiled_ || !replies_[3]) return {};
    static constexpr struct {
        unsigned char bit;
        std::string_view cause;
    } kCauses[] = {{0x04, "mechanical error"}, {0x08, "autocutter error"}, {0x20, "unrecoverable error"},
                   {0x40, "error that clears by itself (head temperature)"}};
    std::string out;
    for (const auto& c : kCauses) {
        if (!(*replies_[3] & c.bit)) continue;
        if (!out.empty()) out += ", ";
        out += c.cause;
    }
    return out;
}

}  // namespace tovi::escpos
