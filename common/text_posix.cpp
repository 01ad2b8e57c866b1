// Text conversion on Linux: UTF-8/UTF-16 by hand, code page 936 through iconv's CP936 table.
#include <iconv.h>

#include <cerrno>
#include <cstdint>

#include "common/text.h"

namespace tovi {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes UTF-8 the way the Windows converter does: each malformed sequence gives one U+FFFD.
std::u32string decodeUtf8(std::string_view s) {
    std::u32string out;
    out.reserve(s.size());
    std::size_t i = 0;
    while (i < s.size()) {
        const auto b0 = static_cast<unsigned char>(s[i]);
        if (b0 < 0x80) {
            out += b0;
            ++i;
            continue;
        }
        int len = 0;
        char32_t cp = 0;
        char32_t min = 0;
        if (b0 >= 0xC2 && b0 <= 0xDF) {
            len = 2, cp = b0 & 0x1F, min = 0x80;
        } else if (b0 >= 0xE0 && b0 <= 0xEF) {
            len = 3, cp = b0 & 0x0F, min = 0x800;
        } else if (b0 >= 0xF0 && b0 <= 0xF4) {
            len = 4, cp = b0 & 0x07, min = 0x10000;
        } else {
            out += kReplacement;
            ++i;
            continue;
        }
        int k = 1;
        for (; k < len && i + static_cast<std::size_t>(k) < s.size(); ++k) {
            const auto b = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
            if ((b & 0xC0) != 0x80) break;
            cp = (cp << 6) | (b & 0x3F);
        }
        if (k < len || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            out += kReplacement;
            i += static_cast<std::size_t>(k);  // skip the lead byte and the continuation bytes seen
            continue;
        }
        out += cp;
        i += static_cast<std::size_t>(len);
    }
    return out;
}

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// One iconv descriptor per conversion; the descriptor is closed on every path.
class Iconv {
public:
    Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Iconv() {
        if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    // Converts one whole unit; false when the target cannot represent it.
    bool convert(const char* in, std::size_t inLen, std::string& out) {
        char buf[16];
        char* src = const_cast<char*>(in);
        char* dst = buf;
        std::size_t dstLeft = sizeof buf;
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        if (iconv(cd_, &src, &inLen, &dst, &dstLeft) == static_cast<std::size_t>(-1) || inLen != 0) {
            return false;
        }
        out.append(buf, sizeof buf - dstLeft);
        return true;
    }

private:
    iconv_t cd_;
};

}  // namespace

std::u16string utf8ToUtf16(std::string_view utf8) {
    std::u16string out;
    for (char32_t cp : decodeUtf8(utf8)) {
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return out;
}

std::string utf16ToUtf8(std::u16string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        char32_t cp = s[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = kReplacement;
        }
        appendUtf8(out, cp);
    }
    return out;
}

std::string utf8ToGb2312(std::string_view utf8) {
    Iconv cv("CP936", "UTF-32LE");
    std::string out;
    for (char32_t cp : decodeUtf8(utf8)) {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
            continue;
        }
        const unsigned char le[4] = {static_cast<unsigned char>(cp), static_cast<unsigned char>(cp >> 8),
                                     static_cast<unsigned char>(cp >> 16), static_cast<unsigned char>(cp >> 24)};
        if (!cv.ok() || !cv.convert(reinterpret_cast<const char*>(le), 4, out)) out += '?';
    }
    return out;
}

std::string gb2312ToUtf8(std::string_view gb) {
    // Opened once a thread: a receipt's transcript and picture convert it a few bytes at a time.
    thread_local Iconv cv("UTF-8", "CP936");
    std::string out;
    std::size_t i = 0;
    while (i < gb.size()) {
        const auto b = static_cast<unsigned char>(gb[i]);
        if (b < 0x80) {
            out += static_cast<char>(b);
            ++i;
            continue;
        }
        // A lead byte 0x81-0xFE takes one trail byte; 0x80 alone is the euro sign in code page 936.
        if (cv.ok() && i + 1 < gb.size() && cv.convert(gb.data() + i, 2, out)) {
            i += 2;
        } else if (cv.ok() && cv.convert(gb.data() + i, 1, out)) {
            i += 1;
        } else {
            appendUtf8(out, kReplacement);
            i += 1;
        }
    }
    return out;
}

}  // namespace tovi
