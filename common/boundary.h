// The catch barrier of a function exported to C callers (our device libraries and engines):
// nothing thrown may unwind into C code. Header-only, so that an engine links nothing of ours.
#pragma once

#include <cstdio>
#include <exception>
#include <new>

namespace tovi {

// Who failed, for the one line on standard error: "<library>: <what>", or with a function
// "<library>: <function>: <what>".
struct ExportSite {
    const char* library;
    const char* function = nullptr;
};

inline void reportExportFailure(ExportSite site, const char* what) noexcept {
    if (site.function)
        std::fprintf(stderr, "%s: %s: %s\n", site.library, site.function, what);
    else
        std::fprintf(stderr, "%s: %s\n", site.library, what);
}

// body's result; or fallback once what escaped body has been written to standard error as one
// line. stdio, not iostreams: it neither throws nor allocates on the way out.
template <typename R, typename Body>
R guardedExport(ExportSite site, R fallback, Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        reportExportFailure(site, "out of memory");
    } catch (const std::exception& e) {
        reportExportFailure(site, e.what());
    } catch (...) {
        reportExportFailure(site, "unexpected failure");
    }
    return fallback;
}

// The same for a function without a result.
template <typename Body>
void guardedExport(ExportSite site, Body&& body) noexcept {
    guardedExport(site, 0, [&] {
        body();
        return 0;
    });
}

}  // namespace tovi
