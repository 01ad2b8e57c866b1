#include <windows.h>

#include "common/error.h"
#include "common/text.h"

namespace tovi {

std::string systemErrorMessage(unsigned long code) {
    wchar_t* buffer = nullptr;
    // The system allocates the buffer (freed with LocalFree); inserts are ignored because the
    // caller has no arguments for them; language 0 picks the user's.
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string text;
    if (buffer) {
        if (n) text = narrow(std::wstring_view(buffer, n));
        LocalFree(buffer);
    }
    return text;
}

std::string systemErrorText(unsigned long code) {
    std::string text = systemErrorMessage(code);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    return text.empty() ? "error " + std::to_string(code) : text;
}

}  // namespace tovi
