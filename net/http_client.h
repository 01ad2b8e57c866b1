// HTTP/1.1 GET over TLS (or plain TCP for http: addresses), one request per connection,
// redirects followed. The transport is behind Connector so that the request and redirect logic
// runs against canned connections in tests.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "net/url.h"

namespace tovi::updater {

class TlsContext;

// One open connection.
class Stream {
public:
    virtual ~Stream() = default;
    // 0 at the end of the stream; throws IOError.
    virtual std::size_t read(char* buf, std::size_t size) = 0;
    virtual void writeAll(std::string_view data) = 0;
};

class Connector {
public:
    virtual ~Connector() = default;
    virtual std::unique_ptr<Stream> open(const Url& url) = 0;
};

// Opens TCP connections, wrapped in TLS for https: addresses.
class NetworkConnector : public Connector {
public:
    NetworkConnector(const TlsContext& tls, std::chrono::milliseconds idleTimeout) : tls_(tls), idleTimeout_(idleTimeout) {}
    std::unique_ptr<Stream> open(const Url& url) override;

private:
    const TlsContext& tls_;
    std::chrono::milliseconds idleTimeout_;
};

inline constexpr const char* kUserAgent = "tovipos/1.0.0.0";
inline constexpr int kMaxRedirects = 5;

struct Response {
    int status = 0;
    std::string reason;
    std::string url;  // after redirects
};

class HttpClient {
public:
    using BodySink = std::function<void(std::string_view)>;

    explicit HttpClient(Connector& connector, std::string userAgent = kUserAgent, int maxRedirects = kMaxRedirects)
        : connector_(connector), userAgent_(std::move(userAgent)), maxRedirects_(maxRedirects) {}

    // GET url, following up to maxRedirects redirects (301, 302, 303, 307, 308 with a Location).
    // The body of the final response goes to body only when its status is 2xx; any other final
    // status throws IOError "<code> <reason>" as the server sent them. A redirect from https to
    // http, or one too many, throws.
    Response get(const std::string& url, const BodySink& body);

    // The request bytes for one GET.
    std::string requestText(const Url& url) const;

private:
    Connector& connector_;
    std::string userAgent_;
    int maxRedirects_;
};

// "404 Not Found" (no blank when the reason phrase is empty).
std::string statusText(int status, const std::string& reason);

}  // namespace tovi::updater
