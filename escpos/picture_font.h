// Characters for the receipt picture as a printer's fonts draw them: one bit a dot, each in a cell
// of the font's size (12 x 24 dots for font A, 9 x 17 for font B, 24 x 24 for Chinese). The glyphs
// come from a Chinese font of the system (Debian: fonts-wqy-microhei), found through fontconfig and
// drawn by FreeType.
#pragma once

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "common/handle.h"

namespace tovi::escpos {

class ReceiptFont {
public:
    // Opens the first font that has both Latin and Chinese characters; throws Error naming the
    // fonts it looked for when there is none.
    ReceiptFont();
    ReceiptFont(const ReceiptFont&) = delete;
    ReceiptFont& operator=(const ReceiptFont&) = delete;

    // The character drawn into a cell of width x height dots, row by row (1 a dot); centred
    // across, on a baseline at the same height for every cell of that height. A character the
    // font lacks is an empty box.
    const std::vector<unsigned char>& glyph(char32_t code, int width, int height);

    // The font's file, for reports.
    const std::string& file() const { return file_; }

private:
    UniqueFreeTypeLibrary library_;
    UniqueFreeTypeFace face_;
    std::string file_;
    std::map<std::tuple<char32_t, int, int>, std::vector<unsigned char>> cache_;
};

}  // namespace tovi::escpos
