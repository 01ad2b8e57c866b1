#include "client/origins.h"

#include <algorithm>

#include "common/ascii.h"

namespace tovi::client {

namespace {

bool isAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isSchemeChar(char c) { return isAlpha(c) || isDigit(c) || c == '+' || c == '-' || c == '.'; }
using ascii::lowered;

constexpr std::string_view kFileOrigin = "file://";
// Where the authority of an address ends; "\" counts as "/" in http addresses, as browsers read them.
constexpr std::string_view kAuthorityEnd = "/\\?#";

// Host characters of a name or an IPv4 address; the bracketed IPv6 form takes hex digits, ":" and
// ".". Anything else (percent escapes, non-ASCII names, blanks) is refused rather than normalised:
// a host that browsers would rewrite cannot be compared as written.
bool isNameChar(char c) { return isAlpha(c) || isDigit(c) || c == '-' || c == '.' || c == '_'; }
bool isIpv6Char(char c) { return ascii::hexValue(c) >= 0 || c == ':' || c == '.'; }

// scheme "://" authority, the authority being the whole of text (an entry) or what comes before
// the path, query or fragment (an address, whose user name and password are dropped).
ParsedOrigin parse(std::string_view text, bool address) {
    const auto fail = [](std::string why) { return ParsedOrigin{{}, std::move(why)}; };
    std::size_t colon = 0;
    if (!text.empty() && isAlpha(text[0])) {
        colon = 1;
        while (colon < text.size() && isSchemeChar(text[colon])) ++colon;
    }
    if (colon == 0 || colon >= text.size() || text[colon] != ':') return fail("not written scheme://host[:port]");
    const std::string scheme = lowered(text.substr(0, colon));
    std::string_view rest = text.substr(colon + 1);
    // A drive letter: engines load such an address as a local file.
    if (address && scheme.size() == 1 && !rest.empty() && (rest[0] == '\\' || rest[0] == '/')) {
        return {std::string(kFileOrigin), {}};
    }
    if (scheme == "file") {
        // Every local file has the one origin; an entry names it exactly so.
        if (address || lowered(text) == kFileOrigin) return {std::string(kFileOrigin), {}};
        return fail("a file origin is written file://");
    }
    if (scheme != "http" && scheme != "https") return fail("only http, https and file origins can be trusted");
    if (rest.substr(0, 2) != "//") return fail("not written scheme://host[:port]");
    rest.remove_prefix(2);

    std::string_view authority = rest;
    if (address) {
        authority = rest.substr(0, rest.find_first_of(kAuthorityEnd));
        if (const auto at = authority.rfind('@'); at != std::string_view::npos) authority.remove_prefix(at + 1);
    } else if (rest.find_first_of(kAuthorityEnd) != std::string_view::npos) {
        return fail("an origin has no path, query or fragment: write scheme://host[:port]");
    }

    std::string host;
    std::string_view port;
    if (!authority.empty() && authority.front() == '[') {
        const auto close = authority.find(']');
        if (close == std::string_view::npos) return fail("an IPv6 address without its closing \"]\"");
        const std::string_view inner = authority.substr(1, close - 1);
        if (inner.empty() || !std::all_of(inner.begin(), inner.end(), isIpv6Char)) return fail("not an IPv6 address");
        host = "[" + lowered(inner) + "]";
        const std::string_view after = authority.substr(close + 1);
        if (!after.empty() && after.front() != ':') return fail("text after the IPv6 address");
        if (!after.empty()) port = after.substr(1);
    } else {
        const auto portColon = authority.find(':');
        const std::string_view name = authority.substr(0, portColon);
        if (name.empty()) return fail("no host");
        if (!std::all_of(name.begin(), name.end(), isNameChar)) {
            return fail("the host holds a character other than letters, digits, \"-\", \".\" and \"_\"");
        }
        host = lowered(name);
        if (portColon != std::string_view::npos) port = authority.substr(portColon + 1);
    }

    std::string origin = scheme + "://" + host;
    if (!port.empty()) {
        unsigned long number = 0;
        for (char c : port) {
            if (!isDigit(c)) return fail("the port is not a number");
            number = number * 10 + static_cast<unsigned long>(c - '0');
            if (number > 65535) return fail("the port is over 65535");
        }
        const unsigned long defaultPort = scheme == "https" ? 443 : 80;
        if (number != defaultPort) origin += ":" + std::to_string(number);
    }
    return {std::move(origin), {}};
}

}  // namespace

ParsedOrigin parseOrigin(std::string_view text) { return parse(text, false); }

std::string originOfAddress(std::string_view address) { return parse(address, true).origin; }

TrustedOrigins trustedOrigins(std::string_view startAddress, std::string_view listed) {
    TrustedOrigins out;
    const auto add = [&](std::string origin) {
        if (std::find(out.origins.begin(), out.origins.end(), origin) == out.origins.end()) {
            out.origins.push_back(std::move(origin));
        }
    };
    if (std::string start = originOfAddress(startAddress); !start.empty()) add(std::move(start));
    std::size_t pos = 0;
    while (pos < listed.size()) {
        const std::size_t begin = listed.find_first_not_of(" \t", pos);
        if (begin == std::string_view::npos) break;
        const std::size_t end = std::min(listed.find_first_of(" \t", begin), listed.size());
        const std::string_view entry = listed.substr(begin, end - begin);
        pos = end;
        ParsedOrigin parsed = parseOrigin(entry);
        if (parsed.error.empty()) {
            add(std::move(parsed.origin));
        } else {
            out.problems.push_back("config.ini [base] trustedOrigins: \"" + std::string(entry) +
                                   "\" ignored: " + parsed.error);
        }
    }
    return out;
}

OriginGuard::OriginGuard(std::vector<std::string> trusted, std::function<void(const std::string&)> log, Clock now)
    : trusted_(std::move(trusted)), log_(std::move(log)), now_(std::move(now)) {}

bool OriginGuard::trusts(std::string_view callerOrigin) const {
    // The engine's text is read as an entry would be, so that its spelling does not matter; "null"
    // and anything else that is no origin are trusted never.
    const ParsedOrigin parsed = parseOrigin(callerOrigin);
    return parsed.error.empty() && std::find(trusted_.begin(), trusted_.end(), parsed.origin) != trusted_.end();
}

void OriginGuard::addTrusted(std::string_view origin) {
    ParsedOrigin parsed = parseOrigin(origin);
    if (!parsed.error.empty() || trusts(parsed.origin)) return;
    trusted_.push_back(std::move(parsed.origin));
    if (log_) log_("the page's functions also answer " + trusted_.back() + ", reached by the start address");
}

bool OriginGuard::admit(std::string_view function, std::string_view callerOrigin) {
    if (trusts(callerOrigin)) return true;
    // A hostile frame calls as often as it likes: its refusals must not flood the log.
    const auto now = now_();
    if (logged_ && now - lastLine_ < std::chrono::seconds(1)) {
        ++unlogged_;
        return false;
    }
    std::string line = "refused " + std::string(function) + " from " + std::string(callerOrigin) +
                       ": not a trusted origin";
    if (unlogged_) line += " (" + std::to_string(unlogged_) + " more refused since the last such line)";
    logged_ = true;
    lastLine_ = now;
    unlogged_ = 0;
    if (log_) log_(line);
    return false;
}

}  // namespace tovi::client
