// The start page address from config.ini, with the keys and defaults of the client.
#include <gtest/gtest.h>

#include "client/config.h"
#include "client/origins.h"

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

// trustedOrigins entries and start addresses, as browsers write their origins: an entry that is
// no origin says why (error, origin empty); an address without one has "".
TEST(Origins, EntriesAndAddresses) {
    struct Case {
        std::string text, entry, address;  // entry: parseOrigin's origin or "error"; originOfAddress
    } cases[] = {
        {"HTTPS://Shop.EXAMPLE:443", "https://shop.example", "https://shop.example"},
        {"http://127.0.0.1:080", "http://127.0.0.1", "http://127.0.0.1"},
        {"https://shop.example:80", "https://shop.example:80", "https://shop.example:80"},
        {"http://[FD00::50]:8080", "http://[fd00::50]:8080", "http://[fd00::50]:8080"},
        {"https://user:pw@shop.example\\pos2.html?x#y", "error", "https://shop.example"},
        {"https://shop.example/", "error", "https://shop.example"},
        {"FILE://", "file://", "file://"},
        {"file:///opt/tovipos/pos.html", "error", "file://"},
        {"C:\\tovipos\\page.txt", "error", "file://"},
    };
    for (const auto& c : cases) {
        const ParsedOrigin p = parseOrigin(c.text);
        EXPECT_EQ(p.error.empty() ? p.origin : "error", c.entry) << c.text;
        EXPECT_EQ(originOfAddress(c.text), c.address) << c.text;
    }
    // Neither an entry nor an address with an origin.
    for (const char* none : {"", "null", "about:blank", "data:text/html,<p>", "ws://a", "https:a", "https://",
                             "https://:443", "https://a:65536", "https://a:99999999999999999999", "https://a:8x", "https://a:0",
                             "https://a%2eb", "https://收银.example", "https://a b", "http://[::1", "http://[::1]x",
                             "http://[]", "http://[g::1]", "1http://a"}) {
        EXPECT_FALSE(parseOrigin(none).error.empty()) << none;
        EXPECT_EQ(originOfAddress(none), "") << none;
    }
}

TEST(Origins, TheStartAddressesAndTheListedOnesOnceEachAndEveryIgnoredEntryNamed) {
    const TrustedOrigins t = trustedOrigins("https://shop.example/pos2.html",
                                            " https://pay.example\thttps://SHOP.example  https://pay.example/ null");
    EXPECT_EQ(t.origins, (std::vector<std::string>{"https://shop.example", "https://pay.example"}));
    ASSERT_EQ(t.problems.size(), 2u);  // the whole text: the Wine test of the client
    EXPECT_EQ(t.problems[1], "config.ini [base] trustedOrigins: \"null\" ignored: not written scheme://host[:port]");
}

}  // namespace
}  // namespace tovi::client
