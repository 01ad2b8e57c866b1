// The INI reader and writer: lines and values as tables, rewrites that keep every other entry and
// the file's layout, and values that survive a write and a read unchanged.
#include <gtest/gtest.h>

#include "common/error.h"
#include "common/ini.h"

namespace tovi {
namespace {

using Entries = std::vector<IniFile::Entry>;

std::string describe(const Entries& entries) {
    std::string out;
    for (const auto& e : entries) out += "[" + e.section + "] <" + e.key + "> = <" + e.value + ">\n";
    return out;
}

struct ParseCase {
    const char* name;
    std::string text;
    Entries expected;
};

class IniParse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(IniParse, GivesTheEntries) {
    const IniFile ini = IniFile::parse(GetParam().text);
    EXPECT_EQ(describe(ini.entries()), describe(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(
    Lines, IniParse,
    ::testing::Values(
        ParseCase{"Empty", "", {}},
        ParseCase{"OnlyCommentsAndBlanks", "# a=1\n; b=2\n   \n\t# c=3\n", {}},
        ParseCase{"UnnamedSectionBeforeTheFirstHeader", "a=1\n[base]\nb=2\n", {{"", "a", "1"}, {"base", "b", "2"}}},
        ParseCase{"HeaderNameTrimmedAndCommentAfter", "[ base ] ; note\nurl=x\n", {{"base", "url", "x"}}},
        ParseCase{"ColonSeparator", "[base]\nurl : x\n", {{"base", "url", "x"}}},
        ParseCase{"FirstSeparatorWins", "a:b=c\nd=e:f\n", {{"", "a", "b=c"}, {"", "d", "e:f"}}},
        ParseCase{"BlanksAndTabsAroundSeparator", "  \tkey \t=\t value  \n", {{"", "key", "value"}}},
        ParseCase{"LineWithoutSeparatorIgnored", "garbage\n[unclosed\na=1\n", {{"", "a", "1"}}},
        ParseCase{"KeysKeepCaseAndDashes", "URL=1\n--k=2\n", {{"", "URL", "1"}, {"", "--k", "2"}}},
        ParseCase{"SecondHeaderOfTheSameName", "[a]\nk=1\n[b]\nk=2\n[a]\nk=3\n",
                  {{"a", "k", "1"}, {"b", "k", "2"}, {"a", "k", "3"}}}),
    [](const auto& p) { return std::string(p.param.name); });

INSTANTIATE_TEST_SUITE_P(
    LineBreaks, IniParse,
    ::testing::Values(ParseCase{"Lf", "a=1\nb=2\n", {{"", "a", "1"}, {"", "b", "2"}}},
                      ParseCase{"CrLf", "a=1\r\nb=2\r\n", {{"", "a", "1"}, {"", "b", "2"}}},
                      ParseCase{"Cr", "a=1\rb=2\r", {{"", "a", "1"}, {"", "b", "2"}}},
                      ParseCase{"Mixed", "a=1\rb=2\r\nc=3\nd=4", {{"", "a", "1"}, {"", "b", "2"}, {"", "c", "3"}, {"", "d", "4"}}},
                      ParseCase{"BlankLinesOfEveryKind", "\r\n\r\n\n\ra=1", {{"", "a", "1"}}}),
    [](const auto& p) { return std::string(p.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Values, IniParse,
    ::testing::Values(
        ParseCase{"UnquotedEndsAtHash", "url=pos2.html#top\n", {{"", "url", "pos2.html"}}},
        ParseCase{"UnquotedEndsAtSemicolon", "url=a;b\n", {{"", "url", "a"}}},
        ParseCase{"UnquotedKeepsBackslashes", "p=C:\\new\\x\n", {{"", "p", "C:\\new\\x"}}},
        ParseCase{"EmptyValue", "url=\n", {{"", "url", ""}}},
        ParseCase{"OnlyAComment", "url=   # nothing\n", {{"", "url", ""}}},
        ParseCase{"QuotedKeepsHash", "url=\"pos2.html#top\"\n", {{"", "url", "pos2.html#top"}}},
        ParseCase{"QuotedEscapes", "v=\"a\\\"b\\\\c\\n\"\n", {{"", "v", "a\"b\\c\\n"}}},
        ParseCase{"QuotedThenComment", "v=\"a b \" ; c\n", {{"", "v", "a b "}}},
        ParseCase{"QuotedUnclosedRunsToLineEnd", "v=\"abc\nw=1\n", {{"", "v", "abc"}, {"", "w", "1"}}},
        ParseCase{"RawNoEscapes", "v=r\"C:\\dir\\\" ; c\n", {{"", "v", "C:\\dir\\"}}},
        ParseCase{"RawCapitalR", "v=R\"a b\"\n", {{"", "v", "a b"}}},
        ParseCase{"RawEndsAtHash", "v=r\"a#b\"\n", {{"", "v", "a"}}},
        ParseCase{"TripleAcrossLines", "v=\"\"\"line1\nline2\"\"\"\nw=2\n", {{"", "v", "line1\nline2"}, {"", "w", "2"}}},
        ParseCase{"TripleKeepsCrLfAndHash", "v=\"\"\"a#;\r\nb\"\"\"\r\n", {{"", "v", "a#;\r\nb"}}},
        ParseCase{"TripleOnOneLine", "v=\"\"\"x\"\"\" ; c\n", {{"", "v", "x"}}},
        ParseCase{"TripleHidesLinesThatLookLikeEntries", "v=\"\"\"\n[x]\nk=1\n\"\"\"\nk=2\n",
                  {{"", "v", "\n[x]\nk=1\n"}, {"", "k", "2"}}},
        ParseCase{"ChineseValue", "[base]\nname=收银台\n", {{"base", "name", "收银台"}}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(IniFind, TakesTheLastOfARepeatedKeyAndMatchesExactly) {
    const IniFile ini = IniFile::parse("[base]\nurl=1\nurl=2\n[Base]\nurl=3\n[other]\nurl=4\n");
    EXPECT_EQ(ini.find("base", "url"), "2");
    EXPECT_EQ(ini.find("Base", "url"), "3");
    EXPECT_EQ(ini.find("base", "URL"), std::nullopt);
    EXPECT_EQ(ini.find("", "url"), std::nullopt);
    EXPECT_EQ(ini.get("base", "version", "dflt"), "dflt");
    EXPECT_EQ(ini.get("base", "url", "dflt"), "2");
}

TEST(IniLoad, AMissingFileIsAnIoErrorNamingIt) {
    try {
        IniFile::load("/nonexistent-folder-for-tests/config.ini");
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), "cannot open: /nonexistent-folder-for-tests/config.ini");
        EXPECT_EQ(e.kind(), "IOError");
    }
}

// set(): the text after the change, exactly.
struct SetCase {
    const char* name;
    std::string before;
    std::string section;
    std::string key;
    std::string value;
    std::string after;
};

class IniSet : public ::testing::TestWithParam<SetCase> {};

TEST_P(IniSet, RewritesOnlyTheEntryItChanges) {
    const SetCase& c = GetParam();
    IniFile ini = IniFile::parse(c.before);
    const Entries old = ini.entries();
    ini.set(c.section, c.key, c.value);
    EXPECT_EQ(ini.text(), c.after);
    EXPECT_EQ(ini.find(c.section, c.key), c.value);
    // Read back from the text: every other entry as before, in order.
    const IniFile again = IniFile::parse(ini.text());
    // Only the last entry of a repeated key changes: that is the one lookups find.
    Entries expected = old;
    bool replaced = false;
    for (std::size_t i = expected.size(); i-- > 0;) {
        if (expected[i].section == c.section && expected[i].key == c.key) {
            expected[i].value = c.value;
            replaced = true;
            break;
        }
    }
    if (replaced) {
        EXPECT_EQ(describe(again.entries()), describe(expected));
    }
    EXPECT_EQ(again.entries().size(), old.size() + (replaced ? 0 : 1));
}

INSTANTIATE_TEST_SUITE_P(
    Table, IniSet,
    ::testing::Values(
        SetCase{"ChangeKeepsCommentsAndLayout", "# head\n[base]\nurl = x ; c\nversion=1\n\n[other]\nversion=9\n",
                "base", "version", "2", "# head\n[base]\nurl = x ; c\nversion=2\n\n[other]\nversion=9\n"},
        SetCase{"AddAfterTheSectionsLastEntry", "[base]\nurl=x\n; note\n[other]\nk=v\n", "base", "version", "2",
                "[base]\nurl=x\nversion=2\n; note\n[other]\nk=v\n"},
        SetCase{"AddToAnEmptySection", "[base]\n[other]\nk=v\n", "base", "version", "2",
                "[base]\nversion=2\n[other]\nk=v\n"},
        SetCase{"AddTheSectionAtTheEnd", "[other]\nk=v\n", "base", "version", "1.2", "[other]\nk=v\n[base]\nversion=1.2\n"},
        SetCase{"KeepsCrLf", "[base]\r\nurl=x\r\n", "base", "version", "2", "[base]\r\nurl=x\r\nversion=2\r\n"},
        SetCase{"KeepsCr", "[base]\rurl=x\r", "base", "version", "2", "[base]\rurl=x\rversion=2\r"},
        SetCase{"LastLineWithoutBreak", "[base]\nurl=x", "base", "version", "2", "[base]\nurl=x\nversion=2\n"},
        SetCase{"HeaderOnLastLine", "[base]", "base", "version", "2", "[base]\r\nversion=2\r\n"},
        SetCase{"EmptyFile", "", "base", "version", "2", "[base]\r\nversion=2\r\n"},
        SetCase{"ReplacesTheLastOfARepeatedKey", "[base]\nversion=1\nversion=2\n", "base", "version", "3",
                "[base]\nversion=1\nversion=3\n"},
        SetCase{"ReplacesATripleQuotedValueWhole", "[base]\nversion=\"\"\"a\nb\"\"\"\nurl=x\n", "base", "version", "2",
                "[base]\nversion=2\nurl=x\n"},
        SetCase{"QuotesWhatNeedsIt", "[base]\nversion=1\n", "base", "version", "a#b", "[base]\nversion=\"a#b\"\n"},
        SetCase{"MultiLineGoesInTripleQuotes", "[base]\nversion=1\n", "base", "version", "a\nb",
                "[base]\nversion=\"\"\"a\nb\"\"\"\n"},
        // A file that ends inside an open """ value: closed first, or the new entry would be part of it.
        SetCase{"ClosesAnOpenTripleQuoteBeforeAdding", "[base]\nnote=\"\"\"open\nstill", "base", "serial", "7",
                "[base]\nnote=\"\"\"open\nstill\"\"\"\nserial=7\n"},
        SetCase{"ClosesAnEmptyOpenTripleQuote", "[base]\nnote=\"\"\"", "base", "serial", "7",
                "[base]\nnote=\"\"\"\"\"\"\nserial=7\n"},
        SetCase{"ClosesAnOpenTripleQuoteBeforeANewSection", "[other]\nk=\"\"\"x\n", "base", "version", "2",
                "[other]\nk=\"\"\"x\n\"\"\"\n[base]\nversion=2\n"}),
    [](const auto& p) { return std::string(p.param.name); });

// Values that a write and a read give back unchanged, next to other entries that stay as they were.
class IniRoundTrip : public ::testing::TestWithParam<std::string> {};

TEST_P(IniRoundTrip, KeepsTheValueAndEveryOtherEntry) {
    const std::string& value = GetParam();
    const std::string before = "; settings\n[base]\nurl=\"https://h/p#x\"\nversion=old\nupdateUrl=r\"C:\\u\"\n[x]\nk=1\n";
    IniFile ini = IniFile::parse(before);
    ini.set("base", "version", value);
    const IniFile again = IniFile::parse(ini.text());
    const Entries expected = {
        {"base", "url", "https://h/p#x"}, {"base", "version", value}, {"base", "updateUrl", "C:\\u"}, {"x", "k", "1"}};
    EXPECT_EQ(describe(again.entries()), describe(expected));

    const IniFile line = IniFile::parse(IniFile::formatEntry("k", value));
    ASSERT_EQ(line.entries().size(), 1u);
    EXPECT_EQ(line.entries()[0].value, value);
}

INSTANTIATE_TEST_SUITE_P(Values, IniRoundTrip,
                         ::testing::Values("", "1.0.3", "a#b", "a;b", "a\"b", "back\\slash", "ends\\", " lead",
                                           "trail ", "\tTab", "r\"raw\"", "R\"x", "\"quoted\"", "\"\"\"", "收银台 2.0",
                                           "two\nlines", "cr\rlf\r\n", "\"first\nline", "x\n\"\"y", "#\n;", " \n "));

struct RejectCase {
    const char* name;
    std::string value;
    std::string key = "version";
    std::string section = "base";
    std::string before = "[base]\nversion=1\n";
};

class IniReject : public ::testing::TestWithParam<RejectCase> {};

TEST_P(IniReject, WhatTheSyntaxCannotHoldIsAValueErrorAndChangesNothing) {
    const RejectCase& c = GetParam();
    IniFile ini = IniFile::parse(c.before);
    try {
        ini.set(c.section, c.key, c.value);
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(e.kind(), "ValueError");
    }
    EXPECT_EQ(ini.text(), c.before);
    EXPECT_EQ(describe(ini.entries()), describe(IniFile::parse(c.before).entries()));
}

INSTANTIATE_TEST_SUITE_P(
    Table, IniReject,
    ::testing::Values(RejectCase{"TripleQuotesInAMultiLineValue", "a\n\"\"\"b"},
                      RejectCase{"MultiLineEndingInAQuote", "a\nb\""},
                      // closing quotes would take the value's own last quote
                      RejectCase{"NewKeyAfterAnOpenTripleQuoteEndingInAQuote", "2", "serial", "base", "[base]\nnote=\"\"\"x\""},
                      RejectCase{"KeyWithASeparator", "1", "a=b"}, RejectCase{"KeyWithAColon", "1", "a:b"},
                      RejectCase{"KeyThatReadsAsAHeader", "1", "[x]"}, RejectCase{"KeyThatReadsAsAComment", "1", ";x"},
                      RejectCase{"KeyWithABlankAround", "1", " x"}, RejectCase{"EmptyKey", "1", ""},
                      RejectCase{"KeyOnTwoLines", "1", "a\nb"}, RejectCase{"SectionWithABracket", "1", "k", "a]b"},
                      RejectCase{"SectionWithABlankAround", "1", "k", "base "}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace tovi
