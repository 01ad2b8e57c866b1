// URLs of the update server: parsing, the request line's target, and Location resolution.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tovi::updater {

struct Url {
    std::string scheme;  // "http" or "https", lower case
    std::string host;    // without the brackets of an IPv6 literal
    std::uint16_t port = 0;
    std::string path;    // from the first "/" (or "?"), "/" when empty; kept byte for byte

    bool secure() const { return scheme == "https"; }
    // host[:port] as the Host header writes it (port only when not the scheme's default).
    std::string authority() const;
    std::string text() const { return scheme + "://" + authority() + path; }
};

// The scheme of an absolute reference as written ("HTTPS" of "HTTPS://x"), or empty when text
// does not start with one and its ":".
std::string_view schemeOf(std::string_view text);

// An http or https address split at its authority, which ends at the first byte of authorityEnd:
// what the update addresses and the page's origins are both read with.
struct UrlParts {
    std::string scheme;      // "http" or "https"
    std::string host;        // as written; an IPv6 literal without its brackets
    bool ipv6 = false;       // the host was written in brackets
    std::uint16_t port = 0;  // the scheme's default when none is written
    bool userInfo = false;   // a "user[:password]@" came before the host (never used)
    std::string_view rest;   // from the authority's end on; empty when nothing follows it
    std::string error;       // why text is none; the members above are then unset
};
UrlParts splitUrl(std::string_view text, std::string_view authorityEnd);

// Parses an absolute http or https URL; throws ValueError "invalid URL: " + text.
// Everything after the authority is path: a "#" is part of a file name here (update URLs are built
// by concatenation), it does not start a fragment.
Url parseUrl(std::string_view text);

// The request target for the request line: the path with every byte that cannot appear in a
// request line (controls, blank, "#", non-ASCII) percent-encoded; "%" is kept, so an address that
// is already encoded stays as it is.
std::string requestTarget(std::string_view path);

// The absolute URL that a Location header value names, relative to the URL of the response that
// carried it (absolute, scheme-relative "//host/..", absolute-path "/..", query "?..", or a
// relative path; "." and ".." segments resolved; any fragment dropped).
std::string resolveLocation(const Url& base, std::string_view location);

// Removes "." and ".." segments from an absolute path (the query, if any, is kept unchanged).
std::string removeDotSegments(std::string_view path);

// True when host is an IPv4 or IPv6 literal (no SNI for those, and they are verified as addresses).
bool isIpLiteral(std::string_view host);

}  // namespace tovi::updater
