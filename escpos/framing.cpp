#include "escpos/framing.h"

namespace tovi::escpos {

namespace {

using Element = EscposElement;

// Length of a fixed-size element of `want` bytes when only `available` are there.
Element fixedElement(std::size_t want, std::size_t available) {
    if (want <= available) return {want, true};
    return {available, false};
}

// Bytes up to and including the first NUL from `from`; incomplete when the limit comes first.
Element throughNul(const unsigned char* p, std::size_t from, std::size_t available) {
    std::size_t j = from;
    while (j < available && p[j] != 0) ++j;
    if (j < available) return {j + 1, true};
    return {j, false};
}

// A block of `want` bytes (counts may make it larger than any job).
Element countedElement(std::uint64_t want, std::size_t available) {
    if (want <= available) return {static_cast<std::size_t>(want), true};
    return {available, false};
}

// bounded: the data's length is known (a raw job, a stored job); otherwise its end is found by the
// end rule, which never frames counted blocks.
Element measure(const unsigned char* p, std::size_t available, bool bounded) {
    if (available == 0) return {0, false};
    const unsigned char b = p[0];
    if (!isEscposIntroducer(b)) return {1, true};
    if (available < 2) return {1, false};
    const unsigned char f = p[1];
    // A lone introducer: the NUL after it is no function byte and stays for the caller to see.
    if (f == 0) return {1, false};
    const Command* command = findCommand(b, f);
    // An unknown command is its introducer and function byte; so is a counted block without a length.
    if (!command || (!bounded && command->shape >= Shape::BitImage)) return {2, true};
    // A count that the data does not hold yet: the command is cut short.
    const auto need = [&](std::size_t n) { return available >= n; };
    const auto word = [&](std::size_t k) -> std::uint64_t { return p[k] | static_cast<std::uint64_t>(p[k + 1]) << 8; };
    switch (command->shape) {
    case Shape::Fixed:
        return fixedElement(2 + std::size_t{command->params}, available);
    case Shape::Cut:
        if (available < 3) return {available, false};
        return fixedElement(cutOf(p[2]).feeds ? 4 : 3, available);
    case Shape::TabStops:
        return throughNul(p, 2, available);
    case Shape::DleDc4:
        if (available < 3) return {available, false};
        return fixedElement(p[2] == 1 || p[2] == 2 ? 5 : 3, available);
    case Shape::Barcode: {
        if (available < 3) return {available, false};
        const unsigned char m = p[2];
        if (m <= 6) return throughNul(p, 3, available);  // data ended by NUL
        if (m < 65 || m > 73) return {3, true};
        if (available < 4) return {available, false};
        // Counted data: bar code characters are never 0x00, so a NUL inside the count is the end
        // of the data handed over, not a data byte.
        const std::size_t end = 4 + p[3];
        std::size_t j = 4;
        while (j < end && j < available && p[j] != 0) ++j;
        return {j, j == end};
    }
    case Shape::BitImage:
        if (!need(5)) return {available, false};
        return countedElement(5 + word(3) * (p[2] == 32 || p[2] == 33 ? 3 : 1), available);
    case Shape::RasterImage:
        if (!need(3)) return {available, false};
        if (p[2] != '0') return {2, true};  // not GS v 0
        if (!need(8)) return {available, false};
        return countedElement(8 + word(4) * word(6), available);
    case Shape::Parameters:
        if (!need(5)) return {available, false};
        return countedElement(5 + word(3), available);
    case Shape::LongParameters:
        if (!need(7)) return {available, false};
        return countedElement(7 + (word(3) | word(5) << 16), available);
    case Shape::Downloaded:
        if (!need(4)) return {available, false};
        return countedElement(4 + std::uint64_t{p[2]} * p[3] * 8, available);
    }
    return {2, true};
}

}  // namespace

EscposElement escposElement(const unsigned char* p, std::size_t available) {
    return measure(p, available, available != kUnbounded);
}

std::size_t escposElementLength(const unsigned char* p, std::size_t available) {
    return escposElement(p, available).length;
}

std::size_t escposJobLength(const unsigned char* data) {
    std::size_t i = 0;
    while (data[i] != 0) i += measure(data + i, kUnbounded - i, false).length;
    return i;
}


}  // namespace tovi::escpos
