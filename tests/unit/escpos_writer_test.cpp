#include "escpos/writer.h"

#include <gtest/gtest.h>

namespace {

using tovi::escpos::buildPrintBuffer;
using tovi::escpos::displayMessage;
using tovi::escpos::splitLines;

std::string bytes(std::initializer_list<int> list) {
    std::string s;
    for (int b : list) s += static_cast<char>(b);
    return s;
}

const std::string kReset = bytes({0x1B, 0x40});
const std::string kPulse = bytes({0x1B, 0x70, 0x30, 0x3C, 0x78});
const std::string kCut = bytes({0x1D, 0x56, 0x42, 0x00});

TEST(SplitLines, EveryKindOfBreak) {
    using V = std::vector<std::string_view>;
    struct Case {
        std::string content;
        V lines;
    };
    const Case cases[] = {
        {"", {""}},
        {"A", {"A"}},
        {"A\n", {"A", ""}},
        {"A\r\nB\r\n", {"A", "B", ""}},
        {"A\rB", {"A", "B"}},
        {"A\n\rB", {"A", "", "B"}},  // LF then a lone CR: two breaks
        {"A\r\rB", {"A", "", "B"}},
        {"\r\n", {"", ""}},
        {"\n\n", {"", "", ""}},
        {"A\r", {"A", ""}},
        {"A\r\n\nB", {"A", "", "B"}},
        {std::string("A\0B", 3), {std::string_view("A\0B", 3)}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(splitLines(c.content), c.lines) << testing::PrintToString(c.content);
    }
}

struct BufferCase {
    const char* name;
    std::string content;
    bool drawer;
    bool cut;
    std::int32_t feed;
    std::string expected;
};

class PrintBufferTest : public ::testing::TestWithParam<BufferCase> {};

TEST_P(PrintBufferTest, Bytes) {
    const auto& c = GetParam();
    EXPECT_EQ(testing::PrintToString(buildPrintBuffer(c.content, c.drawer, c.cut, c.feed)),
              testing::PrintToString(c.expected));
}

const BufferCase kBufferCases[] = {
    {"empty_file", "", false, false, 0, kReset + "\n"},
    {"crlf_lines_feed_and_cut", "A\r\nB\r\n", false, true, 2, kReset + "A\nB\n\n" + "\n\n" + kCut},
    {"drawer_before_first_line", "A", true, false, 0, kReset + kPulse + "A\n"},
    {"everything", "X\nY", true, true, 1, kReset + kPulse + "X\nY\n" + "\n" + kCut},
    {"negative_feed_is_none", "A", false, false, -3, kReset + "A\n"},
    {"minimum_feed_is_none", "A", false, false, INT32_MIN, kReset + "A\n"},
    {"lone_cr_becomes_lf", "A\rB", false, false, 0, kReset + "A\nB\n"},
    {"gb2312_bytes_unchanged", "\xD6\xD0\xCE\xC4\x80\xFF", false, false, 0, kReset + "\xD6\xD0\xCE\xC4\x80\xFF\n"},
    {"nul_bytes_unchanged", std::string("a\0b", 3), false, false, 0, kReset + std::string("a\0b\n", 4)},
    {"feed_five", "", false, false, 5, kReset + "\n" + "\n\n\n\n\n"},
};

INSTANTIATE_TEST_SUITE_P(Table, PrintBufferTest, ::testing::ValuesIn(kBufferCases),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(DrawerBuffer, SevenBytes) {
    EXPECT_EQ(tovi::escpos::drawerBuffer(), bytes({0x1B, 0x40, 0x1B, 0x70, 0x30, 0x3C, 0x78}));
}

TEST(DisplayMessage, ClearOrLabelledAmount) {
    struct Case {
        std::string mode, amount, expected;
    };
    const Case cases[] = {
        {"5", "12.50", "\x0C"},
        {"5", "", "\x0C"},
        {"2", "12.50", bytes({0x1B, 0x73, '2', 0x1B, 0x51, 0x41, '1', '2', '.', '5', '0', 0x0D})},
        {"05", "1", bytes({0x1B, 0x73, '0', '5', 0x1B, 0x51, 0x41, '1', 0x0D})},  // only exactly "5" clears
        {"5 ", "1", bytes({0x1B, 0x73, '5', ' ', 0x1B, 0x51, 0x41, '1', 0x0D})},
        {"", "", bytes({0x1B, 0x73, 0x1B, 0x51, 0x41, 0x0D})},
        {"1", "¥9", "\x1B\x73" "1" "\x1B\x51\x41" "\xC2\xA5" "9\r"},  // UTF-8 bytes passed as they are
    };
    for (const auto& c : cases) {
        EXPECT_EQ(displayMessage(c.mode, c.amount), c.expected) << c.mode << " / " << c.amount;
    }
}

}  // namespace
