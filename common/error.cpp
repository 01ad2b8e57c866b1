#include "common/error.h"

#include <new>

namespace tovi {

Error::Error(const std::string& message, std::string kind)
    : std::runtime_error(message), kind_(std::move(kind)) {}

Error ioError(const std::string& message) { return Error(message, "IOError"); }
Error valueError(const std::string& message) { return Error(message, "ValueError"); }

std::string unhandledErrorText(const std::string& message, const std::string& kind) {
    return "Error: unhandled exception: " + message + " [" + kind + "]\n";
}

std::string errorSummary(const std::exception_ptr& error) {
    try {
        if (error) std::rethrow_exception(error);
    } catch (const Error& e) {
        return std::string(e.what()) + " [" + e.kind() + "]";
    } catch (const std::bad_alloc&) {
        return "out of memory [MemoryError]";
    } catch (const std::exception& e) {
        return std::string(e.what()) + " [Exception]";
    } catch (...) {
    }
    return "unknown error [Exception]";
}

std::string unhandledErrorText(const std::exception_ptr& error) {
    return "Error: unhandled exception: " + errorSummary(error) + "\n";
}

}  // namespace tovi
