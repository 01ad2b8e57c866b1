#include "net/url.h"

#include <vector>

#include "common/ascii.h"
#include "common/error.h"
#include "common/text.h"

namespace tovi::updater {

namespace {

bool isAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

[[noreturn]] void invalid(std::string_view text) { throw valueError("invalid URL: " + std::string(text)); }

std::uint16_t defaultPort(const std::string& scheme) { return scheme == "https" ? 443 : 80; }

}  // namespace

std::string Url::authority() const {
    std::string a;
    if (host.find(':') != std::string::npos) {
        a.append(1, '[').append(host).append(1, ']');
    } else {
        a = host;
    }
    if (port != defaultPort(scheme)) a.append(1, ':').append(std::to_string(port));
    return a;
}

std::string_view schemeOf(std::string_view text) {
    if (text.empty() || !isAlpha(text[0])) return {};
    for (std::size_t i = 1; i < text.size(); ++i) {
        const char c = text[i];
        if (c == ':') return text.substr(0, i);
        if (!isAlpha(c) && !isDigit(c) && c != '+' && c != '-' && c != '.') return {};
    }
    return {};
}

UrlParts splitUrl(std::string_view text, std::string_view authorityEnd) {
    const auto fail = [](std::string why) {
        UrlParts bad;
        bad.error = std::move(why);
        return bad;
    };
    const std::string_view scheme = schemeOf(text);
    std::string_view rest = scheme.empty() ? std::string_view() : text.substr(scheme.size() + 1);
    if (rest.substr(0, 2) != "//") return fail("not written scheme://host[:port]");
    UrlParts url;
    url.scheme = ascii::lowered(scheme);
    if (url.scheme != "http" && url.scheme != "https") return fail("not an http or https address");
    rest.remove_prefix(2);
    const std::size_t end = rest.find_first_of(authorityEnd);
    std::string_view authority = rest.substr(0, end);
    if (end != std::string_view::npos) url.rest = rest.substr(end);
    if (const auto at = authority.rfind('@'); at != std::string_view::npos) {
        url.userInfo = true;
        authority.remove_prefix(at + 1);
    }

    std::string_view portText;
    if (!authority.empty() && authority.front() == '[') {
        const auto close = authority.find(']');
        if (close == std::string_view::npos) return fail("an IPv6 address without its closing \"]\"");
        url.host = std::string(authority.substr(1, close - 1));
        url.ipv6 = true;
        const std::string_view after = authority.substr(close + 1);
        if (!after.empty() && after.front() != ':') return fail("text after the IPv6 address");
        if (!after.empty()) portText = after.substr(1);
    } else {
        const auto colon = authority.find(':');
        url.host = std::string(authority.substr(0, colon));
        if (colon != std::string_view::npos) portText = authority.substr(colon + 1);
    }
    if (url.host.empty()) return fail("no host");
    url.port = defaultPort(url.scheme);
    // "host:" is the default port, as browsers read it.
    if (!portText.empty()) {
        unsigned long port = 0;
        for (char c : portText) {
            if (!isDigit(c)) return fail("the port is not a number");
            port = port * 10 + static_cast<unsigned long>(c - '0');
            if (port > 65535) return fail("the port is over 65535");
        }
        if (port == 0) return fail("the port is 0");
        url.port = static_cast<std::uint16_t>(port);
    }
    return url;
}

Url parseUrl(std::string_view text) {
    const UrlParts parts = splitUrl(text, "/?");
    if (!parts.error.empty()) invalid(text);
    for (char c : parts.host) {
        if (static_cast<unsigned char>(c) <= 0x20 || c == '/' || c == '\\' || c == '#') invalid(text);
    }
    Url url;
    url.scheme = parts.scheme;
    url.host = parts.host;
    url.port = parts.port;
    if (parts.rest.empty() || parts.rest.front() == '?') url.path.assign(1, '/');
    url.path.append(parts.rest);
    return url;
}

std::string requestTarget(std::string_view path) {
    std::string out;
    out.reserve(path.size());
    for (char ch : path) {
        const auto c = static_cast<unsigned char>(ch);
        if (c <= 0x20 || c >= 0x7F || ch == '#' || ch == '"' || ch == '<' || ch == '>' || ch == '\\' || ch == '^' ||
            ch == '`' || ch == '{' || ch == '|' || ch == '}') {
            out += '%';
            out += ascii::hex(std::string_view(&ch, 1), ascii::HexCase::Upper);
        } else {
            out += ch;
        }
    }
    return out;
}

std::string removeDotSegments(std::string_view path) {
    const auto q = path.find('?');
    const std::string_view query = q == std::string_view::npos ? std::string_view() : path.substr(q);
    std::string_view p = path.substr(0, q);
    std::vector<std::string_view> out;
    bool trailingSlash = false;
    std::size_t i = p.empty() || p.front() != '/' ? 0 : 1;
    while (i <= p.size()) {
        const auto next = p.find('/', i);
        const std::string_view seg = p.substr(i, next == std::string_view::npos ? std::string_view::npos : next - i);
        const bool last = next == std::string_view::npos;
        if (seg == ".") {
            trailingSlash = last;
        } else if (seg == "..") {
            if (!out.empty()) out.pop_back();
            trailingSlash = last;
        } else {
            out.push_back(seg);
            trailingSlash = false;
        }
        if (last) break;
        i = next + 1;
    }
    std::string result;
    for (const auto& seg : out) {
        result += '/';
        result += seg;
    }
    if (trailingSlash || result.empty()) result += '/';
    return result + std::string(query);
}

std::string resolveLocation(const Url& base, std::string_view location) {
    // Blanks around the value are not part of it; a fragment never travels to the server.
    while (!location.empty() && (location.front() == ' ' || location.front() == '\t')) location.remove_prefix(1);
    while (!location.empty() && (location.back() == ' ' || location.back() == '\t')) location.remove_suffix(1);
    if (const auto hash = location.find('#'); hash != std::string_view::npos) location = location.substr(0, hash);

    if (!schemeOf(location).empty()) {
        Url target = parseUrl(location);
        target.path = removeDotSegments(target.path);
        return target.text();
    }
    if (location.substr(0, 2) == "//") return resolveLocation(base, base.scheme + ":" + std::string(location));

    const std::string origin = base.scheme + "://" + base.authority();
    if (location.empty()) return origin + base.path;
    if (location.front() == '/') return origin + removeDotSegments(location);
    const std::string basePath = base.path.substr(0, base.path.find('?'));
    if (location.front() == '?') return origin + basePath + std::string(location);
    const std::string folder = basePath.substr(0, basePath.rfind('/') + 1);
    return origin + removeDotSegments(folder + std::string(location));
}

bool isIpLiteral(std::string_view host) {
    if (host.find(':') != std::string_view::npos) return true;  // only IPv6 literals contain ":"
    int parts = 0;
    std::size_t i = 0;
    while (true) {
        std::size_t digits = 0;
        unsigned value = 0;
        while (i < host.size() && isDigit(host[i]) && digits < 4) {
            value = value * 10 + static_cast<unsigned>(host[i] - '0');
            ++i, ++digits;
        }
        if (digits == 0 || digits > 3 || value > 255) return false;
        ++parts;
        if (i == host.size()) return parts == 4;
        if (host[i] != '.' || parts == 4) return false;
        ++i;
    }
}

}  // namespace tovi::updater
