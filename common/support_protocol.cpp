#include "common/support_protocol.h"

#include <initializer_list>
#include <utility>

namespace tovi::protocol {

namespace {

std::string join(Command command, std::initializer_list<const std::string*> values) {
    std::string line(kCommandWords[static_cast<std::size_t>(command)].word);
    for (const std::string* v : values) {
        line += ' ';
        line += *v;
    }
    return line;
}

}  // namespace

std::string commandLine(const PrintWords& w) {
    return join(Command::Print, {&w.jobFile, &w.printer, &w.openDrawer, &w.cut, &w.feedLines});
}

std::string commandLine(const PrintRawWords& w) { return join(Command::PrintRaw, {&w.jobFile, &w.printer}); }

std::string commandLine(const OpenCashWords& w) { return join(Command::OpenCash, {&w.printer}); }

std::string commandLine(const DisplayWords& w) {
    return join(Command::Display, {&w.mode, &w.amount, &w.port, &w.baud});
}

std::string commandLine(const StatusWords& w) { return join(Command::Status, {&w.printer}); }

std::string updateCommandLine() { return join(Command::Update, {}); }

PrintWords printWords(const std::vector<std::string>& a) { return {a.at(2), a.at(3), a.at(4), a.at(5), a.at(6)}; }

PrintRawWords printRawWords(const std::vector<std::string>& a) { return {a.at(2), a.at(3)}; }

OpenCashWords openCashWords(const std::vector<std::string>& a) { return {a.at(2)}; }

DisplayWords displayWords(const std::vector<std::string>& a) { return {a.at(2), a.at(3), a.at(4), a.at(5)}; }

StatusWords statusWords(const std::vector<std::string>& a) { return {a.at(2)}; }

namespace {

constexpr std::string_view kOutcomePrefix = "tovipos-outcome ";
constexpr std::string_view kStatusPrefix = "tovipos-status ";

std::string statusLine(const DeviceStatus& status) {
    std::string line(kStatusPrefix);
    for (const auto& [name, fact] : kStatusFacts) {
        const std::optional<bool>& v = status.*fact;
        line.append(name).append(1, '=').append(!v ? "-" : *v ? "1" : "0").append(1, ' ');
    }
    return line.append("source=").append(status.source).append(1, '\n');
}

// Exactly the words statusLine writes, in its order; anything else is no status.
std::optional<DeviceStatus> readStatus(std::string_view words) {
    DeviceStatus status;
    const auto take = [&](std::string_view name) -> std::optional<std::string_view> {
        if (!words.starts_with(name) || words.substr(name.size(), 1) != "=") return std::nullopt;
        words.remove_prefix(name.size() + 1);
        const std::size_t blank = words.find(' ');
        const std::string_view value = words.substr(0, blank);
        words = blank == std::string_view::npos ? std::string_view() : words.substr(blank + 1);
        return value;
    };
    for (const auto& [name, fact] : kStatusFacts) {
        const std::optional<std::string_view> v = take(name);
        if (!v || (*v != "1" && *v != "0" && *v != "-")) return std::nullopt;
        if (*v != "-") status.*fact = *v == "1";
    }
    const std::optional<std::string_view> source = take("source");
    if (!source || !words.empty()) return std::nullopt;
    for (const std::string_view known : kStatusSources) {
        if (*source == known) {
            status.source = known;
            return status;
        }
    }
    return std::nullopt;
}

}  // namespace

std::string outcomeLine(const Outcome& outcome) {
    std::string line = outcome.status ? statusLine(*outcome.status) : std::string();
    line.append(kOutcomePrefix).append(outcome.code).append(1, ' ');
    for (const char c : outcome.message) {
        if (c == '\\') line += "\\\\";
        else if (c == '\n') line += "\\n";
        else if (c == '\r') line += "\\r";
        else line += c;
    }
    return line + '\n';
}

std::optional<Outcome> readOutcome(std::string_view output) {
    std::optional<Outcome> found;
    std::optional<DeviceStatus> status;  // of the line just before
    while (!output.empty()) {
        const std::size_t end = output.find('\n');
        const std::string_view line = output.substr(0, end);
        output = end == std::string_view::npos ? std::string_view() : output.substr(end + 1);
        std::optional<DeviceStatus> before = std::move(status);
        status.reset();
        if (line.starts_with(kStatusPrefix)) {
            status = readStatus(line.substr(kStatusPrefix.size()));
            continue;
        }
        if (!line.starts_with(kOutcomePrefix)) continue;
        const std::string_view rest = line.substr(kOutcomePrefix.size());
        const std::size_t blank = rest.find(' ');
        if (blank == 0 || blank == std::string_view::npos) continue;
        Outcome o{std::string(rest.substr(0, blank)), {}, std::move(before)};
        for (std::size_t i = blank + 1; i < rest.size(); ++i) {
            if (rest[i] != '\\' || i + 1 == rest.size()) {
                o.message += rest[i];
                continue;
            }
            const char e = rest[++i];
            o.message += e == 'n' ? '\n' : e == 'r' ? '\r' : e;
        }
        found = std::move(o);
    }
    return found;
}

}  // namespace tovi::protocol
