// Portable part of the text conversions.
#include "common/text.h"

namespace tovi {

std::string asciiUpper(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return out;
}

#ifdef _WIN32
std::wstring widen(std::string_view utf8) {
    const std::u16string u = utf8ToUtf16(utf8);
    return std::wstring(u.begin(), u.end());
}

std::string narrow(std::wstring_view wide) {
    return utf16ToUtf8(std::u16string(wide.begin(), wide.end()));
}
#endif

}  // namespace tovi
