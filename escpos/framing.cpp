#include "escpos/framing.h"

namespace tovi::escpos {

namespace {

enum class Shape {
    Unknown,   // introducer + function byte
    Fixed,     // introducer + function byte + `params` bytes of any value
    Cut,       // GS V m [n]
    Barcode,   // GS k m ...
    TabStops,  // ESC D n1 ... NUL
    DleDc4,    // DLE DC4 fn [m t]
    // Blocks whose length comes from count bytes. They hold image and symbol data of any value, so
    // only data of a known length is framed by them; winPrint's end rule keeps them two bytes long.
    BitImage,      // ESC * m nL nH d1 ... (n columns of 1 or 3 bytes)
    RasterImage,   // GS v 0 m xL xH yL yH d1 ... (x * y bytes)
    Parameters,    // ESC ( / GS ( / FS ( fn pL pH d1 ... (pL + 256 pH bytes)
    LongParameters,  // GS 8 L p1 p2 p3 p4 d1 ... (32-bit count)
    Downloaded,    // GS * x y d1 ... (x * y * 8 bytes)
};

struct CommandShape {
    Shape shape = Shape::Unknown;
    int params = 0;
};

CommandShape shapeOf(unsigned char introducer, unsigned char function) {
    const auto fixed = [](int n) { return CommandShape{Shape::Fixed, n}; };
    switch (introducer) {
    case kEsc:
        switch (function) {
        case '@': case '2': case 'i': case 'm': case '<': case 'L': case 'S': case 'v':
            return fixed(0);
        case 'E': case '-': case 'a': case '!': case 'd': case 'J': case 't': case 'M': case 'G':
        case '{': case '3': case 'R': case ' ': case '%': case '=': case 'V': case 'r': case 'e':
        case 'U': case 'T': case 'u': case '?':
            return fixed(1);
        case '$': case '\\': case 'c':
            return fixed(2);
        case 'p':
            return fixed(3);
        case 'D':
            return {Shape::TabStops, 0};
        case '*':
            return {Shape::BitImage, 0};
        case '(':
            return {Shape::Parameters, 0};
        default:
            return {};
        }
    case kGs:
        switch (function) {
        case ':':
            return fixed(0);
        case '!': case 'B': case 'h': case 'w': case 'H': case 'f': case 'a': case 'r': case 'I':
        case 'b': case 'T': case '/':
            return fixed(1);
        case 'L': case 'W': case 'P': case '$': case '\\':
            return fixed(2);
        case '^':
            return fixed(3);
        case 'V':
            return {Shape::Cut, 0};
        case 'k':
            return {Shape::Barcode, 0};
        case 'v':
            return {Shape::RasterImage, 0};
        case '(':
            return {Shape::Parameters, 0};
        case '8':
            return {Shape::LongParameters, 0};
        case '*':
            return {Shape::Downloaded, 0};
        default:
            return {};
        }
    case kFs:
        switch (function) {
        case '(':
            return {Shape::Parameters, 0};
        case '&': case '.':
            return fixed(0);
        case '!': case '-': case 'W': case 'C':
            return fixed(1);
        case 'S': case 'p':
            return fixed(2);
        default:
            return {};
        }
    case kDle:
        switch (function) {
        case 0x04: case 0x05:  // DLE EOT n, DLE ENQ n
            return fixed(1);
        case 0x14:
            return {Shape::DleDc4, 0};
        default:
            return {};
        }
    default:
        return {};
    }
}

// GS V m: these m values take the extra byte n (feed n units, then cut).
bool cutTakesN(unsigned char m) { return m == 65 || m == 66 || m == 97 || m == 98 || m == 103 || m == 104; }

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
    CommandShape s = shapeOf(b, f);
    if (!bounded && s.shape >= Shape::BitImage) s = {};
    // A count that the data does not hold yet: the command is cut short.
    const auto need = [&](std::size_t n) { return available >= n; };
    const auto word = [&](std::size_t k) -> std::uint64_t { return p[k] | static_cast<std::uint64_t>(p[k + 1]) << 8; };
    switch (s.shape) {
    case Shape::Unknown:
        return {2, true};
    case Shape::Fixed:
        return fixedElement(2 + static_cast<std::size_t>(s.params), available);
    case Shape::Cut:
        if (available < 3) return {available, false};
        return fixedElement(cutTakesN(p[2]) ? 4 : 3, available);
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
