// The one exception type of both programs, and the text of the unhandled-error report.
#pragma once

#include <exception>
#include <stdexcept>
#include <string>

namespace tovi {

// An error with a message and a kind ("IOError", "ValueError", ...). Both travel into the
// unhandled-error report, so keep messages short and in the system's own words.
class Error : public std::runtime_error {
public:
    Error(const std::string& message, std::string kind);
    const std::string& kind() const noexcept { return kind_; }

private:
    std::string kind_;
};

// Shorthands for the kinds used across the system.
Error ioError(const std::string& message);
Error valueError(const std::string& message);

// "Error: unhandled exception: " + message + " [" + kind + "]" + LF.
std::string unhandledErrorText(const std::string& message, const std::string& kind);

// "message [kind]" for any exception, with the kinds below.
std::string errorSummary(const std::exception_ptr& error);

// The report text for any exception: kind from tovi::Error, "MemoryError" for bad_alloc,
// "Exception" for anything else; "unknown error" when there is no exception at all.
std::string unhandledErrorText(const std::exception_ptr& error);

// The system's text for an error code (Windows: a GetLastError/WSAGetLastError code, as
// FormatMessageW words it; POSIX: an errno value, as strerror words it), without the trailing line
// break and blanks; "error N" when the system has no text for it. error_win32.cpp / error_posix.cpp.
std::string systemErrorText(unsigned long code);

// The same text exactly as the system gives it, trailing CR LF included ("" when it has none):
// for messages that keep the system's own layout.
std::string systemErrorMessage(unsigned long code);

}  // namespace tovi
