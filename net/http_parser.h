// Incremental parser of one HTTP/1.x response, as it arrives from the connection.
//
// Pure and portable: bytes in, the status, headers and body bytes out. The body is handed to a
// sink piece by piece (never held whole), framed by Content-Length, by chunked transfer coding, or
// by the end of the connection. Interim 1xx responses are skipped. Malformed input throws IOError
// "malformed HTTP response: ...".
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tovi::updater {

class ResponseParser {
public:
    using BodySink = std::function<void(std::string_view)>;

    // Bounds on the head, against a server that never ends a line.
    static constexpr std::size_t kMaxLine = 16 * 1024;
    static constexpr std::size_t kMaxHead = 64 * 1024;

    ResponseParser() = default;

    // Consumes bytes from data and returns how many. Stops early (returns less than data.size())
    // right after the head is complete, so that the caller can look at the status before any body
    // byte reaches the sink, and once the response is complete (the rest is not ours).
    std::size_t feed(std::string_view data, const BodySink& sink);

    // The peer closed the connection: completes a body that runs to the end of the connection;
    // throws IOError when the response is incomplete.
    void finish();

    bool headComplete() const { return state_ > State::Headers; }
    bool complete() const { return state_ == State::Done; }

    int status() const { return status_; }
    const std::string& reason() const { return reason_; }
    // HTTP minor version of the status line (0 or 1).
    int minorVersion() const { return minor_; }
    // The first header of that name (ASCII case-insensitive), value without surrounding blanks.
    std::optional<std::string> header(std::string_view name) const;
    const std::vector<std::pair<std::string, std::string>>& headers() const { return headers_; }

    enum class Framing { None, Length, Chunked, UntilClose };
    Framing framing() const { return framing_; }

private:
    enum class State { StatusLine, Headers, Body, ChunkSize, ChunkData, ChunkDataEnd, Trailers, Done };

    // Appends to line_ up to the next LF; returns the bytes consumed and whether a line is complete.
    std::pair<std::size_t, bool> takeLine(std::string_view data);
    void parseStatusLine(std::string_view line);
    void parseHeaderLine(std::string_view line);
    void endOfHead();
    void parseChunkSize(std::string_view line);

    State state_ = State::StatusLine;
    std::string line_;
    std::size_t headBytes_ = 0;
    bool anyByte_ = false;
    int status_ = 0;
    int minor_ = 1;
    std::string reason_;
    std::vector<std::pair<std::string, std::string>> headers_;
    Framing framing_ = Framing::None;
    std::uint64_t remaining_ = 0;  // of the body (Length) or of the current chunk
};

}  // namespace tovi::updater
