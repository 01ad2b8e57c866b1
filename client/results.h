// What became of each device request, told to the page: one "tovipos-result" event a request, in
// the order of the calls, exactly once, only into a ready main-frame document of a trusted origin.
//
// A result is held while the main frame has no such document (a reload, a visit to another site)
// and delivered once the next one is ready; at most kMaxHeldResults are held (the oldest are
// dropped, with a log line). "late" tells the page that the document receiving a result is not
// the one that was there when the request was made.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "client/device_queue.h"
#include "common/support_protocol.h"

namespace tovi::client {

inline constexpr std::size_t kMaxHeldResults = 64;
// The longest "expireMs" a request may give: a day.
inline constexpr std::int64_t kMaxExpireMs = 86'400'000;

// The members of a request that ask for a result of it: "id" (1 to 64 of A-Z a-z 0-9 . _ : -),
// "expireMs" (an integer from 1 to kMaxExpireMs) and "report" ("page": the page shows failures).
struct RequestOptions {
    std::optional<std::string> id;
    std::optional<std::int64_t> expireMs;
    bool pageReports = false;
    // Why "id" or "expireMs" makes the request malformed; empty when neither does. A text that is
    // no JSON object has none of the members and no problem here (the request itself is refused).
    std::string problem;
};
RequestOptions readOptions(std::string_view json);

enum class Outcome { Ok, Failed, Refused, Expired };

struct Result {
    Outcome outcome = Outcome::Ok;
    std::string code;     // empty for ok: BAD_REQUEST, QUEUE_FULL, JOB_FILE, WRONG_CALL, ...
    std::string message;  // the operator's text the box shows (or would have shown); "" for ok
    // The printer's status: always for toviDeviceStatus, for other requests when the support
    // program read one (a printer with check_status).
    std::optional<protocol::DeviceStatus> status{};
    bool operator==(const Result&) const = default;
};

// "ok", "failed", "refused", "expired".
const char* outcomeWord(Outcome outcome);

// The text of the client's box for a request that was refused or could not be carried out.
std::string refusalText(const std::string& message, const std::string& kind);

// The result of a request the queue worked off: expired, its job file or its start failed, or
// what the support program's outcome line (kept in output), its exit code and its time-out say.
Result resultOf(const FinishedRequest& finished);

// A status in a log line: "virtual connected=1 online=0 ... error=-" (- unknown).
std::string statusText(const protocol::DeviceStatus& status);

// window.dispatchEvent(new CustomEvent("tovipos-result", {detail})), detail as JSON in ASCII.
std::string resultScript(const std::optional<std::string>& id, std::string_view function, const Result& result,
                         bool late);

// The results of one view, on the UI thread. run gives the engine a script for the main frame's
// document of an origin (wkeRunScript); the engine's answer comes back through scriptDone.
class PageResults {
public:
    struct Engine {
        std::function<void(const std::string& origin, const std::string& script)> run;
        std::function<bool(const std::string& origin)> trusts;
        std::function<void(const std::string& text)> log;
    };
    // origin: where results go first (the start page's).
    PageResults(Engine engine, std::string origin) : engine_(std::move(engine)), origin_(std::move(origin)) {}

    // A place in the order of results for a request of function made now; its ticket.
    std::uint64_t open(std::optional<std::string> id, std::string function);
    // The result for a ticket; it goes out once those before it have.
    void close(std::uint64_t ticket, Result result);
    // A document of the main frame is ready.
    void documentReady();
    // The engine's answer to the script given last.
    void scriptDone(bool ran, const char* origin);

private:
    struct Entry {
        std::uint64_t ticket;
        std::uint64_t document;  // the main frame's document when the request was made
        std::optional<std::string> id;
        std::string function;
        std::optional<Result> result;
    };
    void deliver();

    Engine engine_;
    std::string origin_;
    std::deque<Entry> entries_;  // in call order
    std::size_t held_ = 0;       // entries with a result
    std::uint64_t nextTicket_ = 1;
    std::uint64_t document_ = 0;   // counts ready documents
    bool documentTakes_ = false;   // the current document may take results (as far as known)
    bool running_ = false;         // the first entry's script is with the engine
    std::uint64_t sentTo_ = 0;     // the document that script was meant for
};

}  // namespace tovi::client
