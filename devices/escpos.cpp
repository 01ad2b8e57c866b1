#include "devices/escpos.h"

#include <cstdio>

#include "common/text.h"

namespace tovi::devices {

namespace {

constexpr unsigned char kDle = 0x10;
constexpr unsigned char kEsc = 0x1B;
constexpr unsigned char kFs = 0x1C;
constexpr unsigned char kGs = 0x1D;

bool isIntroducer(unsigned char b) { return b == kEsc || b == kGs || b == kFs || b == kDle; }

enum class Shape {
    Unknown,   // introducer + function byte
    Fixed,     // introducer + function byte + `params` bytes of any value
    Cut,       // GS V m [n]
    Barcode,   // GS k m ...
    TabStops,  // ESC D n1 ... NUL
    DleDc4,    // DLE DC4 fn [m t]
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
        default:
            return {};
        }
    case kFs:
        switch (function) {
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

struct Element {
    std::size_t length = 0;
    bool complete = true;
};

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

Element measure(const unsigned char* p, std::size_t available) {
    if (available == 0) return {0, false};
    const unsigned char b = p[0];
    if (!isIntroducer(b)) return {1, true};
    if (available < 2) return {1, false};
    const unsigned char f = p[1];
    // A lone introducer: the NUL after it is no function byte and stays for the caller to see.
    if (f == 0) return {1, false};
    const CommandShape s = shapeOf(b, f);
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
    }
    return {2, true};
}

std::string hexBytes(const unsigned char* p, std::size_t n) {
    std::string out;
    char buf[4];
    for (std::size_t i = 0; i < n; ++i) {
        std::snprintf(buf, sizeof buf, "%02X", p[i]);
        if (i) out += ' ';
        out += buf;
    }
    return out;
}

// "[" + inner + "]", built by appending (GCC 12 warns falsely on "[" + std::string&&).
std::string bracket(std::string_view inner) {
    std::string out;
    out.reserve(inner.size() + 2);
    out += '[';
    out += inner;
    out += ']';
    return out;
}

std::string num(unsigned v) { return std::to_string(v); }

std::string onOff(unsigned char n) { return (n & 1) ? "ON" : "OFF"; }

// ESC/POS selectors accept both 0/1/2 and '0'/'1'/'2'.
int selector(unsigned char n) { return n >= '0' && n <= '9' ? n - '0' : n; }

std::string tagOf(const unsigned char* p, std::size_t len) {
    const unsigned char b = p[0];
    const unsigned char f = p[1];
    const auto n = [&](std::size_t k) -> unsigned { return p[k]; };
    const auto word = [&](std::size_t k) -> unsigned { return p[k] | (static_cast<unsigned>(p[k + 1]) << 8); };
    if (b == kEsc) {
        switch (f) {
        case '@': return "[INIT]";
        case 'p': {
            const int pin = selector(p[2]) == 1 ? 5 : 2;
            return "[DRAWER pin " + num(static_cast<unsigned>(pin)) + " " + num(n(3) * 2) + "/" + num(n(4) * 2) + " ms]";
        }
        case 'E': return "[BOLD " + onOff(p[2]) + "]";
        case 'G': return "[DOUBLE STRIKE " + onOff(p[2]) + "]";
        case '{': return "[UPSIDE DOWN " + onOff(p[2]) + "]";
        case '-': {
            const int m = selector(p[2]);
            return m == 0 ? "[UNDERLINE OFF]" : "[UNDERLINE " + num(static_cast<unsigned>(m)) + "]";
        }
        case 'a': {
            const int m = selector(p[2]);
            if (m == 0) return "[ALIGN LEFT]";
            if (m == 1) return "[ALIGN CENTER]";
            if (m == 2) return "[ALIGN RIGHT]";
            return "[ALIGN " + num(n(2)) + "]";
        }
        case '!': return "[MODE " + hexBytes(p + 2, 1) + "]";
        case 'd': return "[FEED " + num(n(2)) + " LINES]";
        case 'J': return "[FEED " + num(n(2)) + " DOTS]";
        case 't': return "[CODE PAGE " + num(n(2)) + "]";
        case 'R': return "[CHARSET " + num(n(2)) + "]";
        case 'M': {
            const int m = selector(p[2]);
            if (m >= 0 && m <= 2) return std::string("[FONT ") + static_cast<char>('A' + m) + "]";
            return "[FONT " + num(n(2)) + "]";
        }
        case '2': return "[LINE SPACING DEFAULT]";
        case '3': return "[LINE SPACING " + num(n(2)) + "]";
        case '$': return "[POSITION " + num(word(2)) + "]";
        case 'i': return "[CUT FULL]";
        case 'm': return "[CUT PARTIAL]";
        default: break;
        }
    } else if (b == kGs) {
        switch (f) {
        case 'V': {
            const int m = selector(p[2]);
            std::string tag = (m == 0 || p[2] == 65 || p[2] == 97 || p[2] == 103) ? "[CUT FULL" : "[CUT PARTIAL";
            if (len >= 4 && n(3) != 0) tag += " +" + num(n(3));
            return tag + "]";
        }
        case '!': return "[SIZE " + num((n(2) >> 4) + 1) + "x" + num((n(2) & 0x0F) + 1) + "]";
        case 'B': return "[REVERSE " + onOff(p[2]) + "]";
        case 'L': return "[LEFT MARGIN " + num(word(2)) + "]";
        case 'W': return "[PRINT WIDTH " + num(word(2)) + "]";
        case 'h': return "[BARCODE HEIGHT " + num(n(2)) + "]";
        case 'w': return "[BARCODE WIDTH " + num(n(2)) + "]";
        case 'H': return "[BARCODE TEXT " + num(n(2)) + "]";
        case 'f': return "[BARCODE FONT " + num(n(2)) + "]";
        case 'k': {
            const std::size_t start = p[2] <= 6 ? 3 : 4;
            std::size_t end = len;
            if (p[2] <= 6 && end > start && p[end - 1] == 0) --end;
            std::string data;
            for (std::size_t k = start; k < end; ++k) data += static_cast<char>(p[k]);
            return "[BARCODE " + num(n(2)) + " \"" + data + "\"]";
        }
        default: break;
        }
    } else if (b == kFs) {
        if (f == '&') return "[CHINESE ON]";
        if (f == '.') return "[CHINESE OFF]";
    } else if (b == kDle) {
        if (f == 0x04) return "[STATUS " + num(n(2)) + "]";
        if (f == 0x14 && len == 5 && p[2] == 1) {
            const int pin = selector(p[3]) == 1 ? 5 : 2;
            return "[DRAWER pin " + num(static_cast<unsigned>(pin)) + " " + num(n(4) * 100) + " ms]";
        }
    }
    return bracket(hexBytes(p, len));
}

}  // namespace

std::size_t escposElementLength(const unsigned char* p, std::size_t available) {
    return measure(p, available).length;
}

std::size_t escposJobLength(const unsigned char* data) {
    std::size_t i = 0;
    while (data[i] != 0) i += measure(data + i, kUnbounded - i).length;
    return i;
}

std::string escposTranscript(std::string_view job) {
    const auto* p = reinterpret_cast<const unsigned char*>(job.data());
    const std::size_t size = job.size();
    std::string out;
    std::size_t i = 0;
    while (i < size) {
        const unsigned char b = p[i];
        if (b >= 0x20) {
            std::size_t j = i;
            while (j < size && p[j] >= 0x20) ++j;
            out += gb2312ToUtf8(job.substr(i, j - i));
            i = j;
            continue;
        }
        if (b == '\n' || b == '\t') {
            out += static_cast<char>(b);
            ++i;
            continue;
        }
        if (!isIntroducer(b)) {
            out += bracket("0x" + hexBytes(p + i, 1));
            ++i;
            continue;
        }
        const Element e = measure(p + i, size - i);
        if (!e.complete) {
            out += bracket("TRUNCATED " + hexBytes(p + i, e.length));
        } else {
            out += tagOf(p + i, e.length);
        }
        i += e.length;
    }
    return out;
}

}  // namespace tovi::devices
