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

// trustedOrigins entries and start addresses, as their origins are written by browsers; an
// entry that is no origin says why (origin empty), an address without one has "".
TEST(Origins, EntriesAndAddresses) {
    struct Case {
        std::string text;
        std::string entry;    // parseOrigin's origin, or "error"
        std::string address;  // originOfAddress
    } cases[] = {
        {"https://shop.example", "https://shop.example", "https://shop.example"},
        {"HTTPS://Shop.EXAMPLE:443", "https://shop.example", "https://shop.example"},
        {"http://127.0.0.1:080", "http://127.0.0.1", "http://127.0.0.1"},
        {"http://127.0.0.1:8080", "http://127.0.0.1:8080", "http://127.0.0.1:8080"},
        {"https://shop.example:80", "https://shop.example:80", "https://shop.example:80"},
        {"http://[::1]:8080", "http://[::1]:8080", "http://[::1]:8080"},
        {"http://[FD00::50]", "http://[fd00::50]", "http://[fd00::50]"},
        {"http://a:", "http://a", "http://a"},
        {"https://shop.example/tovimis/pos2.html?x#y", "error", "https://shop.example"},
        {"https://shop.example\\pos2.html", "error", "https://shop.example"},
        {"https://shop.example/", "error", "https://shop.example"},
        {"https://user:pw@shop.example/", "error", "https://shop.example"},
        {"file://", "file://", "file://"},
        {"FILE://", "file://", "file://"},
        {"file:///opt/tovipos/pos.html", "error", "file://"},
        {"C:\\tovipos\\page.txt", "error", "file://"},
        {"", "error", ""},
        {"null", "error", ""},
        {"about:blank", "error", ""},
        {"data:text/html,<p>", "error", ""},
        {"ws://shop.example", "error", ""},
        {"https:shop.example", "error", ""},
        {"https://", "error", ""},
        {"https://:443", "error", ""},
        {"https://shop.example:65536", "error", ""},
        {"https://shop.example:99999999999999999999", "error", ""},
        {"https://shop.example:8a", "error", ""},
        {"https://shop%2eexample", "error", ""},
        {"https://收银.example", "error", ""},
        {"https://a b", "error", ""},
        {"http://[::1", "error", ""},
        {"http://[::1]x", "error", ""},
        {"http://[]", "error", ""},
        {"http://[g::1]", "error", ""},
        {"1http://a", "error", ""},
    };
    for (const auto& c : cases) {
        const ParsedOrigin p = parseOrigin(c.text);
        EXPECT_EQ(p.error.empty() ? p.origin : "error", c.entry) << c.text;
        EXPECT_NE(p.origin.empty(), p.error.empty()) << c.text;
        EXPECT_EQ(originOfAddress(c.text), c.address) << c.text;
    }
}

TEST(Origins, TheStartAddressesAndTheListedOnesOnceEachAndEveryIgnoredEntryNamed) {
    const TrustedOrigins t =
        trustedOrigins("https://shop.example/tovimis/pos2.html", " https://pay.example\thttps://SHOP.example  "
                                                                 "https://pay.example/ null http://[::1]:81");
    EXPECT_EQ(t.origins, (std::vector<std::string>{"https://shop.example", "https://pay.example", "http://[::1]:81"}));
    EXPECT_EQ(t.problems,
              (std::vector<std::string>{
                  "config.ini [base] trustedOrigins: \"https://pay.example/\" ignored: an origin has no path, query or "
                  "fragment: write scheme://host[:port]",
                  "config.ini [base] trustedOrigins: \"null\" ignored: not written scheme://host[:port]"}));
    EXPECT_EQ(trustedOrigins("about:blank", "").origins, std::vector<std::string>{});
    EXPECT_EQ(trustedOriginsList(IniFile::parse("[base]\ntrustedOrigins = https://a https://b ; comment\n")),
              "https://a https://b");
}

}  // namespace
}  // namespace tovi::client
