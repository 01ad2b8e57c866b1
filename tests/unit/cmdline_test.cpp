#include "common/cmdline.h"

#include <gtest/gtest.h>

namespace {

using Args = std::vector<std::string>;

struct SplitCase {
    const char* name;
    std::string line;
    Args expected;
};

class SplitTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitTest, GivesTheArguments) {
    EXPECT_EQ(tovi::splitCommandLine(GetParam().line), GetParam().expected) << GetParam().line;
}

const SplitCase kSplitCases[] = {
    {"empty", "", {}},
    {"only_blanks", " \t\r\n ", {}},
    {"program_only", "tovipos_print.exe", {"tovipos_print.exe"}},
    {"words", "p print PrintOut1.txt USB TRUE TRUE 3", {"p", "print", "PrintOut1.txt", "USB", "TRUE", "TRUE", "3"}},
    {"runs_of_blanks_and_tabs", "p  a\t\tb \t c", {"p", "a", "b", "c"}},
    {"cr_lf_between_arguments_skipped", "p \r\n a\t\nb", {"p", "a", "b"}},
    {"cr_lf_inside_quotes_kept", "p \"a\r\nb\"", {"p", "a\r\nb"}},
    {"lf_inside_argument_kept", "p a\nb", {"p", "a\nb"}},
    {"trailing_cr_lf_kept", "p a\r\n", {"p", "a\r\n"}},
    {"quoted_with_blanks", "p \"my job.txt\" USB", {"p", "my job.txt", "USB"}},
    {"empty_quotes_are_an_argument", "p \"\" x", {"p", "", "x"}},
    {"doubled_quote_inside", "p \"say \"\"hi\"\"\"", {"p", "say \"hi\""}},
    {"quoted_part_then_text_is_two", "p \"ab\"cd", {"p", "ab", "cd"}},
    {"text_then_quoted_part_is_one", "p ab\"c d\"", {"p", "abc d"}},
    {"tab_inside_quotes_kept", "p \"a\tb\"", {"p", "a\tb"}},
    {"backslashes_not_before_quote_kept", "p C:\\dir\\\\x\\", {"p", "C:\\dir\\\\x\\"}},
    {"odd_backslashes_literal_quote", "p a\\\"b", {"p", "a\"b"}},
    {"three_backslashes_quote", "p a\\\\\\\"b", {"p", "a\\\"b"}},
    {"even_backslashes_open_quote", "p a\\\\\"b c\"", {"p", "a\\b c"}},
    {"even_backslashes_close_quote", "p \"a\\\\\"b", {"p", "a\\", "b"}},
    {"unterminated_quote_runs_to_end", "p \"a b", {"p", "a b"}},
    {"utf8_kept", "p \"中文 路径\" 12.50", {"p", "中文 路径", "12.50"}},
};

INSTANTIATE_TEST_SUITE_P(Table, SplitTest, ::testing::ValuesIn(kSplitCases),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(QuoteArgument, RoundTripsThroughSplitting) {
    const Args samples = {
        "plain", "", "with blank", "tab\there", "line\nbreak", "cr\rx", "quote\"inside", "\"", "\"\"",
        "trailing\\", "trailing\\\\", "C:\\Program Files\\tovipos\\", "back\\\"slash", "\\\\\"", "中文 A",
        "a\\\\b c",
    };
    for (const auto& s : samples) {
        const auto split = tovi::splitCommandLine("prog " + tovi::quoteArgument(s));
        ASSERT_EQ(split.size(), 2u) << s;
        EXPECT_EQ(split[1], s);
    }
    EXPECT_EQ(tovi::quoteArgument("PrintOut1.txt"), "PrintOut1.txt");
    const Args all(samples.begin(), samples.end());
    Args withProgram = {"prog"};
    withProgram.insert(withProgram.end(), all.begin(), all.end());
    EXPECT_EQ(tovi::splitCommandLine(tovi::buildCommandLine(withProgram)), withProgram);
}

}  // namespace
