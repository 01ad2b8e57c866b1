// The one catch barrier of each program's entry point.
#pragma once

#include <cstdio>
#include <exception>

#include "common/error.h"
#include "common/library.h"
#include "common/messages.h"

namespace tovi {

// For the windowed programs: body's status, or 1 once what escaped it is reported (a BindError
// the way reportBindError does, anything else as the unhandled-error report).
template <typename Body>
int runReportingErrors(Body&& body) {
    try {
        return body();
    } catch (const BindError& e) {
        reportBindError(e);
        return 1;
    } catch (...) {
        reportUnhandledError(std::current_exception());
        return 1;
    }
}

// For console tools: body's status, or 1 once the unhandled-error text of what escaped it is on
// standard error (no message box: nobody may be there to close it).
template <typename Body>
int runReportingErrorsOnConsole(Body&& body) {
    try {
        return body();
    } catch (...) {
        std::fflush(stdout);  // what the tool printed so far comes first
        std::fputs(unhandledErrorText(std::current_exception()).c_str(), stderr);
        return 1;
    }
}

}  // namespace tovi
