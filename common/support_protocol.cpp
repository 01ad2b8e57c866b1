#include "common/support_protocol.h"

#include <initializer_list>

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

std::string updateCommandLine() { return join(Command::Update, {}); }

PrintWords printWords(const std::vector<std::string>& a) { return {a.at(2), a.at(3), a.at(4), a.at(5), a.at(6)}; }

PrintRawWords printRawWords(const std::vector<std::string>& a) { return {a.at(2), a.at(3)}; }

OpenCashWords openCashWords(const std::vector<std::string>& a) { return {a.at(2)}; }

DisplayWords displayWords(const std::vector<std::string>& a) { return {a.at(2), a.at(3), a.at(4), a.at(5)}; }

namespace {

constexpr std::string_view kOutcomePrefix = "tovipos-outcome ";

}  // namespace

std::string outcomeLine(const Outcome& outcome) {
    std::string line = std::string(kOutcomePrefix) + outcome.code + ' ';
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
    while (!output.empty()) {
        const std::size_t end = output.find('\n');
        const std::string_view line = output.substr(0, end);
        output = end == std::string_view::npos ? std::string_view() : output.substr(end + 1);
        if (!line.starts_with(kOutcomePrefix)) continue;
        const std::string_view rest = line.substr(kOutcomePrefix.size());
        const std::size_t blank = rest.find(' ');
        if (blank == 0 || blank == std::string_view::npos) continue;
        Outcome o{std::string(rest.substr(0, blank)), {}};
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
