// Message boxes and standard-error lines: the only diagnostics of both programs.
#pragma once

#include <exception>
#include <string>

namespace tovi {

// An owner window for message boxes and program starts; on Windows an HWND.
using WindowHandle = void*;

// The desktop window (GetDesktopWindow); null on Linux.
WindowHandle desktopWindow();

// Writes text and a line break to standard error.
void writeStderrLine(const std::string& text);

// Windows: MessageBoxA with no owner, no caption and MB_OK (the system's default caption).
// Linux: the text on standard error as one line and, in a desktop session, a dialog.
void showPlainMessage(const std::string& text);

// Windows: a modal MessageBoxW owned by owner, with caption and style MB_OK | MB_ICONERROR,
// texts converted from UTF-8. Linux: as showPlainMessage, with the caption.
void showErrorMessage(WindowHandle owner, const std::string& caption, const std::string& text);

// Linux: caption and text on standard error as the one line that showErrorMessage writes, for a
// box shown by other means (the client's windowing layer). Windows: nothing.
void logErrorMessage(const std::string& caption, const std::string& text);

// The unhandled-error report for the exception in flight (or the one given).
void reportUnhandledError(const std::exception_ptr& error);

}  // namespace tovi
