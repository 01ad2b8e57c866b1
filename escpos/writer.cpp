#include "escpos/writer.h"

namespace tovi::escpos {

std::vector<std::string_view> splitLines(std::string_view content) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    std::size_t i = 0;
    while (i < content.size()) {
        const char c = content[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(content.substr(start, i - start));
            i += (c == '\r' && i + 1 < content.size() && content[i + 1] == '\n') ? 2 : 1;
            start = i;
        } else {
            ++i;
        }
    }
    lines.push_back(content.substr(start));
    return lines;
}

std::string buildPrintBuffer(std::string_view content, bool openDrawer, bool cut, std::int32_t feedLines) {
    const auto lines = splitLines(content);
    const std::size_t feed = feedLines > 0 ? static_cast<std::size_t>(feedLines) : 0;
    std::string buffer;
    buffer.reserve(kPrinterReset.size() + kDrawerPulse.size() + content.size() + lines.size() + feed +
                   kPartialCut.size());
    buffer += kPrinterReset;
    if (openDrawer) buffer += kDrawerPulse;
    for (std::string_view line : lines) {
        buffer += line;
        buffer += '\n';
    }
    buffer.append(feed, '\n');
    if (cut) buffer += kPartialCut;
    return buffer;
}

std::string drawerBuffer() {
    std::string buffer(kPrinterReset);
    buffer += kDrawerPulse;
    return buffer;
}

std::string displayMessage(std::string_view mode, std::string_view amount) {
    if (mode == "5") return "\x0C";
    std::string message = "\x1B\x73";
    message += mode;
    message += "\x1B\x51\x41";
    message += amount;
    message += '\r';
    return message;
}

}  // namespace tovi::escpos
