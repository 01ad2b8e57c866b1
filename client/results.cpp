#include "client/results.h"

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <utility>

#include "client/requests.h"
#include "common/support_protocol.h"

namespace tovi::client {

namespace {

bool validId(std::string_view id) {
    if (id.empty() || id.size() > 64) return false;
    for (const char c : id) {
        const bool alnum = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        if (!alnum && c != '.' && c != '_' && c != ':' && c != '-') return false;
    }
    return true;
}

// Invalid UTF-8 (a page's text may hold some) becomes '?': the event's JSON must be whole.
std::string validUtf8(std::string_view text) {
    const std::string copy(text);  // NUL-terminated: a sequence cut short at the end stops there
    std::string out;
    rapidjson::StringStream in(copy.c_str());
    while (in.Tell() < copy.size()) {
        rapidjson::StringBuffer one;
        if (rapidjson::UTF8<>::Validate(in, one)) {
            out.append(one.GetString(), one.GetSize());
        } else {
            out += '?';
        }
    }
    return out;
}

}  // namespace

RequestOptions readOptions(std::string_view json) {
    RequestOptions options;
    if (json.size() > kMaxRequestBytes) return options;
    rapidjson::Document doc;
    doc.Parse<rapidjson::kParseIterativeFlag>(json.data(), json.size());
    if (doc.HasParseError() || !doc.IsObject()) return options;
    if (const auto it = doc.FindMember("id"); it != doc.MemberEnd()) {
        if (it->value.IsString() && validId({it->value.GetString(), it->value.GetStringLength()})) {
            options.id = std::string(it->value.GetString(), it->value.GetStringLength());
        } else {
            options.problem = "id is not 1 to 64 characters of A-Z a-z 0-9 . _ : -";
        }
    }
    if (const auto it = doc.FindMember("expireMs"); it != doc.MemberEnd()) {
        if (it->value.IsInt64() && it->value.GetInt64() >= 1 && it->value.GetInt64() <= kMaxExpireMs) {
            options.expireMs = it->value.GetInt64();
        } else if (options.problem.empty()) {
            options.problem = "expireMs is not an integer from 1 to " + std::to_string(kMaxExpireMs);
        }
    }
    if (const auto it = doc.FindMember("report"); it != doc.MemberEnd()) {
        options.pageReports = it->value.IsString() && std::string_view(it->value.GetString()) == "page";
    }
    return options;
}

const char* outcomeWord(Outcome outcome) {
    switch (outcome) {
        case Outcome::Ok: return "ok";
        case Outcome::Failed: return "failed";
        case Outcome::Refused: return "refused";
        case Outcome::Expired: return "expired";
    }
    return "failed";
}

std::string refusalText(const std::string& message, const std::string& kind) {
    return std::string("设备请求无效，未执行：") + message + " [" + kind + "]";
}

namespace {

// How the request ended, its status aside; told is the support program's outcome, if it told one.
Result endOf(const FinishedRequest& f, const std::optional<protocol::Outcome>& told) {
    if (!f.refusal.empty()) return {Outcome::Refused, f.refusal, refusalText(f.problem, f.problemKind)};
    if (f.expired) return {Outcome::Expired, "EXPIRED", ""};
    if (!f.problem.empty()) {
        return {f.jobFileFailed ? Outcome::Refused : Outcome::Failed, f.jobFileFailed ? "JOB_FILE" : "FAILED",
                refusalText(f.problem, f.problemKind)};
    }
    if (f.timedOut) {
        return {Outcome::Failed, "TIMEOUT",
                told && !told->message.empty()
                    ? told->message
                    : "the support program did not end within " + std::to_string(kSupportProgramTimeoutMs / 1000) + " s"};
    }
    if (!told) {
        return {Outcome::Failed, "FAILED",
                "the support program told no outcome (exit code " + std::to_string(f.exitCode.value_or(-1)) + ")"};
    }
    if (told->code == protocol::kOutcomeOk) return {};
    // Only the words both programs know reach the page; anything else is a failure all the same.
    for (const std::string_view known :
         {protocol::kOutcomeWrongCall, protocol::kOutcomeNoPrinter, protocol::kOutcomeWriteFailed,
          protocol::kOutcomeDisplayFailed, protocol::kOutcomeCoverOpen, protocol::kOutcomePaperOut,
          protocol::kOutcomeOffline}) {
        if (told->code == known) return {Outcome::Failed, told->code, told->message};
    }
    return {Outcome::Failed, std::string(protocol::kOutcomeFailed), told->message};
}

}  // namespace

Result resultOf(const FinishedRequest& f) {
    const std::optional<protocol::Outcome> told = protocol::readOutcome(f.output);
    Result result = endOf(f, told);
    if (told && told->status) {
        result.status = told->status;
    } else if (f.kind == kDeviceStatusFunction) {
        // The page asked for a status and gets one, whatever happened: a printer that could not be
        // opened is not connected; a refusal, an expiry, a time-out or a support program that told
        // none leaves every fact unknown.
        result.status = protocol::DeviceStatus{};
        if (result.code == protocol::kOutcomeNoPrinter) result.status->connected = false;
    }
    return result;
}

std::string statusText(const protocol::DeviceStatus& status) {
    std::string text = status.source;
    for (const auto& [name, fact] : protocol::kStatusFacts) {
        const std::optional<bool>& v = status.*fact;
        text.append(1, ' ').append(name).append(1, '=').append(!v ? "-" : *v ? "1" : "0");
    }
    return text;
}

std::string resultScript(const std::optional<std::string>& id, std::string_view function, const Result& result,
                         bool late) {
    // ASCII out: every other character as \u escapes, so no page text can end the script's string.
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer, rapidjson::UTF8<>, rapidjson::ASCII<>> w(buffer);
    const auto text = [&](std::string_view s) {
        const std::string valid = validUtf8(s);
        w.String(valid.data(), static_cast<rapidjson::SizeType>(valid.size()));
    };
    w.StartObject();
    w.Key("id");
    if (id) text(*id);
    else w.Null();
    w.Key("function");
    text(function);
    w.Key("outcome");
    text(outcomeWord(result.outcome));
    w.Key("code");
    if (result.outcome == Outcome::Ok) w.Null();
    else text(result.code);
    w.Key("message");
    text(result.message);
    // Built from the parsed facts, never from the support program's text.
    w.Key("status");
    if (result.status) {
        w.StartObject();
        for (const auto& [name, fact] : protocol::kStatusFacts) {
            const std::optional<bool>& v = (*result.status).*fact;
            w.Key(name);
            if (v) w.Bool(*v);
            else w.Null();
        }
        w.Key("source");
        text(result.status->source);
        w.EndObject();
    } else {
        w.Null();
    }
    w.Key("late");
    w.Bool(late);
    w.EndObject();
    return std::string("window.dispatchEvent(new CustomEvent(\"tovipos-result\", {detail: ") + buffer.GetString() +
           "}));";
}

std::uint64_t PageResults::open(std::optional<std::string> id, std::string function) {
    entries_.push_back({nextTicket_, document_, std::move(id), std::move(function), std::nullopt});
    return nextTicket_++;
}

void PageResults::close(std::uint64_t ticket, Result result) {
    for (Entry& e : entries_) {
        if (e.ticket != ticket || e.result) continue;
        e.result = std::move(result);
        ++held_;
        break;
    }
    // The oldest held result that is not with the engine makes room.
    for (auto it = entries_.begin(); held_ > kMaxHeldResults && it != entries_.end();) {
        if (!it->result || (running_ && it == entries_.begin())) {
            ++it;
            continue;
        }
        engine_.log("result dropped, " + std::to_string(kMaxHeldResults) + " wait for the page: " + it->function +
                    (it->id ? " id " + *it->id : std::string()) + ", " + outcomeWord(it->result->outcome));
        it = entries_.erase(it);
        --held_;
    }
    deliver();
}

void PageResults::documentReady() {
    ++document_;
    documentTakes_ = true;
    deliver();
}

void PageResults::scriptDone(bool ran, const char* origin) {
    if (!running_) return;
    running_ = false;
    if (ran) {
        entries_.pop_front();
        --held_;
    } else if (document_ != sentTo_) {
        // A document became ready while the script was out (its ready overtook the answer): the
        // result goes to it, as late as it is for that document.
    } else if (origin && origin_ != origin && engine_.trusts(origin)) {
        // Another trusted origin's document is there: the result goes to it.
        origin_ = origin;
    } else {
        // No ready document of a trusted origin: the results wait for the next ready document.
        documentTakes_ = false;
    }
    deliver();
}

void PageResults::deliver() {
    if (running_ || !documentTakes_ || entries_.empty() || !entries_.front().result) return;
    const Entry& e = entries_.front();
    running_ = true;
    sentTo_ = document_;
    engine_.run(origin_, resultScript(e.id, e.function, *e.result, e.document != document_));
}

}  // namespace tovi::client
