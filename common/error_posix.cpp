#include <cstring>

#include "common/error.h"

namespace tovi {

std::string systemErrorMessage(unsigned long code) { return std::strerror(static_cast<int>(code)); }

std::string systemErrorText(unsigned long code) {
    std::string text = systemErrorMessage(code);
    return text.empty() ? "error " + std::to_string(code) : text;
}

}  // namespace tovi
