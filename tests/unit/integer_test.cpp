#include "common/integer.h"

#include <gtest/gtest.h>

#include "common/error.h"

namespace {

struct IntCase {
    const char* text;
    std::optional<std::int32_t> expected;
};

class ParseInt32Test : public ::testing::TestWithParam<IntCase> {};

TEST_P(ParseInt32Test, AcceptsOnlyWholeDecimalNumbers) {
    const auto& c = GetParam();
    EXPECT_EQ(tovi::tryParseInt32(c.text), c.expected) << '"' << c.text << '"';
    if (c.expected) {
        EXPECT_EQ(tovi::parseInt32(c.text), *c.expected);
    } else {
        try {
            tovi::parseInt32(c.text);
            ADD_FAILURE() << "no error for \"" << c.text << '"';
        } catch (const tovi::Error& e) {
            EXPECT_EQ(e.kind(), "ValueError");
            EXPECT_NE(std::string(e.what()).find(c.text), std::string::npos) << e.what();
        }
    }
}

const IntCase kIntCases[] = {
    {"0", 0},
    {"3", 3},
    {"+7", 7},
    {"-3", -3},
    {"007", 7},
    {"2400", 2400},
    {"1_000", 1000},
    {"1_0_0", 100},
    {"2147483647", 2147483647},
    {"-2147483648", INT32_MIN},
    {"+2147483647", 2147483647},
    {"2147483648", std::nullopt},
    {"-2147483649", std::nullopt},
    {"99999999999999999999", std::nullopt},
    {"", std::nullopt},
    {"+", std::nullopt},
    {"-", std::nullopt},
    {"_1", std::nullopt},
    {"1__0", std::nullopt},
    {"+_1", std::nullopt},
    {"1_", 1},
    {" 1", std::nullopt},
    {"1 ", std::nullopt},
    {"--1", std::nullopt},
    {"1.5", std::nullopt},
    {"abc", std::nullopt},
    {"X", std::nullopt},
    {"0x10", std::nullopt},
    {"١", std::nullopt},  // an Arabic-Indic digit is no decimal digit here
};

INSTANTIATE_TEST_SUITE_P(Table, ParseInt32Test, ::testing::ValuesIn(kIntCases));

}  // namespace
