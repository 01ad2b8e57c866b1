#include <gtest/gtest.h>

#include <string>

#include "net/http_parser.h"
#include "common/error.h"

using namespace tovi::updater;

namespace {

struct Parsed {
    int status = 0;
    std::string reason;
    std::string body;
    bool complete = false;
    std::string error;
};

// Feeds the text in pieces of `step` bytes (0: all at once), resuming after the head stop, then
// signals the end of the connection when `close` is set.
Parsed parse(const std::string& text, std::size_t step, bool close = true) {
    Parsed p;
    ResponseParser parser;
    try {
        std::size_t at = 0;
        while (at < text.size() && !parser.complete()) {
            const std::size_t n = step == 0 ? text.size() - at : std::min(step, text.size() - at);
            std::string_view piece(text.data() + at, n);
            while (!piece.empty() && !parser.complete()) {
                const std::size_t used = parser.feed(piece, [&](std::string_view b) { p.body.append(b); });
                piece.remove_prefix(used);
                at += used;
                if (used == 0) break;
            }
        }
        if (close) parser.finish();
    } catch (const tovi::Error& e) {
        p.error = e.what();
    }
    p.status = parser.status();
    p.reason = parser.reason();
    p.complete = parser.complete();
    return p;
}

}  // namespace

TEST(UpdaterHttpParser, CompleteResponses) {
    struct Case {
        const char* name;
        std::string text;
        int status;
        const char* reason;
        std::string body;
    };
    const Case cases[] = {
        {"length", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello", 200, "OK", "hello"},
        {"length with trailing bytes", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nhello", 200, "OK", "he"},
        {"zero length", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", 200, "OK", ""},
        {"bare LF lines", "HTTP/1.0 200 Fine\nContent-Length: 3\n\nabc", 200, "Fine", "abc"},
        {"until close", "HTTP/1.0 200 OK\r\nServer: x\r\n\r\nrest of it", 200, "OK", "rest of it"},
        {"chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n1;ext=a\r\n \r\n6\r\nworld!\r\n0\r\n\r\n",
         200, "OK", "hello world!"},
        {"chunked, upper-case hex, trailers", "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, Chunked\r\n\r\nA\r\n0123456789\r\n0\r\nT: 1\r\n\r\n",
         200, "OK", "0123456789"},
        {"chunked wins over length", "HTTP/1.1 200 OK\r\nContent-Length: 99\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nok\r\n0\r\n\r\n", 200,
         "OK", "ok"},
        {"other coding runs to close", "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip\r\n\r\nzzz", 200, "OK", "zzz"},
        {"interim responses skipped", "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 103 Hints\r\nLink: x\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nx",
         200, "OK", "x"},
        {"no reason phrase", "HTTP/1.1 404\r\nContent-Length: 0\r\n\r\n", 404, "", ""},
        {"empty reason phrase", "HTTP/1.1 500 \r\nContent-Length: 0\r\n\r\n", 500, "", ""},
        {"reason with blanks", "HTTP/1.1 404 Not Found Here\r\nContent-Length: 0\r\n\r\n", 404, "Not Found Here", ""},
        {"204 has no body", "HTTP/1.1 204 No Content\r\nContent-Length: 10\r\n\r\n", 204, "No Content", ""},
        {"304 has no body", "HTTP/1.1 304 Not Modified\r\n\r\n", 304, "Not Modified", ""},
        {"equal length list", "HTTP/1.1 200 OK\r\nContent-Length: 2, 2\r\n\r\nab", 200, "OK", "ab"},
        {"folded header", "HTTP/1.1 200 OK\r\nX-A: one\r\n  two\r\nContent-Length: 1\r\n\r\n!", 200, "OK", "!"},
    };
    for (const auto& c : cases) {
        for (std::size_t step : {0, 1, 2, 7}) {
            SCOPED_TRACE(std::string(c.name) + ", step " + std::to_string(step));
            const Parsed p = parse(c.text, step);
            EXPECT_EQ(p.error, "");
            EXPECT_TRUE(p.complete);
            EXPECT_EQ(p.status, c.status);
            EXPECT_EQ(p.reason, c.reason);
            EXPECT_EQ(p.body, c.body);
        }
    }
}

TEST(UpdaterHttpParser, Failures) {
    const std::string big(ResponseParser::kMaxLine + 10, 'a');
    std::string manyHeaders = "HTTP/1.1 200 OK\r\n";
    for (int i = 0; i < 10000; ++i) manyHeaders += "X-" + std::to_string(i) + ": v\r\n";
    struct Case {
        const char* name;
        std::string text;
        const char* error;
    };
    const Case cases[] = {
        {"nothing at all", "", "connection closed without a response"},
        {"not HTTP", "SSH-2.0-OpenSSH\r\n\r\n", "malformed HTTP response: bad status line"},
        {"HTTP/2 text", "HTTP/2 200 OK\r\n\r\n", "malformed HTTP response: bad status line"},
        {"short code", "HTTP/1.1 20 OK\r\n\r\n", "malformed HTTP response: bad status line"},
        {"code with letters", "HTTP/1.1 2x0 OK\r\n\r\n", "malformed HTTP response: bad status line"},
        {"code glued to reason", "HTTP/1.1 200OK\r\n\r\n", "malformed HTTP response: bad status line"},
        {"code below 100", "HTTP/1.1 099 Low\r\n\r\n", "malformed HTTP response: bad status line"},
        {"header without colon", "HTTP/1.1 200 OK\r\nBroken\r\n\r\n", "malformed HTTP response: bad header line"},
        {"header name with blank", "HTTP/1.1 200 OK\r\nBad Name: v\r\n\r\n", "malformed HTTP response: bad header name"},
        {"continuation first", "HTTP/1.1 200 OK\r\n  folded\r\n\r\n", "malformed HTTP response: continuation line without a header"},
        {"bad length", "HTTP/1.1 200 OK\r\nContent-Length: 12a\r\n\r\n", "malformed HTTP response: bad Content-Length"},
        {"negative length", "HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\n", "malformed HTTP response: bad Content-Length"},
        {"huge length", "HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999999\r\n\r\n", "malformed HTTP response: bad Content-Length"},
        {"conflicting lengths", "HTTP/1.1 200 OK\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\nab", "malformed HTTP response: conflicting Content-Length"},
        {"conflicting length list", "HTTP/1.1 200 OK\r\nContent-Length: 1, 2\r\n\r\nab", "malformed HTTP response: conflicting Content-Length"},
        {"bad chunk size", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nxyz\r\n", "malformed HTTP response: bad chunk size"},
        {"empty chunk size", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n\r\n", "malformed HTTP response: bad chunk size"},
        {"huge chunk", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1000000000000000000\r\n", "malformed HTTP response: chunk too large"},
        {"chunk overruns", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nabc\r\n", "malformed HTTP response: chunk not followed by a line break"},
        {"line too long", "HTTP/1.1 200 OK\r\nX: " + big + "\r\n\r\n", "malformed HTTP response: line too long"},
        {"head too long", manyHeaders, "malformed HTTP response: head too long"},
        {"cut in the head", "HTTP/1.1 200 OK\r\nContent-Len", "connection closed before the end of the response"},
        {"cut in the body", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc", "connection closed before the end of the response"},
        {"cut in a chunk", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nab", "connection closed before the end of the response"},
        {"cut before the last chunk", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nab\r\n", "connection closed before the end of the response"},
        {"cut in the trailers", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n0\r\nT: 1\r\n", "connection closed before the end of the response"},
    };
    for (const auto& c : cases) {
        for (std::size_t step : {0, 3}) {
            SCOPED_TRACE(std::string(c.name) + ", step " + std::to_string(step));
            const Parsed p = parse(c.text, step);
            EXPECT_EQ(p.error, c.error);
            EXPECT_FALSE(p.complete);
        }
    }
}

TEST(UpdaterHttpParser, StopsAfterTheHeadSoTheStatusComesFirst) {
    ResponseParser parser;
    std::string body;
    const std::string text = "HTTP/1.1 404 Not Found\r\nContent-Length: 4\r\nLocation:  /x \r\n\r\nnope";
    const std::size_t used = parser.feed(text, [&](std::string_view b) { body.append(b); });
    EXPECT_EQ(used, text.size() - 4);
    EXPECT_TRUE(parser.headComplete());
    EXPECT_FALSE(parser.complete());
    EXPECT_EQ(body, "");
    EXPECT_EQ(parser.status(), 404);
    EXPECT_EQ(parser.header("location"), "/x");
    EXPECT_EQ(parser.header("Missing"), std::nullopt);
    EXPECT_EQ(parser.framing(), ResponseParser::Framing::Length);
    EXPECT_EQ(parser.feed(std::string_view(text).substr(used), [&](std::string_view b) { body.append(b); }), 4u);
    EXPECT_EQ(body, "nope");
    EXPECT_TRUE(parser.complete());
    EXPECT_EQ(parser.feed("more", nullptr), 0u);  // bytes after the response are not ours
}

TEST(UpdaterHttpParser, StreamsLargeBodiesPieceByPiece) {
    // 3 MiB in 64 KiB chunks; the sink never sees more than one piece at a time.
    const std::string chunk(65536, 'x');
    std::string text = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    for (int i = 0; i < 48; ++i) text += "10000\r\n" + chunk + "\r\n";
    text += "0\r\n\r\n";
    ResponseParser parser;
    std::size_t total = 0, largest = 0;
    std::string_view rest = text;
    while (!rest.empty() && !parser.complete()) {
        const std::size_t n = std::min<std::size_t>(rest.size(), 100000);
        rest.remove_prefix(parser.feed(rest.substr(0, n), [&](std::string_view b) {
            total += b.size();
            largest = std::max(largest, b.size());
        }));
    }
    EXPECT_TRUE(parser.complete());
    EXPECT_EQ(total, 48u * 65536u);
    EXPECT_LE(largest, 65536u);
}
