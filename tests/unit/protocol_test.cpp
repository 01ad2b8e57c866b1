// The command line between the two programs, from both ends: what the client builds from a page's
// request is what the support program reads back, word for word, for every command.
#include <gtest/gtest.h>

#include "client/requests.h"
#include "common/cmdline.h"
#include "common/support_protocol.h"
#include "support/commands.h"

namespace tovi {
namespace {

struct RoundTrip {
    const char* name;
    client::DeviceCommand (*build)(std::string_view);
    std::string json;
    protocol::Command command;
    std::vector<std::string> words;  // after the command word, as the support program reads them
};

client::DeviceCommand receipt(std::string_view j) { return client::printRequest(client::PrintKind::Receipt, j); }
client::DeviceCommand settlement(std::string_view j) { return client::printRequest(client::PrintKind::Settlement, j); }

class Protocol : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(Protocol, TheSupportProgramReadsBackWhatTheClientBuilt) {
    const RoundTrip& c = GetParam();
    const client::DeviceCommand built = c.build(c.json);
    // As the support program receives it: its own name first.
    const std::vector<std::string> args = splitCommandLine("tovipos_print.exe " + built.commandLine);
    ASSERT_EQ(support::decideCommand(args).command, c.command) << built.commandLine;
    std::vector<std::string> words;
    switch (c.command) {
        case protocol::Command::Print: {
            const protocol::PrintWords w = protocol::printWords(args);
            words = {w.jobFile, w.printer, w.openDrawer, w.cut, w.feedLines};
            ASSERT_TRUE(built.job.has_value());
            EXPECT_EQ(built.job->name, w.jobFile);
            break;
        }
        case protocol::Command::PrintRaw: {
            const protocol::PrintRawWords w = protocol::printRawWords(args);
            words = {w.jobFile, w.printer};
            ASSERT_TRUE(built.job.has_value());
            EXPECT_EQ(built.job->name, w.jobFile);
            break;
        }
        case protocol::Command::OpenCash: words = {protocol::openCashWords(args).printer}; break;
        case protocol::Command::Status: words = {protocol::statusWords(args).printer}; break;
        case protocol::Command::Display: {
            const protocol::DisplayWords w = protocol::displayWords(args);
            words = {w.mode, w.amount, w.port, w.baud};
            break;
        }
        default: break;
    }
    EXPECT_EQ(words, c.words);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Protocol,
    ::testing::Values(
        RoundTrip{"Receipt", receipt, R"({"interface":"USB","opencash":"TRUE","cut":"TRUE","blankrow":"3","data":"a"})",
                  protocol::Command::Print, {"PrintOut1.txt", "USB", "TRUE", "TRUE", "3"}},
        RoundTrip{"Settlement", settlement,
                  R"({"interface":"lpt1","opencash":"false","cut":"true","blankrow":"0","data":"b"})",
                  protocol::Command::Print, {"RiJie.txt", "lpt1", "false", "true", "0"}},
        RoundTrip{"ChineseDeviceName", receipt,
                  R"({"interface":"收银打印机","opencash":"1","cut":"2","blankrow":"255","data":""})",
                  protocol::Command::Print, {"PrintOut1.txt", "收银打印机", "1", "2", "255"}},
        RoundTrip{"RawJob", client::printRawRequest, R"({"interface":"lpt1","data":"G0A="})", protocol::Command::PrintRaw,
                  {"PrintRaw1.bin", "lpt1"}},
        RoundTrip{"Drawer", client::opencashRequest, R"({"interface":"COM2"})", protocol::Command::OpenCash, {"COM2"}},
        RoundTrip{"Status", client::statusRequest, R"({"interface":"lpt1","id":"s1"})", protocol::Command::Status, {"lpt1"}},
        RoundTrip{"Display", client::displayRequest,
                  R"({"interface":"COM3","display_type":"2","ysje":"12.50","baudrate":"9600"})",
                  protocol::Command::Display, {"2", "12.50", "COM3", "9600"}},
        RoundTrip{"DisplayClear", client::displayRequest,
                  R"({"interface":"COM1","display_type":"5","ysje":"-0.01","baudrate":"2400"})",
                  protocol::Command::Display, {"5", "-0.01", "COM1", "2400"}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(Protocol, TheUpdateHandOffIsTheBareWord) {
    EXPECT_EQ(support::decideCommand(splitCommandLine("tovipos_print.exe " + protocol::updateCommandLine())).command,
              protocol::Command::Update);
}

// The outcome (and the status) a support program tells, read back by the client from its output.
TEST(Protocol, OutcomeLinesReadBackAsTold) {
    const protocol::DeviceStatus paperOut{true, false, true, true, false, std::nullopt, false, "escpos"};
    for (const protocol::Outcome& o : {protocol::Outcome{}, protocol::Outcome{"NO_PRINTER", "出错\n第二行\\", std::nullopt},
                                       protocol::Outcome{"PAPER_OUT", "缺纸", paperOut}}) {
        // Other lines around it are someone else's (the libraries' reports on standard error may share the pipe).
        EXPECT_EQ(protocol::readOutcome("winprint: x\n" + protocol::outcomeLine(o) + "more\n"), o) << protocol::outcomeLine(o);
    }
    const std::string words = "connected=1 online=0 paperLow=1 paperOut=1 coverOpen=0 drawerOpen=- error=0 source=";
    const std::string ok = "tovipos-outcome OK \n";
    const std::pair<std::string, std::optional<protocol::DeviceStatus>> cases[] = {
        {"tovipos-status " + words + "escpos\n" + ok, paperOut},
        // A status counts only for the outcome line right after it; anything but the exact words is none.
        {"tovipos-status " + words + "escpos\nwinprint: x\n" + ok, std::nullopt},
        {"tovipos-status " + words + "escpos\n" + ok + ok, std::nullopt},
        {"tovipos-status connected=1\n" + ok, std::nullopt},
        {"tovipos-status connected=2" + words.substr(11) + "escpos\n" + ok, std::nullopt},
        {"tovipos-status " + words + "escpos x\n" + ok, std::nullopt},
        {"tovipos-status " + words + "web\n" + ok, std::nullopt},
    };
    for (const auto& [output, status] : cases) EXPECT_EQ(protocol::readOutcome(output).value().status, status) << output;
}

}  // namespace
}  // namespace tovi
