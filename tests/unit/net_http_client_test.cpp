// The request and redirect logic of the HTTP client over canned connections.
#include <gtest/gtest.h>

#include <map>

#include "net/http_client.h"
#include "common/error.h"

using namespace tovi::updater;

namespace {

// Answers each URL with a canned response, handed out in pieces of 3 bytes; records requests.
class CannedConnector : public Connector {
public:
    std::map<std::string, std::string> answers;  // "https://h/x" -> response text
    std::vector<std::string> requests;           // request texts, in order
    std::vector<std::string> opened;             // URLs opened

    std::unique_ptr<Stream> open(const Url& url) override {
        opened.push_back(url.text());
        const auto it = answers.find(url.text());
        if (it == answers.end()) throw tovi::ioError("cannot connect to " + url.host);
        return std::make_unique<Canned>(it->second, requests);
    }

private:
    class Canned : public Stream {
    public:
        Canned(std::string text, std::vector<std::string>& log) : text_(std::move(text)), log_(log) {}
        std::size_t read(char* buf, std::size_t size) override {
            const std::size_t n = std::min({size, text_.size() - at_, std::size_t{3}});
            text_.copy(buf, n, at_);
            at_ += n;
            return n;
        }
        void writeAll(std::string_view data) override { log_.emplace_back(data); }

    private:
        std::string text_;
        std::size_t at_ = 0;
        std::vector<std::string>& log_;
    };
};

std::string ok(const std::string& body) { return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body; }
std::string redirect(int code, const std::string& to) { return "HTTP/1.1 " + std::to_string(code) + " Moved\r\nLocation: " + to + "\r\nContent-Length: 3\r\n\r\nxyz"; }

std::string messageOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const tovi::Error& e) {
        return e.what();
    }
    return "";
}

}  // namespace

TEST(UpdaterHttpClient, SendsOneGetWithHostAndUserAgent) {
    CannedConnector c;
    c.answers["https://h:8443/u/a%20b.txt"] = ok("x");
    HttpClient http(c);
    std::string body;
    const Response r = http.get("https://h:8443/u/a%20b.txt", [&](std::string_view b) { body.append(b); });
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(body, "x");
    ASSERT_EQ(c.requests.size(), 1u);
    EXPECT_EQ(c.requests[0],
              "GET /u/a%20b.txt HTTP/1.1\r\nHost: h:8443\r\nUser-Agent: tovipos/1.0.0.0\r\nAccept: */*\r\nConnection: close\r\n\r\n");
}

TEST(UpdaterHttpClient, FollowsRedirects) {
    struct Case {
        const char* name;
        std::map<std::string, std::string> answers;
        std::string error;  // empty: body "done" expected
        std::size_t opens;
    };
    const Case cases[] = {
        {"relative chain", {{"https://h/u/f", redirect(301, "g")}, {"https://h/u/g", redirect(302, "../v/x")}, {"https://h/v/x", ok("done")}}, "", 3},
        {"absolute to another host", {{"https://h/u/f", redirect(307, "https://cdn:444/x")}, {"https://cdn:444/x", ok("done")}}, "", 2},
        {"all five kinds", {{"https://h/u/f", redirect(301, "/1")}, {"https://h/1", redirect(302, "/2")}, {"https://h/2", redirect(303, "/3")},
                            {"https://h/3", redirect(307, "/4")}, {"https://h/4", redirect(308, "/5")}, {"https://h/5", ok("done")}}, "", 6},
        {"six is one too many", {{"https://h/u/f", redirect(301, "/1")}, {"https://h/1", redirect(301, "/2")}, {"https://h/2", redirect(301, "/3")},
                                 {"https://h/3", redirect(301, "/4")}, {"https://h/4", redirect(301, "/5")}, {"https://h/5", redirect(301, "/6")},
                                 {"https://h/6", ok("done")}}, "too many redirects (more than 5) from https://h/u/f", 6},
        {"https to http", {{"https://h/u/f", redirect(302, "http://h/f")}, {"http://h/f", ok("done")}}, "redirect from https to http refused: http://h/f", 1},
        {"to another scheme", {{"https://h/u/f", redirect(302, "ftp://h/f")}}, "invalid URL: ftp://h/f", 1},
        {"redirect without location", {{"https://h/u/f", "HTTP/1.1 302 Found\r\nContent-Length: 0\r\n\r\n"}}, "302 Found", 1},
        {"not modified", {{"https://h/u/f", "HTTP/1.1 304 Not Modified\r\n\r\n"}}, "304 Not Modified", 1},
        {"error after a redirect", {{"https://h/u/f", redirect(301, "/x")}, {"https://h/x", "HTTP/1.1 404 Not Found\r\nContent-Length: 4\r\n\r\nnope"}}, "404 Not Found", 2},
        {"cut response", {{"https://h/u/f", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\ndone"}}, "connection closed before the end of the response", 1},
        {"empty answer", {{"https://h/u/f", ""}}, "connection closed without a response", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CannedConnector conn;
        conn.answers = c.answers;
        HttpClient http(conn);
        std::string body;
        const std::string error = messageOf([&] { http.get("https://h/u/f", [&](std::string_view b) { body.append(b); }); });
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(conn.opened.size(), c.opens);
        if (c.error.empty()) {
            EXPECT_EQ(body, "done");
        } else if (c.error != "connection closed before the end of the response") {
            EXPECT_EQ(body, "");  // no body of a failed or redirecting response reaches the sink
        }
    }
}

TEST(UpdaterHttpClient, HttpMayRedirectToHttps) {
    CannedConnector c;
    c.answers["http://h/a"] = redirect(301, "https://h/a");
    c.answers["https://h/a"] = ok("secure");
    HttpClient http(c);
    std::string body;
    const Response r = http.get("http://h/a", [&](std::string_view b) { body.append(b); });
    EXPECT_EQ(r.url, "https://h/a");
    EXPECT_EQ(body, "secure");
}

TEST(UpdaterHttpClient, StatusText) {
    EXPECT_EQ(statusText(404, "Not Found"), "404 Not Found");
    EXPECT_EQ(statusText(500, ""), "500");
}
