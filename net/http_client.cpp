#include "net/http_client.h"

#include <vector>

#include "net/http_parser.h"
#include "net/socket.h"
#include "net/tls.h"
#include "common/error.h"

namespace tovi::updater {

namespace {

class PlainStream : public Stream {
public:
    explicit PlainStream(Socket s) : socket_(std::move(s)) {}
    std::size_t read(char* buf, std::size_t size) override { return socket_.read(buf, size); }
    void writeAll(std::string_view data) override { socket_.writeAll(data.data(), data.size()); }

private:
    Socket socket_;
};

class SecureStream : public Stream {
public:
    SecureStream(const TlsContext& tls, Socket s, const std::string& host, std::chrono::milliseconds idle)
        : tls_(tls, std::move(s), host, idle) {}
    std::size_t read(char* buf, std::size_t size) override { return tls_.read(buf, size); }
    void writeAll(std::string_view data) override { tls_.writeAll(data.data(), data.size()); }

private:
    TlsStream tls_;
};

bool isRedirect(int status) { return status == 301 || status == 302 || status == 303 || status == 307 || status == 308; }

}  // namespace

std::unique_ptr<Stream> NetworkConnector::open(const Url& url) {
    Socket s = Socket::connect(url.host, url.port, idleTimeout_);
    if (!url.secure()) return std::make_unique<PlainStream>(std::move(s));
    return std::make_unique<SecureStream>(tls_, std::move(s), url.host, idleTimeout_);
}

std::string statusText(int status, const std::string& reason) {
    return reason.empty() ? std::to_string(status) : std::to_string(status) + " " + reason;
}

std::string HttpClient::requestText(const Url& url) const {
    std::string r = "GET " + requestTarget(url.path) + " HTTP/1.1\r\n";
    r += "Host: " + url.authority() + "\r\n";
    r += "User-Agent: " + userAgent_ + "\r\n";
    r += "Accept: */*\r\n";
    r += "Connection: close\r\n\r\n";
    return r;
}

Response HttpClient::get(const std::string& urlText, const BodySink& body) {
    Url url = parseUrl(urlText);
    std::vector<char> buf(256 * 1024);
    for (int redirects = 0;; ++redirects) {
        const std::unique_ptr<Stream> stream = connector_.open(url);
        stream->writeAll(requestText(url));

        ResponseParser parser;
        bool delivering = false;
        const ResponseParser::BodySink toCaller = [&](std::string_view piece) {
            if (delivering && body) body(piece);
        };
        std::size_t have = 0;
        std::size_t at = 0;
        auto fill = [&] {
            at = 0;
            have = stream->read(buf.data(), buf.size());
            if (have == 0) parser.finish();
            return have > 0;
        };
        // The head first: the status decides what becomes of the body.
        while (!parser.headComplete()) {
            if (at == have && !fill()) break;
            at += parser.feed(std::string_view(buf.data() + at, have - at), toCaller);
        }
        if (!parser.headComplete()) throw ioError("connection closed without a response");

        const int status = parser.status();
        if (isRedirect(status)) {
            const auto location = parser.header("Location");
            if (location) {
                if (redirects >= maxRedirects_)
                    throw ioError("too many redirects (more than " + std::to_string(maxRedirects_) + ") from " + urlText);
                Url next = parseUrl(resolveLocation(url, *location));
                if (url.secure() && !next.secure()) throw ioError("redirect from https to http refused: " + next.text());
                url = std::move(next);
                continue;
            }
        }
        if (status < 200 || status > 299) throw ioError(statusText(status, parser.reason()));

        delivering = true;
        while (!parser.complete()) {
            if (at == have && !fill()) break;
            at += parser.feed(std::string_view(buf.data() + at, have - at), toCaller);
        }
        return Response{status, parser.reason(), url.text()};
    }
}

}  // namespace tovi::updater
