#include "common/text.h"

#include "common/ascii.h"

#include "common/base64.h"

#include <gtest/gtest.h>

namespace {

// RFC 4648's vectors both ways; the decoder's refusals are the raw print request's table.
TEST(Base64, RfcVectorsBothWays) {
    const std::pair<std::string, std::string> cases[] = {
        {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}, {"foobar", "Zm9vYmFy"},
        {std::string("\0\xFF", 2), "AP8="},
    };
    for (const auto& [bytes, text] : cases) {
        EXPECT_EQ(tovi::base64Encode(bytes), text);
        EXPECT_EQ(tovi::base64Decode(text), bytes) << text;
    }
}

TEST(Text, Gb2312OfChineseAndMissingLetters) {
    struct Case {
        std::string utf8;
        std::string gb;
    };
    const Case cases[] = {
        {"中文", "\xD6\xD0\xCE\xC4"},
        {"中文A", "\xD6\xD0\xCE\xC4" "A"},
        {"\xE0\xB8\x81", "?"},  // a Thai letter has no code in 936
        {"中文A\xE0\xB8\x81", "\xD6\xD0\xCE\xC4\x41\x3F"},
        {"", ""},
        {"plain ascii\r\n", "plain ascii\r\n"},
        {"合计:12.50", "\xBA\xCF\xBC\xC6:12.50"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(tovi::utf8ToGb2312(c.utf8), c.gb) << c.utf8;
    }
    EXPECT_EQ(tovi::gb2312ToUtf8("\xD6\xD0\xCE\xC4"), "中文");
}

TEST(Text, Utf16RoundTrip) {
    const std::string samples[] = {"", "A", "系统提示", "é", "\xF0\x9F\x98\x80" /* U+1F600 */};
    for (const auto& s : samples) {
        EXPECT_EQ(tovi::utf16ToUtf8(tovi::utf8ToUtf16(s)), s);
    }
    EXPECT_EQ(tovi::utf8ToUtf16("\xF0\x9F\x98\x80"), (std::u16string{0xD83D, 0xDE00}));
    EXPECT_EQ(tovi::utf8ToUtf16("\xFF"), std::u16string(1, u'\uFFFD'));
}

TEST(Ascii, CaseAndHexTouchOnlyAsciiLettersAndDigits) {
    using namespace tovi::ascii;
    EXPECT_EQ(uppered("lpt1 usb_True"), "LPT1 USB_TRUE");
    EXPECT_EQ(uppered("é中z`{@["), "é中Z`{@[");  // bytes of multi-byte characters are kept
    EXPECT_EQ(lowered("HTTPS://Shop.Example@[AZ]"), "https://shop.example@[az]");
    EXPECT_TRUE(equalsIgnoringCase("PrintOut1.TXT", "printout1.txt"));
    EXPECT_FALSE(equalsIgnoringCase("É", "é"));
    EXPECT_FALSE(equalsIgnoringCase("a", "ab"));
    const std::string bytes("\x00\x7f\x80\xff\xab", 5);
    EXPECT_EQ(hex(bytes), "007f80ffab");
    EXPECT_EQ(hex(bytes, HexCase::Upper), "007F80FFAB");
    EXPECT_EQ(unhex("007F80ffAb"), bytes);
    for (const char* bad : {"0", "0g", "zz", "0 ", "1x"}) EXPECT_EQ(unhex(bad), std::nullopt) << bad;
}

}  // namespace
