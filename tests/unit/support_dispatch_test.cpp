#include "support/commands.h"

#include <gtest/gtest.h>

#include "common/error.h"
#include "devices/status_record.h"
#include "devices/winprint.h"
#include "support_fakes.h"

namespace {

using namespace tovi::support;
using tovi::support::testing::FakeDevices;
using tovi::support::testing::FakeSystem;
using Args = std::vector<std::string>;

const std::string kWrong = "\n调用参数不正确";

// The support-program table (tests/helpers/support_cases.py) runs every command and the common
// wrong calls through the real program; these are the cases it cannot reach or does not try.
TEST(DecideCommand, CountSelectsTheWord) {
    struct Case {
        Args args;
        std::optional<tovi::protocol::Command> command;
        std::string message;
    };
    const Case cases[] = {
        {{}, std::nullopt, "调用参数不能为空"},
        {{"p", "Print", "f", "USB", "TRUE", "TRUE", "3"}, tovi::protocol::Command::Print, ""},
        {{"p", "opencash"}, std::nullopt, "您的调用命令是:OPENCASH" + kWrong},
        {{"p", "a", "b", "c"}, std::nullopt, "您的调用命令是:A" + kWrong},
        {{"p", "打印é"}, std::nullopt, "您的调用命令是:打印é" + kWrong},
        {{"p", ""}, std::nullopt, "您的调用命令是:" + kWrong},
        {{"p", "print ", "f", "USB", "TRUE", "TRUE", "3"}, std::nullopt, "您的调用命令是:PRINT " + kWrong},
        {{"p", "PrintRaw", "f", "USB"}, tovi::protocol::Command::PrintRaw, ""},
        {{"p", "printraw", "f"}, std::nullopt, "您的调用命令是:PRINTRAW" + kWrong},
    };
    for (const auto& c : cases) {
        const Decision d = decideCommand(c.args);
        EXPECT_EQ(d.command, c.command) << ::testing::PrintToString(c.args);
        EXPECT_EQ(d.message, c.message) << ::testing::PrintToString(c.args);
    }
}

// The parts of one run that a test checks: calls to the libraries, messages shown.
struct Rig {
    FakeDevices devices;
    FakeSystem system;
    void operator()(const Args& args) { dispatchCommand(args, devices, system); }
};

TEST(Dispatch, PrintRoutesAndReports) {
    struct Case {
        const char* name;
        Args args;
        int printResult, writeResult;
        std::string call, port, data, message;
    };
    const std::string job = "A\r\nB\r\n";
    const Case cases[] = {
        {"empty_port_name", {"p", "print", "job", "", "x", "x", "0"}, 0, 0, "winWriteFile", "", "\x1B\x40" "A\nB\n\n", ""},
        {"port_fails_negative", {"p", "print", "job", "COM2", "x", "x", "0"}, 0, -1, "winWriteFile", "COM2",
         "\x1B\x40" "A\nB\n\n", "打印小票出错"},
    };
    for (const auto& c : cases) {
        Rig run;
        run.system.files["job"] = job;
        run.devices.printResult = c.printResult;
        run.devices.writeResult = c.writeResult;
        run(c.args);
        ASSERT_EQ(run.devices.calls.size(), 1u) << c.name;
        const auto& call = run.devices.calls[0];
        EXPECT_EQ(call.name, c.call) << c.name;
        EXPECT_EQ(call.port, c.port) << c.name;
        EXPECT_EQ(::testing::PrintToString(call.data), ::testing::PrintToString(c.data)) << c.name;
        if (call.name == "winWriteFile") {
            EXPECT_EQ(call.a, static_cast<int>(c.data.size())) << c.name;
        }
        EXPECT_EQ(run.system.messages, c.message.empty() ? Args{} : Args{c.message}) << c.name;
    }
}

TEST(Dispatch, FeedLinesAbove255AreAWrongCallAndBelowZeroFeedNothing) {
    struct Case {
        const char* feed;
        bool printed;
        std::size_t feeds;
    };
    const Case cases[] = {{"255", true, 255}, {"+7", true, 7}, {"-1", true, 0}, {"-2147483648", true, 0},
                          {"256", false, 0}, {"2147483647", false, 0}};
    for (const auto& c : cases) {
        Rig run;
        run.system.files["job"] = "x";
        run({"p", "print", "job", "USB", "F", "F", c.feed});
        ASSERT_EQ(run.devices.calls.size(), c.printed ? 1u : 0u) << c.feed;
        if (c.printed) {
            EXPECT_EQ(run.devices.calls[0].data, "\x1B\x40x\n" + std::string(c.feeds, '\n')) << c.feed;
        }
        EXPECT_EQ(run.system.messages, c.printed ? Args{} : Args{"您的调用命令是:PRINT" + kWrong}) << c.feed;
    }
}

// PRINTRAW: the file's bytes as they are, with their length; "USB" needs winPrintBytes.
TEST(Dispatch, RawJobsGoOutExactlyOrNotAtAll) {
    struct Case {
        const char* name;
        Args args;
        bool printBytes;
        int result;
        std::string call, port, message;
    };
    const std::string job("\x1D\x28\x6B\x00\x87\x00\xFF", 7);
    const Case cases[] = {
        {"usb", {"p", "printraw", "job", "usb"}, true, 0, "winPrintBytes", "", ""},
        {"port", {"p", "printraw", "job", "com2"}, true, 0, "winWriteFile", "COM2", ""},
        {"usb_fails", {"p", "printraw", "job", "USB"}, true, 3, "winPrintBytes", "", "打印小票出错"},
        // Another maker's library: winPrint would stop at the first NUL, so nothing is sent.
        {"usb_without_print_bytes", {"p", "printraw", "job", "USB"}, false, 0, "", "", "打印小票出错"},
        {"port_without_print_bytes", {"p", "printraw", "job", "LPT1"}, false, 0, "winWriteFile", "LPT1", ""},
        {"missing", {"p", "printraw", "gone", "USB"}, true, 0, "", "", "打印小票出错"},
        {"empty", {"p", "printraw", "empty", "USB"}, true, 0, "", "", "打印小票出错"},
    };
    for (const auto& c : cases) {
        Rig run;
        run.system.files["job"] = job;
        run.system.files["empty"] = "";
        run.devices.printBytes = c.printBytes;
        run.devices.printResult = run.devices.writeResult = c.result;
        run(c.args);
        EXPECT_EQ(run.devices.names(), c.call.empty() ? Args{} : Args{c.call}) << c.name;
        if (!c.call.empty()) {
            EXPECT_EQ(run.devices.calls[0].data, job) << c.name;
            EXPECT_EQ(run.devices.calls[0].a, 7) << c.name;
            EXPECT_EQ(run.devices.calls[0].port, c.port) << c.name;
        }
        EXPECT_EQ(run.system.messages, c.message.empty() ? Args{} : Args{c.message}) << c.name;
    }
}

TEST(Dispatch, ErrorsEndTheRunBeforeAnyDeviceCall) {
    struct Case {
        Args args;
        const char* kind;
    };
    const Case cases[] = {
        {{"p", "print", "missing", "USB", "TRUE", "TRUE", "x"}, "ValueError"},  // numbers first
        {{"p", "print", "locked", "USB", "TRUE", "TRUE", "1"}, "IOError"},
        {{"p", "display", "2", "1", "COM-", "2400"}, "ValueError"},
        {{"p", "display", "2", "1", "COM3", ""}, "ValueError"},
    };
    for (const auto& c : cases) {
        Rig run;
        run.system.files["job"] = "x";
        run.system.unreadable.push_back("locked");
        try {
            run(c.args);
            ADD_FAILURE() << "no error for " << ::testing::PrintToString(c.args);
        } catch (const tovi::Error& e) {
            EXPECT_EQ(e.kind(), c.kind) << ::testing::PrintToString(c.args);
        }
        EXPECT_TRUE(run.devices.calls.empty()) << ::testing::PrintToString(c.args);
        EXPECT_TRUE(run.system.messages.empty());
    }
}

TEST(Dispatch, Display) {
    struct Case {
        const char* name;
        Args args;
        int initResult, sendResult;
        Args calls;
        int port, baud;
        std::string sent, message;
    };
    const std::string amount = std::string("\x1B\x73" "2" "\x1B\x51\x41" "12.50\r");
    const Case cases[] = {
        {"clear", {"p", "display", "5", "99", "COM1", "9_600"}, 1, 1, {"com_init", "com_send", "com_rest"}, 1, 9600,
         "\x0C", ""},
        {"init_fails", {"p", "display", "2", "1", "com4", "2400"}, 0x100, 1, {"com_init"}, 4, 2400, "",
         "顾客显示屏com4打开出错\n请检查顾客显示屏接口设置是否正确"},
        {"high_bits_ignored", {"p", "display", "2", "12.50", "COM3", "2400"}, 0x301, 0x7F01,
         {"com_init", "com_send", "com_rest"}, 3, 2400, amount, ""},
    };
    for (const auto& c : cases) {
        Rig run;
        run.devices.initResult = c.initResult;
        run.devices.sendResult = c.sendResult;
        run(c.args);
        EXPECT_EQ(run.devices.names(), c.calls) << c.name;
        if (!c.calls.empty()) {
            EXPECT_EQ(run.devices.calls[0].a, c.port) << c.name;
            EXPECT_EQ(run.devices.calls[0].b, c.baud) << c.name;
        }
        if (c.calls.size() > 1) {
            EXPECT_EQ(::testing::PrintToString(run.devices.calls[1].data), ::testing::PrintToString(c.sent)) << c.name;
            EXPECT_EQ(run.devices.calls[1].a, static_cast<int>(c.sent.size())) << c.name;
        }
        EXPECT_EQ(run.system.messages, c.message.empty() ? Args{} : Args{c.message}) << c.name;
    }
}

// What winPrinterStatus tells decides a job: refused before a byte is sent (first that holds:
// cover, paper, offline), or sent and the status after it carried; without check_status it asks once.
TEST(Dispatch, PrinterStatusAroundAJob) {
    using tovi::devices::statusRecord;
    const auto told = [](std::optional<bool> cover, std::optional<bool> paperOut, std::optional<bool> online) {
        tovi::protocol::DeviceStatus s;
        s.coverOpen = cover, s.paperOut = paperOut, s.online = online, s.source = "escpos";
        return s;
    };
    WinPrinterStatus nonsense = statusRecord(told(true, true, true));
    nonsense.online = 7, nonsense.source = 9;  // no words for these: unknown, and source "none"
    tovi::protocol::DeviceStatus understood = told(true, true, {});
    understood.source = "none";
    struct Case {
        const char* name;
        Args args;
        std::pair<int, WinPrinterStatus> answer;
        Args calls;
        std::string code;
        std::optional<tovi::protocol::DeviceStatus> status;
    };
    const Case cases[] = {
        {"not asked", {"p", "opencash", "usb"}, {WINPRINT_NOT_ASKED, {}}, {"winPrinterStatus", "winPrint"}, "OK", {}},
        {"open, empty, offline", {"p", "opencash", "usb"}, {0, statusRecord(told(true, true, false))},
         {"winPrinterStatus"}, "COVER_OPEN", told(true, true, false)},
        {"empty, offline", {"p", "opencash", "com1"}, {0, statusRecord(told(false, true, false))}, {"winPrinterStatus"},
         "PAPER_OUT", told(false, true, false)},
        {"nothing known", {"p", "opencash", "usb"}, {0, statusRecord(told({}, {}, {}))},
         {"winPrinterStatus", "winPrint", "winPrinterStatus"}, "OK", told({}, {}, {})},
        {"a library's nonsense", {"p", "status", "usb"}, {0, nonsense}, {"winPrinterStatus"}, "OK", understood},
    };
    for (const auto& c : cases) {
        Rig run;
        run.devices.statusAnswers = {c.answer};
        const Outcome outcome = dispatchCommand(c.args, run.devices, run.system);
        EXPECT_EQ(run.devices.names(), c.calls) << c.name;
        EXPECT_EQ(outcome.code, c.code) << c.name;
        EXPECT_EQ(outcome.status, c.status) << c.name;
    }
}

TEST(Binding, PlainNameFirstThenDecorations) {
    const auto names = exportNames("com_init");
    ASSERT_EQ(names.size(), 52u);
    EXPECT_EQ(names[0], "com_init");
    EXPECT_EQ(names[1], "_com_init@0");
    EXPECT_EQ(names[3], "_com_init@8");
    EXPECT_EQ(names[51], "_com_init@200");

    int plain = 0, decorated = 0;
    struct Case {
        std::vector<std::pair<std::string, void*>> exports;
        void* expected;
    };
    const Case cases[] = {
        {{{"com_init", &plain}, {"_com_init@8", &decorated}}, &plain},
        {{{"_com_init@8", &decorated}}, &decorated},
        {{{"_com_init@200", &decorated}}, &decorated},
        {{{"_com_init@12", &plain}, {"_com_init@8", &decorated}}, &decorated},  // first in order wins
    };
    for (const auto& c : cases) {
        const auto lookup = [&](const char* name) -> void* {
            for (const auto& [n, p] : c.exports) {
                if (n == name) return p;
            }
            return nullptr;
        };
        EXPECT_EQ(findExport(lookup, "com_init"), c.expected);
    }
    const std::vector<std::string> misses = {"com_init@8", "_com_init@2", "_com_init@204", "_com_init", "Com_init"};
    for (const auto& miss : misses) {
        try {
            findExport([&](const char* name) -> void* { return miss == name ? &plain : nullptr; }, "com_init");
            ADD_FAILURE() << miss;
        } catch (const tovi::BindError& e) {
            EXPECT_TRUE(e.missingFunction());
            EXPECT_STREQ(e.what(), "could not import: com_init");
        }
    }
}

}  // namespace
