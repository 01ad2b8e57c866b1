#include "escpos/transcript.h"

#include <algorithm>
#include <cstdio>

#include "common/text.h"
#include "escpos/commands.h"
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
std::string qrParam(const unsigned char* p, std::size_t len) {
    if (len < 7) return {};
    const unsigned char fn = p[6];
    const auto arg = [&](std::size_t k) -> unsigned { return k < len ? p[k] : 0; };
    switch (fn) {
    case kQrModel: return std::string("MODEL ") + (arg(7) == 49 ? "1" : arg(7) == 50 ? "2" : arg(7) == 51 ? "MICRO" : "?");
    case kQrModule: return "MODULE " + std::to_string(arg(7)) + " DOTS";
    case kQrErrorLevel: {
        static constexpr const char* kLevels[] = {"L", "M", "Q", "H"};
        const unsigned n = arg(7);
        return std::string("ERROR ") + (n >= 48 && n <= 51 ? kLevels[n - 48] : "?");
    }
    case kQrStore: return "DATA " + quoted(p + 8, len > 8 ? len - 8 : 0);
    case kQrPrint: return "PRINT";
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

// The word of blank-separated `words` at `index`; empty when there are fewer.
std::string_view wordAt(std::string_view words, int index) {
    for (int i = 0; i < index && !words.empty(); ++i) {
        const auto blank = words.find(' ');
        words = blank == std::string_view::npos ? std::string_view{} : words.substr(blank + 1);
    }
    return words.substr(0, words.find(' '));
}

// The parameters of a command that the transcript shows by its own rule, after the name; empty for
// the command's bytes in hex.
std::string ownParam(const Command& c, const unsigned char* p, std::size_t len) {
    const auto n = [&](std::size_t k) -> unsigned { return p[k]; };
    const auto word = [&](std::size_t k) -> unsigned { return p[k] | (static_cast<unsigned>(p[k + 1]) << 8); };
    const auto pin = [](unsigned char m) { return "pin " + num(static_cast<unsigned>(drawerPin(m))) + " "; };
    switch (c.op) {
    case Op::Drawer: return pin(p[2]) + num(n(3) * 2) + "/" + num(n(4) * 2) + " ms";
    case Op::RealTime:
        if (len == 5 && p[2] == 1) return pin(p[3]) + num(n(4) * 100) + " ms";
        return {};
    case Op::BitImage: return num(n(2)) + " " + num(word(3)) + " COLUMNS";
    case Op::Cut: {
        std::string param = cutOf(p[2]).full ? "FULL" : "PARTIAL";
        if (len >= 4 && n(3) != 0) param += " +" + num(n(3));
        return param;
    }
    case Op::Size: return num((n(2) >> 4) + 1) + "x" + num((n(2) & 0x0F) + 1);
    case Op::Barcode: return num(n(2)) + " \"" + std::string(barcodeData(p, len)) + "\"";
    case Op::RasterImage:
        if (len >= 8) return num(word(4) * 8) + "x" + num(word(6)) + " MODE " + num(n(3));
        return {};
    case Op::Symbol:
        if (len >= 6 && p[2] == 'k' && p[5] == kQrSymbol) return qrParam(p, len);
        return {};
    default:
        return {};
    }
}

std::string tagOf(const unsigned char* p, std::size_t len) {
    const Command* c = findCommand(p[0], p[1]);
    if (!c) return bracket(hexBytes(p, len));
    std::string param;
    switch (c->show) {
    case Show::Bytes: return bracket(hexBytes(p, len));
    case Show::Name: break;
    case Show::OnOff: param = onOff(p[2]); break;
    case Show::Number:
        param = num(p[2]);
        if (!c->words.empty()) (param += ' ') += c->words;
        break;
    case Show::Word: param = num(p[2] | static_cast<unsigned>(p[3]) << 8); break;
    case Show::Hex: param = hexBytes(p + 2, 1); break;
    case Show::Choice: {
        const std::string_view choice = wordAt(c->words, selector(p[2]));
        param = choice.empty() ? num(p[2]) : std::string(choice);
        break;
    }
    case Show::Own:
        param = ownParam(*c, p, len);
        if (param.empty()) return bracket(hexBytes(p, len));
        break;
    }
    std::string tag(c->name);
    if (!param.empty()) (tag += ' ') += param;
    return bracket(tag);
}

}  // namespace

std::string escposTranscript(std::string_view job, const std::vector<std::size_t>& skipped,
                             const std::optional<PictureStop>& stop) {
    const auto* p = reinterpret_cast<const unsigned char*>(job.data());
    const std::size_t size = job.size();
    std::string out;
    // The note of the picture's end goes before the element that starts there.
    const std::size_t stopAt = stop ? stop->at : std::string_view::npos;
    bool stopNoted = !stop;
    const auto noteStop = [&] {
        out += "[PICTURE STOPS: ";
        out += stop->why;
        out += ']';
        stopNoted = true;
    };
    std::size_t i = 0;
    while (i < size) {
        if (!stopNoted && i >= stopAt) noteStop();
        const unsigned char b = p[i];
        if (b >= 0x20) {
            std::size_t j = i;
            while (j < size && p[j] >= 0x20 && (stopNoted || j < stopAt)) ++j;
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
    if (!stopNoted) noteStop();
    return out;
}

}  // namespace tovi::escpos
