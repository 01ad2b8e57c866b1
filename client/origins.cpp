#include "client/origins.h"

#include <algorithm>

#include "common/ascii.h"
#include "net/url.h"

namespace tovi::client {

namespace {

using ascii::lowered;

constexpr std::string_view kFileOrigin = "file://";
// Where the authority of an address ends; "\\" counts as "/" in http addresses, as browsers read them.
constexpr std::string_view kAuthorityEnd = "/\\?#";

// Host characters of a name or an IPv4 address; the bracketed IPv6 form takes hex digits, ":" and
// ".". Anything else (percent escapes, non-ASCII names, blanks) is refused rather than normalised:
// a host that browsers would rewrite cannot be compared as written.
bool isNameChar(char c) {
    return ascii::hexValue(c) >= 0 || (ascii::lower(c) >= 'g' && ascii::lower(c) <= 'z') || c == '-' || c == '.' ||
           c == '_';
}
bool isIpv6Char(char c) { return ascii::hexValue(c) >= 0 || c == ':' || c == '.'; }

// An origin entry is scheme "://" authority and nothing else; an address is read up to its path,
// query or fragment, and its user name and password are dropped.
ParsedOrigin parse(std::string_view text, bool address) {
    const auto fail = [](std::string why) { return ParsedOrigin{{}, std::move(why)}; };
    const std::string scheme = lowered(updater::schemeOf(text));
    if (scheme.empty()) return fail("not written scheme://host[:port]");
    const std::string_view rest = text.substr(scheme.size() + 1);
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

    const updater::UrlParts url = updater::splitUrl(text, kAuthorityEnd);
    if (!url.error.empty()) return fail(url.error);
    if (!address && !url.rest.empty()) return fail("an origin has no path, query or fragment: write scheme://host[:port]");
    if (!address && url.userInfo) return fail("an origin has no user name: write scheme://host[:port]");
    if (url.ipv6 && (url.host.empty() || !std::all_of(url.host.begin(), url.host.end(), isIpv6Char))) {
        return fail("not an IPv6 address");
    }
    if (!url.ipv6 && !std::all_of(url.host.begin(), url.host.end(), isNameChar)) {
        return fail("the host holds a character other than letters, digits, \"-\", \".\" and \"_\"");
    }
    std::string origin = url.scheme + "://";
    if (url.ipv6) origin.append(1, '[').append(lowered(url.host)).append(1, ']');
    else origin.append(lowered(url.host));
    if (url.port != (url.scheme == "https" ? 443 : 80)) origin.append(1, ':').append(std::to_string(url.port));
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
