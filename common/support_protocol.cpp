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

}  // namespace tovi::protocol
