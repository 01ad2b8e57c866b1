#include "escpos/transcript.h"

#include <algorithm>
#include <cstdio>

#include "common/text.h"
#include "escpos/framing.h"

namespace tovi::escpos {

namespace {

// Bytes in hex; a block longer than a tag should be shows its head and its length.
std::string hexBytes(const unsigned char* p, std::size_t n) {
    constexpr std::size_t kShown = 8;
    std::string out;
    char buf[4];
    for (std::size_t i = 0; i < n && i < (n > 3 * kShown ? kShown : n); ++i) {
        std::snprintf(buf, sizeof buf, "%02X", p[i]);
        if (i) out += ' ';
        out += buf;
    }
    if (n > 3 * kShown) out += " ... (" + std::to_string(n) + " bytes)";
    return out;
}

// Data bytes of a symbol as text: printable ASCII as it is, anything else as \xNN.
std::string quoted(const unsigned char* p, std::size_t n) {
    std::string out = "\"";
    char buf[8];
    for (std::size_t i = 0; i < n && i < 200; ++i) {
        if (p[i] >= 0x20 && p[i] < 0x7F && p[i] != '"' && p[i] != '\\') {
            out += static_cast<char>(p[i]);
        } else {
            std::snprintf(buf, sizeof buf, "\\x%02X", p[i]);
            out += buf;
        }
    }
    if (n > 200) out += "...";
    return out + "\"";
}

// GS ( k for QR codes (cn 49): pL pH cn fn parameters.
std::string qrTag(const unsigned char* p, std::size_t len) {
    if (len < 7) return {};
    const unsigned char fn = p[6];
    const auto arg = [&](std::size_t k) -> unsigned { return k < len ? p[k] : 0; };
    switch (fn) {
    case 65: return std::string("[QR MODEL ") + (arg(7) == 49 ? "1" : arg(7) == 50 ? "2" : arg(7) == 51 ? "MICRO" : "?") + "]";
    case 67: return "[QR MODULE " + std::to_string(arg(7)) + " DOTS]";
    case 69: {
        static constexpr const char* kLevels[] = {"L", "M", "Q", "H"};
        const unsigned n = arg(7);
        return std::string("[QR ERROR ") + (n >= 48 && n <= 51 ? kLevels[n - 48] : "?") + "]";
    }
    case 80: return "[QR DATA " + quoted(p + 8, len > 8 ? len - 8 : 0) + "]";
    case 81: return "[QR PRINT]";
    default: return {};
    }
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
        case '*': return "[BIT IMAGE " + num(n(2)) + " " + num(word(3)) + " COLUMNS]";
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
        case 'v':
            if (len >= 8) return "[RASTER IMAGE " + num(word(4) * 8) + "x" + num(word(6)) + " MODE " + num(n(3)) + "]";
            break;
        case '(':
            if (len >= 6 && p[2] == 'k' && p[5] == 49) {
                if (std::string tag = qrTag(p, len); !tag.empty()) return tag;
            }
            break;
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

std::string escposTranscript(std::string_view job, const std::vector<std::size_t>& skipped) {
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
        if (!isEscposIntroducer(b)) {
            out += bracket("0x" + hexBytes(p + i, 1));
            ++i;
            continue;
        }
        const EscposElement e = escposElement(p + i, size - i);
        if (!e.complete) {
            out += bracket("TRUNCATED " + hexBytes(p + i, e.length));
        } else if (std::binary_search(skipped.begin(), skipped.end(), i)) {
            const std::string tag = tagOf(p + i, e.length);
            out += "[SKIPPED " + tag.substr(1);
        } else {
            out += tagOf(p + i, e.length);
        }
        i += e.length;
    }
    return out;
}

}  // namespace tovi::escpos
