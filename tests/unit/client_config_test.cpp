// The start page address from config.ini, with the keys and defaults of the client.
#include <gtest/gtest.h>

#include "client/config.h"

namespace tovi::client {
namespace {

struct UrlCase {
    const char* name;
    std::string ini;
    std::string url;  // "" + default marker below
    bool isDefault;
};

class StartUrl : public ::testing::TestWithParam<UrlCase> {};

TEST_P(StartUrl, IsTheBaseUrlOrTheDefault) {
    const std::string got = startUrl(IniFile::parse(GetParam().ini));
    EXPECT_EQ(got, GetParam().isDefault ? defaultStartUrl() : GetParam().url);
}

INSTANTIATE_TEST_SUITE_P(
    Table, StartUrl,
    ::testing::Values(UrlCase{"Given", "[base]\nurl=https://shop/pos2.html\n", "https://shop/pos2.html", false},
                      UrlCase{"NoBaseSection", "url=https://x/\n[other]\nurl=https://y/\n", "", true},
                      UrlCase{"EmptyValueIsKept", "[base]\nurl=\n", "", false},
                      UrlCase{"UnquotedHashEnds", "[base]\nurl=pos2.html#top\n", "pos2.html", false},
                      UrlCase{"QuotedHashKept", "[base]\nurl=\"pos2.html#top\"\n", "pos2.html#top", false},
                      UrlCase{"BlanksAroundColon", "[base]\nurl : https://a/b\n", "https://a/b", false},
                      UrlCase{"OtherCaseNotFound", "[Base]\nURL=https://a/\n[base]\nUrl=x\n", "", true}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(StartUrlDefault, IsHttpsOnTheMakersHostWithThePosPage) {
    const std::string url = defaultStartUrl();
    EXPECT_EQ(url.rfind("https://", 0), 0u);
    EXPECT_EQ(url.substr(url.size() - 18), "/tovimis/pos2.html");
    EXPECT_GT(url.size(), std::string("https:///tovimis/pos2.html").size());
}

}  // namespace
}  // namespace tovi::client
