#include "net/http_parser.h"

#include <algorithm>

#include "common/ascii.h"
#include "common/error.h"

namespace tovi::updater {

namespace {

[[noreturn]] void malformed(const std::string& what) { throw ioError("malformed HTTP response: " + what); }

std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

bool isTokenChar(char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    return std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

// A Content-Length value: digits, or a list of equal values ("42, 42") as some proxies send.
std::uint64_t parseContentLength(std::string_view value) {
    std::optional<std::uint64_t> result;
    while (true) {
        const auto comma = value.find(',');
        const std::string_view item = trimBlanks(value.substr(0, comma));
        if (item.empty()) malformed("bad Content-Length");
        std::uint64_t n = 0;
        for (char c : item) {
            if (c < '0' || c > '9') malformed("bad Content-Length");
            if (n > (UINT64_MAX - 9) / 10) malformed("bad Content-Length");
            n = n * 10 + static_cast<std::uint64_t>(c - '0');
        }
        if (result && *result != n) malformed("conflicting Content-Length");
        result = n;
        if (comma == std::string_view::npos) return *result;
        value.remove_prefix(comma + 1);
    }
}

}  // namespace

std::optional<std::string> ResponseParser::header(std::string_view name) const {
    for (const auto& [k, v] : headers_) {
        if (ascii::equalsIgnoringCase(k, name)) return v;
    }
    return std::nullopt;
}

std::pair<std::size_t, bool> ResponseParser::takeLine(std::string_view data) {
    const auto lf = data.find('\n');
    const std::size_t n = lf == std::string_view::npos ? data.size() : lf + 1;
    if (line_.size() + n > kMaxLine) malformed("line too long");
    if (state_ <= State::Headers || state_ == State::Trailers) {
        headBytes_ += n;
        if (headBytes_ > kMaxHead) malformed("head too long");
    }
    line_.append(data.substr(0, n));
    if (lf == std::string_view::npos) return {n, false};
    line_.pop_back();  // LF
    if (!line_.empty() && line_.back() == '\r') line_.pop_back();
    return {n, true};
}

void ResponseParser::parseStatusLine(std::string_view line) {
    // HTTP/1.1 200 OK -- the reason phrase may be empty, and so may the blank before it.
    if (line.size() < 12 || line.substr(0, 5) != "HTTP/" || line[5] != '1' || line[6] != '.' ||
        (line[7] != '0' && line[7] != '1') || line[8] != ' ')
        malformed("bad status line");
    minor_ = line[7] - '0';
    int code = 0;
    for (std::size_t i = 9; i < 12; ++i) {
        if (line[i] < '0' || line[i] > '9') malformed("bad status line");
        code = code * 10 + (line[i] - '0');
    }
    if (code < 100) malformed("bad status line");
    if (line.size() > 12 && line[12] != ' ') malformed("bad status line");
    status_ = code;
    reason_ = line.size() > 13 ? std::string(line.substr(13)) : std::string();
}

void ResponseParser::parseHeaderLine(std::string_view line) {
    if (line.front() == ' ' || line.front() == '\t') {
        // An obsolete folded continuation line belongs to the header before it.
        if (headers_.empty()) malformed("continuation line without a header");
        std::string& value = headers_.back().second;
        const std::string_view more = trimBlanks(line);
        if (!more.empty()) {
            if (!value.empty()) value.append(1, ' ');
            value.append(more);
        }
        return;
    }
    const auto colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) malformed("bad header line");
    const std::string_view name = line.substr(0, colon);
    if (!std::all_of(name.begin(), name.end(), isTokenChar)) malformed("bad header name");
    headers_.emplace_back(std::string(name), std::string(trimBlanks(line.substr(colon + 1))));
}

void ResponseParser::endOfHead() {
    if (status_ < 200 && status_ != 101) {
        // Interim response (100 Continue, 103 Early Hints): the real one follows.
        status_ = 0;
        reason_.clear();
        headers_.clear();
        state_ = State::StatusLine;
        return;
    }
    std::optional<std::uint64_t> length;
    std::optional<std::string> te;
    for (const auto& [k, v] : headers_) {
        if (ascii::equalsIgnoringCase(k, "Content-Length")) {
            const std::uint64_t n = parseContentLength(v);
            if (length && *length != n) malformed("conflicting Content-Length");
            length = n;
        } else if (ascii::equalsIgnoringCase(k, "Transfer-Encoding")) {
            te = te ? *te + "," + v : v;
        }
    }
    if (status_ == 204 || status_ == 304 || status_ == 101) {
        framing_ = Framing::None;
        state_ = State::Done;
    } else if (te) {
        // Chunked only when it is the last coding; any other coding runs to the end of the connection.
        std::string_view codings = *te;
        const auto lastComma = codings.rfind(',');
        const std::string_view last = trimBlanks(lastComma == std::string_view::npos ? codings : codings.substr(lastComma + 1));
        if (ascii::equalsIgnoringCase(last, "chunked")) {
            framing_ = Framing::Chunked;
            state_ = State::ChunkSize;
        } else {
            framing_ = Framing::UntilClose;
            state_ = State::Body;
        }
    } else if (length) {
        framing_ = Framing::Length;
        remaining_ = *length;
        state_ = remaining_ == 0 ? State::Done : State::Body;
    } else {
        framing_ = Framing::UntilClose;
        state_ = State::Body;
    }
}

void ResponseParser::parseChunkSize(std::string_view line) {
    const std::string_view sizeText = trimBlanks(line.substr(0, line.find(';')));
    if (sizeText.empty()) malformed("bad chunk size");
    std::uint64_t n = 0;
    for (char c : sizeText) {
        const int d = ascii::hexValue(c);
        if (d < 0) malformed("bad chunk size");
        if (n >> 59) malformed("chunk too large");
        n = n * 16 + static_cast<std::uint64_t>(d);
    }
    remaining_ = n;
    state_ = n == 0 ? State::Trailers : State::ChunkData;
}

std::size_t ResponseParser::feed(std::string_view data, const BodySink& sink) {
    std::size_t used = 0;
    if (!data.empty()) anyByte_ = true;
    while (used < data.size() && state_ != State::Done) {
        const std::string_view rest = data.substr(used);
        switch (state_) {
        case State::StatusLine:
        case State::Headers:
        case State::ChunkSize:
        case State::ChunkDataEnd:
        case State::Trailers: {
            const auto [n, full] = takeLine(rest);
            used += n;
            if (!full) break;
            const std::string line = std::move(line_);
            line_.clear();
            if (state_ == State::StatusLine) {
                parseStatusLine(line);
                state_ = State::Headers;
            } else if (state_ == State::Headers) {
                if (line.empty()) {
                    endOfHead();
                    if (headComplete()) return used;  // let the caller see the status first
                } else {
                    parseHeaderLine(line);
                }
            } else if (state_ == State::ChunkSize) {
                parseChunkSize(line);
            } else if (state_ == State::ChunkDataEnd) {
                if (!line.empty()) malformed("chunk not followed by a line break");
                state_ = State::ChunkSize;
            } else if (line.empty()) {  // Trailers: ignored up to the empty line
                state_ = State::Done;
            }
            break;
        }
        case State::Body:
        case State::ChunkData: {
            std::size_t n = rest.size();
            if (framing_ != Framing::UntilClose && remaining_ < n) n = static_cast<std::size_t>(remaining_);
            if (sink) sink(rest.substr(0, n));
            used += n;
            if (framing_ != Framing::UntilClose) {
                remaining_ -= n;
                if (remaining_ == 0) state_ = state_ == State::Body ? State::Done : State::ChunkDataEnd;
            }
            break;
        }
        case State::Done:
            break;
        }
    }
    return used;
}

void ResponseParser::finish() {
    if (state_ == State::Done) return;
    if (state_ == State::Body && framing_ == Framing::UntilClose) {
        state_ = State::Done;
        return;
    }
    if (!anyByte_) throw ioError("connection closed without a response");
    throw ioError("connection closed before the end of the response");
}

}  // namespace tovi::updater
