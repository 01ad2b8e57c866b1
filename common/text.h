// Text conversion. Inside both programs text is UTF-8; UTF-16 appears only at wide-character system
// calls, GB2312 (Windows code page 936) only in print-job files and manifest file names.
#pragma once

#include <string>
#include <string_view>

namespace tovi {

// Malformed UTF-8 becomes U+FFFD.
std::u16string utf8ToUtf16(std::string_view utf8);
// Unpaired surrogates become U+FFFD.
std::string utf16ToUtf8(std::u16string_view utf16);

// UTF-8 to code page 936; what the code page lacks (and malformed UTF-8) becomes "?".
std::string utf8ToGb2312(std::string_view utf8);
// Code page 936 to UTF-8; bytes that are no valid code become U+FFFD.
std::string gb2312ToUtf8(std::string_view gb2312);

#ifdef _WIN32
// wchar_t is UTF-16 on Windows: these are the forms the wide system calls take.
std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view wide);
#endif

}  // namespace tovi
