#include <gtest/gtest.h>

#include "net/url.h"
#include "common/error.h"

using namespace tovi::updater;

TEST(UpdaterUrl, ParsesTheParts) {
    struct Case {
        const char* text;
        const char* scheme;
        const char* host;
        int port;
        const char* path;
        const char* authority;
    };
    const Case cases[] = {
        {"https://pos.example/tovimis/update/", "https", "pos.example", 443, "/tovimis/update/", "pos.example"},
        {"HTTPS://Pos.Example:8443/a", "https", "Pos.Example", 8443, "/a", "Pos.Example:8443"},
        {"http://h", "http", "h", 80, "/", "h"},
        {"http://h:80/x", "http", "h", 80, "/x", "h"},
        {"https://h:443?q=1", "https", "h", 443, "/?q=1", "h"},
        {"https://user:pw@h/x", "https", "h", 443, "/x", "h"},
        {"https://[::1]:9/x", "https", "::1", 9, "/x", "[::1]:9"},
        {"https://h/a#b c", "https", "h", 443, "/a#b c", "h"},  // "#" belongs to the file name
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const Url u = parseUrl(c.text);
        EXPECT_EQ(u.scheme, c.scheme);
        EXPECT_EQ(u.host, c.host);
        EXPECT_EQ(u.port, c.port);
        EXPECT_EQ(u.path, c.path);
        EXPECT_EQ(u.authority(), c.authority);
    }
}

TEST(UpdaterUrl, RefusesWhatIsNoHttpUrl) {
    for (const char* bad : {"", "list.txt", "ftp://h/x", "https:/h/x", "https://", "https://:443/", "https://h:0/",
                            "https://h:65536/", "https://h:8x/", "https://[::1/", "https://[::1]x/", "https://a b/",
                            "1https://h/"}) {
        SCOPED_TRACE(bad);
        try {
            parseUrl(bad);
            ADD_FAILURE() << "accepted";
        } catch (const tovi::Error& e) {
            EXPECT_EQ(std::string(e.what()), std::string("invalid URL: ") + bad);
            EXPECT_EQ(e.kind(), "ValueError");
        }
    }
}

TEST(UpdaterUrl, RequestTargetEncodesOnlyWhatARequestLineCannotHold) {
    EXPECT_EQ(requestTarget("/tovimis/update/list.txt"), "/tovimis/update/list.txt");
    EXPECT_EQ(requestTarget("/a b/c#d"), "/a%20b/c%23d");
    EXPECT_EQ(requestTarget("/\xE5\xAD\x97.txt"), "/%E5%AD%97.txt");
    EXPECT_EQ(requestTarget("/already%20encoded?x=1&y=2"), "/already%20encoded?x=1&y=2");
    EXPECT_EQ(requestTarget(std::string("/\r\n\x7f\"", 5)), "/%0D%0A%7F%22");
}

TEST(UpdaterUrl, ResolvesLocations) {
    const Url base = parseUrl("https://h:8443/tovimis/update/a/b.dll.txt?v=1");
    struct Case {
        const char* location;
        const char* expected;
    };
    const Case cases[] = {
        {"https://other/x", "https://other/x"},
        {"HTTP://Other:80/x/../y", "http://Other/y"},
        {"//cdn.example/f", "https://cdn.example/f"},
        {"/root/file", "https://h:8443/root/file"},
        {"/a/./b/../c", "https://h:8443/a/c"},
        {"c.dll.txt", "https://h:8443/tovimis/update/a/c.dll.txt"},
        {"../c.txt", "https://h:8443/tovimis/update/c.txt"},
        {"../../../../../../c.txt", "https://h:8443/c.txt"},
        {"./", "https://h:8443/tovimis/update/a/"},
        {"?v=2", "https://h:8443/tovimis/update/a/b.dll.txt?v=2"},
        {"  next.txt#frag ", "https://h:8443/tovimis/update/a/next.txt"},
        {"", "https://h:8443/tovimis/update/a/b.dll.txt?v=1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.location);
        EXPECT_EQ(resolveLocation(base, c.location), c.expected);
    }
    EXPECT_THROW(resolveLocation(base, "ftp://h/x"), tovi::Error);
}

TEST(UpdaterUrl, RemovesDotSegments) {
    const std::pair<const char*, const char*> cases[] = {
        {"/a/b/c/./../../g", "/a/g"}, {"/a/..", "/"}, {"/..", "/"}, {"/a/.", "/a/"}, {"/a//b", "/a//b"},
        {"/a/b/../c?x=/../", "/a/c?x=/../"}, {"/", "/"},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(removeDotSegments(in), out) << in;
}

TEST(UpdaterUrl, KnowsAddressLiterals) {
    for (const char* yes : {"127.0.0.1", "0.0.0.0", "255.255.255.255", "::1", "fe80::1%eth0"}) EXPECT_TRUE(isIpLiteral(yes)) << yes;
    for (const char* no : {"localhost", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1.2.3.04x", "a.b.c.d", "", "1..2.3", "1234.1.1.1"})
        EXPECT_FALSE(isIpLiteral(no)) << no;
}
