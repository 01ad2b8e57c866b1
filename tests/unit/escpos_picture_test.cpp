// The receipt picture: commands against the dots they print (the codes' contents are read back
// with a decoder in tests/integration/test_devices.py).
#include <fontconfig/fontconfig.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "escpos/picture.h"

namespace {

// fontconfig keeps its configuration until FcFini; the leak checker counts it otherwise.
struct FontconfigEnd : ::testing::Environment {
    void TearDown() override { FcFini(); }
};
const auto* const kFontconfigEnd = ::testing::AddGlobalTestEnvironment(new FontconfigEnd);

using namespace tovi::escpos;
using Bytes = std::vector<unsigned char>;
using MarkKind = ReceiptMark::Kind;

struct Box {
    int x0 = INT_MAX, y0 = INT_MAX, x1 = -1, y1 = -1;  // inclusive; x1 < 0: no dot at all
    bool operator==(const Box&) const = default;
};

std::string jobText(const Bytes& b) { return std::string(b.begin(), b.end()); }

Box inkBox(const ReceiptPicture& p, int* count) {
    Box b;
    *count = 0;
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x)
            if (p.dot(x, y)) {
                ++*count;
                b = {std::min(b.x0, x), std::min(b.y0, y), std::max(b.x1, x), std::max(b.y1, y)};
            }
    return b;
}

struct PictureCase {
    const char* name;
    Bytes job;
    int height;  // dots of paper
    Box box;     // of the dots printed (x1 = -1: none; x1 = -2: not checked)
    int count;   // dots printed; -1: not checked
    std::vector<std::pair<MarkKind, int>> marks = {};
    std::vector<std::size_t> skipped = {};
    int paper = 576;
};

constexpr Box kNone{INT_MAX, INT_MAX, -1, -1};
constexpr Box kAny{0, 0, -2, -2};

Bytes qr(Bytes data, unsigned char module, unsigned char level) {
    const auto n = static_cast<unsigned char>(data.size() + 3);
    Bytes b = {0x1D, 0x28, 0x6B, 0x04, 0x00, 0x31, 0x41, 0x32, 0x00, 0x1D, 0x28, 0x6B, 0x03, 0x00, 0x31, 0x43, module,
               0x1D, 0x28, 0x6B, 0x03, 0x00, 0x31, 0x45, level, 0x1D, 0x28, 0x6B, n, 0x00, 0x31, 0x50, 0x30};
    const Bytes print = {0x1D, 0x28, 0x6B, 0x03, 0x00, 0x31, 0x51, 0x30};
    b.reserve(b.size() + data.size() + print.size());
    for (const unsigned char c : data) b.push_back(c);
    for (const unsigned char c : print) b.push_back(c);
    return b;
}

// Text sizes and places are checked on reversed cells (GS B 1), whose dots do not depend on the font.
Bytes reversed(const Bytes& job) {
    Bytes out = {0x1D, 0x42, 0x01};
    for (const unsigned char c : job) out.push_back(c);
    return out;
}

const PictureCase kCases[] = {
    {"LF feeds the default line spacing", {0x0A}, 30, kNone, 0},
    {"ESC 3 sets it, ESC d feeds lines", {0x1B, 0x33, 0x18, 0x1B, 0x64, 0x03}, 72, kNone, 0},
    {"ESC J feeds dots", {0x1B, 0x4A, 0x32}, 50, kNone, 0},
    {"GS v 0 prints its bits", {0x1D, 0x76, 0x30, 0x00, 0x01, 0x00, 0x02, 0x00, 0x81, 0x3C}, 2, {0, 0, 7, 1}, 6},
    {"GS v 0 mode 3 doubles both ways", {0x1D, 0x76, 0x30, 0x03, 0x01, 0x00, 0x01, 0x00, 0x80}, 2, {0, 0, 1, 1}, 4},
    {"ESC * 33: 24 dots a column", {0x1B, 0x2A, 0x21, 0x01, 0x00, 0x80, 0x00, 0x01, 0x0A}, 30, {0, 0, 0, 23}, 2},
    {"ESC * 0: a dot is 2 x 3", {0x1B, 0x2A, 0x00, 0x01, 0x00, 0x80, 0x0A}, 30, {0, 0, 1, 2}, 6},
    {"font A cell", reversed({' ', 0x0A}), 30, {0, 0, 11, 23}, 12 * 24},
    {"font B cell", reversed({0x1B, 0x4D, 0x01, ' ', 0x0A}), 30, {0, 0, 8, 16}, 9 * 17},
    {"Chinese cell", reversed({0xD6, 0xD0, 0x0A}), 30, {0, 0, 23, 23}, -1},
    {"GS ! 2 x 2 makes a taller line", reversed({0x1D, 0x21, 0x11, ' ', 0x0A}), 48, {0, 0, 23, 47}, 24 * 48},
    {"ESC ! double height", reversed({0x1B, 0x21, 0x10, ' ', 0x0A}), 48, {0, 0, 11, 47}, 12 * 48},
    {"ESC a 1 centres", reversed({0x1B, 0x61, 0x01, ' ', 0x0A}), 30, {282, 0, 293, 23}, 12 * 24},
    {"ESC a 2 right", reversed({0x1B, 0x61, 0x32, ' ', 0x0A}), 30, {564, 0, 575, 23}, 12 * 24},
    {"58 mm paper", reversed({0x1B, 0x61, 0x02, ' ', 0x0A}), 30, {372, 0, 383, 23}, 12 * 24, {}, {}, 384},
    {"ESC - 1 underlines", {0x1B, 0x2D, 0x01, ' ', 0x0A}, 30, {0, 23, 11, 23}, 12},
    {"ESC - 2 two dots thick", {0x1B, 0x2D, 0x02, ' ', ' ', 0x0A}, 30, {0, 22, 23, 23}, 48},
    {"HT to the 8th column", {0x09, 0x1D, 0x42, 0x01, ' ', 0x0A}, 30, {96, 0, 107, 23}, 12 * 24},
    {"ESC D keeps 32 tab stops", [] {
         Bytes b = {0x1B, 0x44};
         for (unsigned char n = 1; n <= 33; ++n) b.push_back(n);
         b.push_back(0x00);
         b.resize(b.size() + 33, 0x09);
         b.insert(b.end(), {' ', 0x0A});
         return reversed(b);
     }(), 30, {384, 0, 395, 23}, 12 * 24},
    {"ESC $ and ESC \\ go back: characters print over each other",
     reversed({' ', 0x1B, 0x24, 0x00, 0x00, ' ', ' ', 0x1B, 0x5C, 0xE8, 0xFF, ' ', 0x0A}), 30, {0, 0, 23, 23}, 24 * 24},
    {"GS L margin", reversed({0x1D, 0x4C, 0x64, 0x00, ' ', 0x0A}), 30, {100, 0, 111, 23}, 12 * 24},
    {"a full line wraps", reversed(Bytes(49, ' ')), 54, {0, 0, 575, 53}, 49 * 12 * 24},
    {"QR code, module 4, level L: 21 modules", qr({'H', 'E', 'L', 'L', 'O'}, 4, 0x30), 84, {0, 0, 83, 83}, -1},
    {"QR code centred, module 3, level H", [] {
         Bytes b = {0x1B, 0x61, 0x01};
         for (const unsigned char c : qr({'1'}, 3, 0x33)) b.push_back(c);
         return b;
     }(), 63, {256, 0, 318, 62}, -1},
    {"QR code printed again after its level and its data change", [] {
         Bytes b = qr({'H', 'E', 'L', 'L', 'O', ' ', 'W', 'O', 'R', 'L', 'D', '!'}, 1, 0x30);  // 21 modules
         const Bytes print = {0x1D, 0x28, 0x6B, 0x03, 0x00, 0x31, 0x51, 0x30};
         b.insert(b.end(), {0x1D, 0x28, 0x6B, 0x03, 0x00, 0x31, 0x45, 0x33});  // level H: 25
         b.insert(b.end(), print.begin(), print.end());
         b.insert(b.end(), {0x1D, 0x28, 0x6B, 33, 0x00, 0x31, 0x50, 0x30});  // 30 bytes more: 33
         b.resize(b.size() + 30, 'x');
         b.insert(b.end(), print.begin(), print.end());
         return b;
     }(), 21 + 25 + 33, kAny, -1},
    {"EAN-13: 95 modules", {0x1D, 0x68, 0x32, 0x1D, 0x77, 0x02, 0x1D, 0x6B, 0x02, '6', '9', '0', '1', '2', '3', '4', '5',
                            '6', '7', '8', '9', 0x00}, 50, {0, 0, 189, 49}, -1},
    {"CODE128 of code set C: 68 modules", {0x1D, 0x68, 0x28, 0x1D, 0x77, 0x01, 0x1D, 0x6B, 0x49, 0x05, '{', 'C', 12, 34,
                                           56}, 40, {0, 0, 67, 39}, -1},
    {"bar code text below", {0x1D, 0x48, 0x02, 0x1D, 0x68, 0x28, 0x1D, 0x6B, 0x04, 'A', 0x00}, 40 + 4 + 24, kAny, -1},
    {"a bar code wider than the paper is left out", [] {
         Bytes b = {0x1D, 0x77, 0x06, 0x1D, 0x6B, 0x49, 60, '{', 'B'};
         b.resize(b.size() + 58, 'W');
         return b;
     }(), 1, kNone, 0, {}, {3}},
    {"drawer and cuts are marks", reversed({0x1B, 0x70, 0x00, 0x3C, 0x78, ' ', 0x0A, 0x1D, 0x56, 0x42, 0x10, 0x1B, 0x69}),
     46, {0, 0, 11, 23}, 12 * 24, {{MarkKind::Drawer, 0}, {MarkKind::PartialCut, 46}, {MarkKind::FullCut, 46}}},
    {"ESC @ drops the unprinted line", {'A', 0x1B, 0x40, 0x0A}, 30, kNone, 0},
    {"commands not drawn are listed", {0x1B, 0x7B, 0x01, 0x1D, 0x28, 0x4C, 0x01, 0x00, 0x30, 0x1C, 0x21, 0x04, 0x0A}, 30,
     kNone, 0, {}, {0, 3, 9}},
};

TEST(ReceiptPicture, CommandsPrintTheirDots) {
    for (const PictureCase& c : kCases) {
        const ReceiptPicture p = renderReceipt(jobText(c.job), c.paper);
        EXPECT_EQ(p.width, c.paper) << c.name;
        EXPECT_EQ(p.height, c.height) << c.name;
        int count = 0;
        const Box box = inkBox(p, &count);
        if (c.box.x1 != -2) {
            EXPECT_EQ(box, c.box) << c.name;
        }
        if (c.count >= 0) {
            EXPECT_EQ(count, c.count) << c.name;
        }
        std::vector<std::pair<MarkKind, int>> marks;
        for (const ReceiptMark& m : p.marks) marks.emplace_back(m.kind, m.y);
        EXPECT_EQ(marks, c.marks) << c.name;
        EXPECT_EQ(p.skipped, c.skipped) << c.name;
    }
}

TEST(ReceiptPicture, BoldPrintsMoreAndSymbolsFillTheirSize) {
    int plain = 0, bold = 0;
    inkBox(renderReceipt("I\n", 576), &plain);
    inkBox(renderReceipt("\x1B\x45\x01I\n", 576), &bold);
    EXPECT_GT(bold, plain);
    // The three finder patterns of a QR code reach its corners; the fourth corner is data.
    const ReceiptPicture q = renderReceipt(jobText(qr({'H', 'E', 'L', 'L', 'O'}, 4, 0x30)), 576);
    for (const auto& [x, y] : std::vector<std::pair<int, int>>{{0, 0}, {83, 0}, {0, 83}, {27, 27}, {56, 27}})
        EXPECT_TRUE(q.dot(x, y)) << x << "," << y;
    EXPECT_FALSE(q.dot(4, 4));  // the white ring inside a finder pattern
}

// Whatever a job holds, the picture ends at a bound, at the command that would pass it.
TEST(ReceiptPicture, StopsAtItsBounds) {
    const auto times = [](int n, std::string_view s) {
        std::string out;
        for (int i = 0; i < n; ++i) out += s;
        return out;
    };
    const struct {
        const char* name;
        std::string job;
        std::size_t at;
        int height;
    } cases[] = {
        {"paper: 3 feeds of 255 lines", times(400, "\x1B\x64\xFF"), 9, kMaxPaperDots},
        {"marks", times(int(kMaxMarks) + 5, "\x1B\x69"), 2 * kMaxMarks, 1},
        {"commands not drawn", times(int(kMaxSkipped) + 5, "\x1B\x3C"), 2 * kMaxSkipped, 1},
    };
    for (const auto& c : cases) {
        const ReceiptPicture p = renderReceipt(c.job, 576);
        ASSERT_TRUE(p.cutShort) << c.name;
        EXPECT_EQ(p.cutShort->at, c.at) << c.name;
        EXPECT_EQ(p.height, c.height) << c.name;
    }
}

TEST(ReceiptPicture, PngHasThePaperAndTheStrip) {
    const std::string png = receiptPng(renderReceipt("A\n", 576));
    ASSERT_GT(png.size(), 24u);
    EXPECT_EQ(png.substr(1, 3), "PNG");
    const auto be32 = [&](std::size_t at) {
        return static_cast<unsigned char>(png[at]) << 24 | static_cast<unsigned char>(png[at + 1]) << 16 |
               static_cast<unsigned char>(png[at + 2]) << 8 | static_cast<unsigned char>(png[at + 3]);
    };
    EXPECT_EQ(be32(16), 640 + 200);  // 80 mm of paper, then the strip of marks
    EXPECT_EQ(be32(20), 16 + 30 + 16);
}

}  // namespace
