#include <windows.h>

#include <cstdio>

#include "common/messages.h"
#include "common/text.h"

namespace tovi {

WindowHandle desktopWindow() { return GetDesktopWindow(); }

void writeStderrLine(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

void showPlainMessage(const std::string& text) { MessageBoxA(nullptr, text.c_str(), nullptr, MB_OK); }

void logErrorMessage(const std::string&, const std::string&) {
    // A windowed program's standard error goes nowhere; the box is the record.
}

void showErrorMessage(WindowHandle owner, const std::string& caption, const std::string& text) {
    MessageBoxW(static_cast<HWND>(owner), widen(text).c_str(), widen(caption).c_str(), MB_OK | MB_ICONERROR);
}

}  // namespace tovi
