// The receipt picture as a PNG file: the paper with its unprinted edges, and a strip beside it
// where the cuts and drawer pulses are marked.
#include <png.h>

#include <algorithm>

#include "common/error.h"
#include "escpos/picture.h"
#include "escpos/picture_font.h"

namespace tovi::escpos {

namespace {

// Palette entries.
enum : unsigned char { kPaper, kInk, kStrip, kMark };
constexpr unsigned char kColours[] = {0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0xD8, 0xD8, 0xD8, 0xC0, 0x10, 0x10};

// The paper's edges that the head does not reach: 80 mm paper is 640 dots wide, 58 mm 464 dots.
int sideMargin(int printWidth) { return printWidth <= 384 ? 40 : 32; }
constexpr int kTopMargin = 16;
constexpr int kBottomMargin = 16;
constexpr int kStripWidth = 200;
constexpr int kLabelWidth = 9, kLabelHeight = 17;  // font B

}  // namespace

std::string receiptPng(const ReceiptPicture& picture) {
    const int margin = sideMargin(picture.width);
    const int paperWidth = picture.width + 2 * margin;
    const int width = paperWidth + kStripWidth;
    const int height = kTopMargin + picture.height + kBottomMargin;
    std::vector<unsigned char> pixels(std::size_t(width) * std::size_t(height), kPaper);
    const auto put = [&](int x, int y, unsigned char colour) {
        if (x >= 0 && x < width && y >= 0 && y < height) pixels[std::size_t(y) * std::size_t(width) + std::size_t(x)] = colour;
    };
    for (int y = 0; y < height; ++y)
        for (int x = paperWidth; x < width; ++x) put(x, y, kStrip);
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x)
            if (picture.dot(x, y)) put(margin + x, kTopMargin + y, kInk);

    ReceiptFont font;
    for (const ReceiptMark& mark : picture.marks) {
        const int y = kTopMargin + mark.y;
        if (mark.kind != ReceiptMark::Kind::Drawer) {
            // A cut across the paper: long dashes for a full cut, short ones for a partial cut.
            const int dash = mark.kind == ReceiptMark::Kind::FullCut ? 12 : 4;
            for (int x = 0; x < paperWidth; ++x)
                if (x / dash % 2 == 0) put(x, y, kMark), put(x, y + 1, kMark);
        }
        // A pointer at the paper's edge, then the label.
        for (int k = 0; k < 8; ++k)
            for (int j = -k / 2; j <= k / 2; ++j) put(paperWidth + 2 + k, y + j, kMark);
        int x = paperWidth + 14;
        const int top = std::min(y - kLabelHeight / 2, height - kLabelHeight);
        for (const char c : mark.label) {
            const std::vector<unsigned char>& glyph = font.glyph(static_cast<unsigned char>(c), kLabelWidth, kLabelHeight);
            for (int gy = 0; gy < kLabelHeight; ++gy)
                for (int gx = 0; gx < kLabelWidth; ++gx)
                    if (glyph[std::size_t(gy * kLabelWidth + gx)] && x + gx < width - 2) put(x + gx, top + gy, kMark);
            x += kLabelWidth;
        }
    }

    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = PNG_FORMAT_RGB_COLORMAP;
    image.colormap_entries = sizeof kColours / 3;
    png_alloc_size_t size = 0;
    if (!png_image_write_to_memory(&image, nullptr, &size, 0, pixels.data(), 0, kColours)) {
        const std::string why = image.message;
        png_image_free(&image);
        throw ioError("cannot make the receipt picture: " + why);
    }
    std::string out(size, '\0');
    if (!png_image_write_to_memory(&image, out.data(), &size, 0, pixels.data(), 0, kColours)) {
        const std::string why = image.message;
        png_image_free(&image);
        throw ioError("cannot make the receipt picture: " + why);
    }
    out.resize(size);
    return out;
}

}  // namespace tovi::escpos
