// QR codes and bar codes for the receipt picture, drawn by zint: the modules of a symbol, one byte
// per module, which the picture then scales to the printer's dot sizes.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tovi::escpos {

struct CodeModules {
    int width = 0;   // modules across
    int height = 0;  // modules down (1 for a bar code: the bars run the whole height)
    std::vector<unsigned char> dark;  // width * height, row by row
    std::string text;  // a bar code's human-readable text (with the check digit zint computes)
    bool at(int x, int y) const { return dark[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                                              static_cast<std::size_t>(x)] != 0; }
};

// The symbol, or why it cannot be drawn (data the symbology does not take, an option zint lacks).
struct CodeResult {
    std::optional<CodeModules> modules;
    std::string problem;
};

enum class QrModel { Model1, Model2, Micro };

// A QR code of the data bytes as they are (byte mode, no character set conversion), with error
// correction level 0 (L) to 3 (H). Model 1 is not drawn: zint makes model 2 and Micro QR only.
CodeResult qrCode(std::string_view data, QrModel model, int errorLevel);

// The bar code of GS k: `system` is the printer's m (0-6 with NUL-ended data, 65-73 with counted
// data) and data its data bytes. CODE128 data carries the printer's code set selectors ({A, {B, {C
// and {{ for a "{"); code set C takes each byte as a pair of digits.
CodeResult barCode(int system, std::string_view data);

}  // namespace tovi::escpos
