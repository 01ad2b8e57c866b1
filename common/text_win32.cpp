// Text conversion through the system's code pages, so that the bytes are exactly those of Windows.
#include <windows.h>

#include "common/text.h"

namespace tovi {

namespace {

std::wstring toWide(UINT codePage, std::string_view text) {
    if (text.empty()) return {};
    const int len = static_cast<int>(text.size());
    const int n = MultiByteToWideChar(codePage, 0, text.data(), len, nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    if (n > 0) MultiByteToWideChar(codePage, 0, text.data(), len, out.data(), n);
    return out;
}

std::string fromWide(UINT codePage, std::wstring_view text) {
    if (text.empty()) return {};
    const int len = static_cast<int>(text.size());
    // Code page 65001 refuses a default character; code page 936 uses its own "?".
    const int n = WideCharToMultiByte(codePage, 0, text.data(), len, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    if (n > 0) WideCharToMultiByte(codePage, 0, text.data(), len, out.data(), n, nullptr, nullptr);
    return out;
}

}  // namespace

std::u16string utf8ToUtf16(std::string_view utf8) {
    const std::wstring w = toWide(CP_UTF8, utf8);
    return std::u16string(w.begin(), w.end());
}

std::string utf16ToUtf8(std::u16string_view utf16) {
    return fromWide(CP_UTF8, std::wstring(utf16.begin(), utf16.end()));
}

std::string utf8ToGb2312(std::string_view utf8) { return fromWide(936, toWide(CP_UTF8, utf8)); }

std::string gb2312ToUtf8(std::string_view gb2312) { return fromWide(CP_UTF8, toWide(936, gb2312)); }

}  // namespace tovi
