// Portable part of the text conversions.
#include "common/text.h"

namespace tovi {

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
