// The origins whose documents the page's functions answer, and the check of each call against them.
//
// An origin is written as browsers serialise it: scheme "://" host [":" port], scheme and host in
// lower case, the scheme's default port left out ("https://shop.example", "http://127.0.0.1:8080").
// Local files have the one origin "file://". Opaque origins (sandboxed frames, data: documents)
// serialise as "null", which is never trusted.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tovi::client {

// One of the two is empty.
struct ParsedOrigin {
    std::string origin;
    std::string error;
};

// An origin written scheme://host[:port] (http or https), or "file://", as its serialised text;
// anything else, a path or a user name included, is an error that says what is wrong.
ParsedOrigin parseOrigin(std::string_view text);

// The origin of a start address: of an http or https address its scheme, host and port; "file://"
// for a file: address or a Windows path ("C:\pos\pos.html", which engines load as a file); ""
// when it has none (an empty address, about:blank, data:).
std::string originOfAddress(std::string_view address);

struct TrustedOrigins {
    std::vector<std::string> origins;   // each once, the start address's first
    std::vector<std::string> problems;  // one text for each ignored entry of the list
};

// The start address's origin and the blank-separated entries of listed (config.ini [base]
// trustedOrigins).
TrustedOrigins trustedOrigins(std::string_view startAddress, std::string_view listed);

// Decides, call by call, whether the caller that the engine names is trusted. A refusal is one
// line in the log, at most one a second; the refusals between two lines are counted in the second.
class OriginGuard {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    explicit OriginGuard(std::vector<std::string> trusted = {}, std::function<void(const std::string&)> log = {},
                         Clock now = &std::chrono::steady_clock::now);

    bool trusts(std::string_view callerOrigin) const;
    // Trusts origin too (the origin that the start address reached through HTTP redirects);
    // an empty or malformed text changes nothing.
    void addTrusted(std::string_view origin);
    // Whether the call of function from callerOrigin may go on; logs the refusal when not.
    bool admit(std::string_view function, std::string_view callerOrigin);
    const std::vector<std::string>& trusted() const { return trusted_; }

private:
    std::vector<std::string> trusted_;
    std::function<void(const std::string&)> log_;
    Clock now_;
    bool logged_ = false;
    std::chrono::steady_clock::time_point lastLine_{};
    unsigned long unlogged_ = 0;
};

}  // namespace tovi::client
