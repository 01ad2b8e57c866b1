// Device requests: the page's JSON text to (job file bytes, command line), and the refusals.
#include <gtest/gtest.h>

#include <functional>

#include "client/requests.h"
#include "client/results.h"
#include "common/support_protocol.h"

namespace tovi::client {
namespace {

struct PrintCase {
    const char* name;
    PrintKind kind;
    std::string json;
    std::string file;
    std::string bytes;
    std::string commandLine;
};

class PrintRequests : public ::testing::TestWithParam<PrintCase> {};

TEST_P(PrintRequests, GiveTheJobFileAndTheCommandLine) {
    const PrintCase& c = GetParam();
    const DeviceCommand got = printRequest(c.kind, c.json);
    ASSERT_TRUE(got.job.has_value());
    EXPECT_EQ(got.job->name, c.file);
    EXPECT_EQ(got.job->bytes, c.bytes);
    EXPECT_EQ(got.commandLine, c.commandLine);
}

std::string req(const std::string& data, const std::string& blankrow = "\"3\"", const std::string& extra = "") {
    return R"({"interface":"USB","opencash":"TRUE","cut":"TRUE","blankrow":)" + blankrow + R"(,"data":)" + data +
           extra + "}";
}

INSTANTIATE_TEST_SUITE_P(
    Table, PrintRequests,
    ::testing::Values(
        PrintCase{"ReceiptChineseTwoLines", PrintKind::Receipt, req(R"("中文\r\n合计 12.50")"), "PrintOut1.txt",
                  "\xD6\xD0\xCE\xC4\r\n\xBA\xCF\xBC\xC6 12.50", "print PrintOut1.txt USB TRUE TRUE 3"},
        PrintCase{"SettlementSameValues", PrintKind::Settlement, req(R"("A")"), "RiJie.txt", "A",
                  "print RiJie.txt USB TRUE TRUE 3"},
        PrintCase{"LfStaysOneByteNoFinalBreakAdded", PrintKind::Receipt, req(R"("a\nb")"), "PrintOut1.txt", "a\nb",
                  "print PrintOut1.txt USB TRUE TRUE 3"},
        PrintCase{"ThaiLetterBecomesQuestionMark", PrintKind::Receipt, req("\"中文A\xE0\xB8\x81\""), "PrintOut1.txt",
                  "\xD6\xD0\xCE\xC4\x41?", "print PrintOut1.txt USB TRUE TRUE 3"},
        PrintCase{"EmptyDataGivesEmptyFile", PrintKind::Receipt, req(R"("")"), "PrintOut1.txt", "",
                  "print PrintOut1.txt USB TRUE TRUE 3"},
        PrintCase{"NumberBlankrowIsAnEmptyWord", PrintKind::Receipt, req(R"("x")", "3"), "PrintOut1.txt", "x",
                  "print PrintOut1.txt USB TRUE TRUE "},
        PrintCase{"NullAndArrayValuesAreEmpty", PrintKind::Receipt,
                  R"({"interface":null,"opencash":[1],"cut":{},"blankrow":true,"data":5})", "PrintOut1.txt", "",
                  "print PrintOut1.txt    "},
        PrintCase{"ExtraMembersIgnored", PrintKind::Receipt, req(R"("x")", "\"3\"", R"(,"Data":"y","copies":"2")"),
                  "PrintOut1.txt", "x", "print PrintOut1.txt USB TRUE TRUE 3"},
        PrintCase{"ValuesGoInUnchanged", PrintKind::Receipt,
                  R"({"interface":"lpt1","opencash":"true","cut":"no","blankrow":"-03","data":"x"})", "PrintOut1.txt",
                  "x", "print PrintOut1.txt lpt1 true no -03"},
        PrintCase{"BlanksAndQuotesStayForTheSupportProgramToCount", PrintKind::Receipt,
                  R"({"interface":"US B","opencash":"\"T","cut":"TRUE","blankrow":"3","data":"x"})", "PrintOut1.txt",
                  "x", "print PrintOut1.txt US B \"T TRUE 3"},
        PrintCase{"EscapedChineseDecodesBeforeConversion", PrintKind::Receipt, req(R"("\u4e2d")"), "PrintOut1.txt",
                  "\xD6\xD0", "print PrintOut1.txt USB TRUE TRUE 3"}),
    [](const auto& p) { return std::string(p.param.name); });

// {"interface":"USB","pad":"xx..."} of exactly n bytes.
std::string sized(std::size_t n) {
    const std::string head = R"({"interface":"USB","pad":")", tail = "\"}";
    return head + std::string(n - head.size() - tail.size(), 'x') + tail;
}

struct OtherCase {
    const char* name;
    DeviceCommand (*build)(std::string_view);
    std::string json;
    std::string commandLine;
};

class DrawerAndDisplay : public ::testing::TestWithParam<OtherCase> {};

TEST_P(DrawerAndDisplay, GiveTheCommandLineAndNoFile) {
    const DeviceCommand got = GetParam().build(GetParam().json);
    EXPECT_FALSE(got.job.has_value());
    EXPECT_EQ(got.commandLine, GetParam().commandLine);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DrawerAndDisplay,
    ::testing::Values(
        OtherCase{"Opencash", opencashRequest, R"({"interface":"USB"})", "opencash USB"},
        OtherCase{"OpencashIgnoresPrintMembers", opencashRequest,
                  R"({"opencash":"FALSE","cut":"TRUE","data":"x","interface":"COM1"})", "opencash COM1"},
        OtherCase{"OpencashEmptyInterfaceKeepsTheBlank", opencashRequest, R"({"interface":""})", "opencash "},
        OtherCase{"StatusNamesThePrinterOnly", statusRequest, R"({"interface":"usb","id":"s1","data":"x"})",
                  "status usb"},
        OtherCase{"DisplayPortComesThird", displayRequest,
                  R"({"interface":"COM3","display_type":"2","ysje":"12.50","baudrate":"9600"})",
                  "display 2 12.50 COM3 9600"},
        OtherCase{"DisplayClearStillPassesAll", displayRequest,
                  R"({"baudrate":"2400","ysje":"0","display_type":"5","interface":"COM1"})", "display 5 0 COM1 2400"},
        OtherCase{"DisplayNumberAmountIsEmpty", displayRequest,
                  R"({"interface":"COM3","display_type":"2","ysje":12.5,"baudrate":"9600"})", "display 2  COM3 9600"},
        // Parsed without recursion: a valid request nested a million deep costs no stack.
        OtherCase{"MillionDeepIgnoredMember", opencashRequest,
                  R"({"interface":"USB","x":)" + std::string(1000000, '[') + std::string(1000000, ']') + "}",
                  "opencash USB"},
        OtherCase{"ExactlyTheSizeLimit", opencashRequest, sized(kMaxRequestBytes), "opencash USB"}),
    [](const auto& p) { return std::string(p.param.name); });

// toviPrintRaw: the job file holds the decoded bytes exactly, whatever they are.
TEST(RawRequests, WriteTheDecodedBytes) {
    struct Case {
        const char* data;
        std::string bytes;
    };
    const Case cases[] = {
        {"AA==", std::string(1, '\0')},
        {"G0AdVkIA", std::string("\x1B\x40\x1D\x56\x42\x00", 6)},
        {"/+7/", "\xFF\xEE\xFF"},
        {"AAEC", std::string("\x00\x01\x02", 3)},
        {"gIE=", "\x80\x81"},
    };
    for (const Case& c : cases) {
        const DeviceCommand got = printRawRequest(std::string(R"({"interface":"USB","data":")") + c.data + "\"}");
        ASSERT_TRUE(got.job.has_value()) << c.data;
        EXPECT_EQ(got.job->name, "PrintRaw1.bin");
        EXPECT_EQ(got.job->bytes, c.bytes) << c.data;
        EXPECT_EQ(got.commandLine, "printraw PrintRaw1.bin USB");
    }
}

struct RefusalCase {
    const char* name;
    DeviceCommand (*build)(std::string_view);
    std::string json;
    std::string message;
    std::string kind;
};

DeviceCommand receipt(std::string_view j) { return printRequest(PrintKind::Receipt, j); }

class Refusals : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(Refusals, ThrowARequestErrorNamingTheProblem) {
    const RefusalCase& c = GetParam();
    try {
        GetParam().build(c.json);
        FAIL() << "accepted";
    } catch (const RequestError& e) {
        EXPECT_EQ(std::string(e.what()), c.message);
        EXPECT_EQ(e.kind(), c.kind);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, Refusals,
    ::testing::Values(
        RefusalCase{"Empty", receipt, "", "request is not a JSON object", "ValueError"},
        RefusalCase{"Array", receipt, R"(["USB"])", "request is not a JSON object", "ValueError"},
        RefusalCase{"String", opencashRequest, R"("USB")", "request is not a JSON object", "ValueError"},
        RefusalCase{"TrailingText", opencashRequest, R"({"interface":"USB"} x)", "request is not a JSON object",
                    "ValueError"},
        RefusalCase{"Truncated", displayRequest, R"({"interface":"COM3")", "request is not a JSON object",
                    "ValueError"},
        RefusalCase{"OnlyDataMissing", receipt, R"({"interface":"USB","opencash":"T","cut":"T","blankrow":"3"})",
                    "missing key: data", "KeyError"},
        RefusalCase{"FirstMissingKeyIsNamed", receipt, R"({"data":"x"})", "missing key: interface", "KeyError"},
        RefusalCase{"CapitalisedKeyCountsAsMissing", opencashRequest, R"({"Interface":"USB"})",
                    "missing key: interface", "KeyError"},
        RefusalCase{"RawWithoutData", printRawRequest, R"({"interface":"USB"})", "missing key: data", "KeyError"},
        // Base64 of RFC 4648 only: whole padded groups of the standard alphabet and nothing else.
        RefusalCase{"RawEmptyData", printRawRequest, R"({"interface":"USB","data":""})", "data holds no bytes",
                    "ValueError"},
        RefusalCase{"RawNumberData", printRawRequest, R"({"interface":"USB","data":12})", "data holds no bytes",
                    "ValueError"},
        RefusalCase{"RawNoPadding", printRawRequest, R"({"interface":"USB","data":"G0A"})", "data is not base64",
                    "ValueError"},
        RefusalCase{"RawLineBreak", printRawRequest, R"({"interface":"USB","data":"G0Ad\nVkIA"})",
                    "data is not base64", "ValueError"},
        RefusalCase{"RawUrlAlphabet", printRawRequest, R"({"interface":"USB","data":"_-7_"})", "data is not base64",
                    "ValueError"},
        RefusalCase{"RawPaddingInside", printRawRequest, R"({"interface":"USB","data":"AA==AAAA"})",
                    "data is not base64", "ValueError"},
        RefusalCase{"RawPaddingNotAtTheEnd", printRawRequest, R"({"interface":"USB","data":"A=AA"})",
                    "data is not base64", "ValueError"},
        RefusalCase{"RawLeftoverBits", printRawRequest, R"({"interface":"USB","data":"AB=="})", "data is not base64",
                    "ValueError"},
        RefusalCase{"RawTooMuchPadding", printRawRequest, R"({"interface":"USB","data":"A==="})", "data is not base64",
                    "ValueError"},
        RefusalCase{"RawPathForInterface", printRawRequest, R"({"interface":"../x","data":"AA=="})",
                    "interface is not a device name: ../x", "ValueError"},
        RefusalCase{"DisplayWithoutBaudrate", displayRequest, R"({"interface":"COM3","display_type":"2","ysje":"1"})",
                    "missing key: baudrate", "KeyError"},
        RefusalCase{"MillionDeepUnclosed", opencashRequest, R"({"interface":"USB","x":)" + std::string(1000000, '['),
                    "request is not a JSON object", "ValueError"},
        RefusalCase{"OverTheSizeLimit", opencashRequest, sized(kMaxRequestBytes + 1), "request is larger than 4 MiB",
                    "ValueError"},
        // Control characters would change the words the support program sees; "data" may hold them.
        RefusalCase{"LineBreakInBlankrow", receipt, req(R"("x\ny")", R"("3\nupdate")"),
                    "control character in blankrow", "ValueError"},
        RefusalCase{"CarriageReturnInCut", receipt,
                    R"({"interface":"USB","opencash":"T","cut":"T\r","blankrow":"3","data":"x"})",
                    "control character in cut", "ValueError"},
        RefusalCase{"TabInOpencash", receipt,
                    R"({"interface":"USB","opencash":"T\tx","cut":"T","blankrow":"3","data":"x"})",
                    "control character in opencash", "ValueError"},
        RefusalCase{"NulInInterface", opencashRequest, R"({"interface":"USB\u0000"})", "control character in interface",
                    "ValueError"},
        RefusalCase{"DeleteInAmount", displayRequest,
                    R"({"interface":"COM3","display_type":"2","ysje":"1\u007f","baudrate":"9600"})",
                    "control character in ysje", "ValueError"},
        RefusalCase{"EscapeInDisplayType", displayRequest,
                    R"({"interface":"COM3","display_type":"\u001b","ysje":"1","baudrate":"9600"})",
                    "control character in display_type", "ValueError"}),
    [](const auto& p) { return std::string(p.param.name); });

// "interface" must name a device: every request that has one applies the same rule.
TEST(InterfaceNames, DeviceNamesPassAndAnythingLikeAPathIsRefused) {
    struct Case {
        const char* name;
        bool accepted;
    };
    const Case cases[] = {
        {"USB", true},
        {"usb", true},
        {"COM3", true},
        {"LPT1", true},
        {"RECEIPT", true},
        {"打印机", true},
        {"", true},  // an empty word: the support program reports the wrong count
        {"config.ini", false},
        {"cacert.pem", false},
        {"tovipos.exe", false},
        {"..", false},
        {"C:", false},
        {"C:x", false},
        {"COM1:", false},
        {"a/b", false},
        {"/dev/lp0", false},
        {"a\\b", false},
        {"\\\\attacker\\share\\x", false},
        {"\\\\.\\PhysicalDrive0", false},
        {"\\\\?\\C:\\x", false},
    };
    // The value as a JSON string's text.
    const auto json = [](std::string_view value) {
        std::string out;
        for (const char ch : value) {
            if (ch == '\\') out += '\\';
            out += ch;
        }
        return out;
    };
    const auto print = [&](const std::string& i) {
        return printRequest(PrintKind::Receipt,
                            R"({"interface":")" + json(i) + R"(","opencash":"F","cut":"F","blankrow":"0","data":"x"})");
    };
    const auto drawer = [&](const std::string& i) { return opencashRequest(R"({"interface":")" + json(i) + R"("})"); };
    const auto display = [&](const std::string& i) {
        return displayRequest(R"({"interface":")" + json(i) + R"(","display_type":"2","ysje":"1","baudrate":"9600"})");
    };
    const auto raw = [&](const std::string& i) { return printRawRequest(R"({"interface":")" + json(i) + R"(","data":"AA=="})"); };
    const auto status = [&](const std::string& i) { return statusRequest(R"({"interface":")" + json(i) + R"("})"); };
    using Build = std::function<DeviceCommand(const std::string&)>;
    for (const Case& c : cases) {
        for (const Build& build : {Build(print), Build(drawer), Build(display), Build(raw), Build(status)}) {
            if (c.accepted) {
                EXPECT_NO_THROW(build(c.name)) << c.name;
            } else {
                try {
                    build(c.name);
                    ADD_FAILURE() << "accepted " << c.name;
                } catch (const RequestError& e) {
                    EXPECT_EQ(e.kind(), "ValueError") << c.name;
                    EXPECT_TRUE(std::string(e.what()).starts_with("interface is not a device name: ")) << c.name;
                }
            }
        }
    }
}

// The support program's end (its outcome line, exit code, time-out) and the queue's own ends, to the
// page's result.
TEST(Results, OfEachEndOfARequest) {
    const auto told = [](std::string code, std::string message, std::optional<protocol::DeviceStatus> status = {}) {
        return "winprint: no device\n" + protocol::outcomeLine({std::move(code), std::move(message), std::move(status)});
    };
    // connected, online, paperLow, paperOut, coverOpen, drawerOpen, error, source
    const protocol::DeviceStatus empty{true, false, true, true, false, std::nullopt, false, "escpos"};
    const protocol::DeviceStatus unknown{}, gone{false, {}, {}, {}, {}, {}, {}, "none"};
    struct Case {
        FinishedRequest f;
        Result result;
    };
    const Case cases[] = {
        {{.exitCode = 0, .output = told("OK", "")}, {}},
        {{.exitCode = 0, .output = told("NO_PRINTER", "打印小票出错")}, {Outcome::Failed, "NO_PRINTER", "打印小票出错"}},
        {{.exitCode = 0, .output = told("WRONG_CALL", "您的调用命令是:PRINT\n调用参数不正确\\")},
         {Outcome::Failed, "WRONG_CALL", "您的调用命令是:PRINT\n调用参数不正确\\"}},
        {{.exitCode = 1, .output = told("SOMETHING_NEW", "x")}, {Outcome::Failed, "FAILED", "x"}},
        {{.exitCode = 0, .output = "tovipos-outcome OK"}, {Outcome::Failed, "FAILED", "the support program told no outcome (exit code 0)"}},
        {{.exitCode = 137, .timedOut = true, .output = told("DISPLAY_FAILED", "顾客显示屏发送失败")},
         {Outcome::Failed, "TIMEOUT", "顾客显示屏发送失败"}},
        {{.exitCode = 137, .timedOut = true}, {Outcome::Failed, "TIMEOUT", "the support program did not end within 600 s"}},
        {{.expired = true}, {Outcome::Expired, "EXPIRED", ""}},
        {{.problem = "cannot write PrintOut1.txt: No space left on device", .problemKind = "IOError", .jobFileFailed = true},
         {Outcome::Refused, "JOB_FILE", "设备请求无效，未执行：cannot write PrintOut1.txt: No space left on device [IOError]"}},
        {{.problem = "cannot start tovipos_print", .problemKind = "OSError"},
         {Outcome::Failed, "FAILED", "设备请求无效，未执行：cannot start tovipos_print [OSError]"}},
        {{.problem = "too many", .problemKind = "OverflowError", .refusal = "QUEUE_FULL"},
         {Outcome::Refused, "QUEUE_FULL", "设备请求无效，未执行：too many [OverflowError]"}},
        // A status request always gets a status; other requests only the one the support program read.
        {{.kind = "toviDeviceStatus", .exitCode = 0, .output = told("OK", "", empty)}, {Outcome::Ok, "", "", empty}},
        {{.kind = "toviDeviceStatus", .exitCode = 0, .output = told("NO_PRINTER", "打印小票出错")},
         {Outcome::Failed, "NO_PRINTER", "打印小票出错", gone}},
        {{.kind = "toviDeviceStatus", .exitCode = 0, .output = told("FAILED", "x")}, {Outcome::Failed, "FAILED", "x", unknown}},
        {{.kind = "toviDeviceStatus", .problem = "p", .problemKind = "ValueError", .refusal = "BAD_REQUEST"},
         {Outcome::Refused, "BAD_REQUEST", "设备请求无效，未执行：p [ValueError]", unknown}},
        {{.kind = "toviPrint", .exitCode = 0, .output = told("PAPER_OUT", "打印小票出错\n缺纸", empty)},
         {Outcome::Failed, "PAPER_OUT", "打印小票出错\n缺纸", empty}},
        {{.exitCode = 0, .output = told("COVER_OPEN", "c")}, {Outcome::Failed, "COVER_OPEN", "c"}},
        {{.exitCode = 0, .output = told("OFFLINE", "o")}, {Outcome::Failed, "OFFLINE", "o"}},
    };
    for (const Case& c : cases) EXPECT_EQ(resultOf(c.f), c.result) << c.f.output << c.f.problem;
}

// The event's status is built from the parsed facts: unknown ones are null.
TEST(Results, TheEventsStatus) {
    const protocol::DeviceStatus status{true, true, false, false, {}, {}, {}, "escpos"};
    const std::string script = resultScript("s1", "toviDeviceStatus", {Outcome::Ok, "", "", status}, false);
    EXPECT_NE(script.find(R"("status":{"connected":true,"online":true,"paperLow":false,"paperOut":false,)"
                          R"("coverOpen":null,"drawerOpen":null,"error":null,"source":"escpos"},"late":false})"),
              std::string::npos) << script;
}

TEST(Results, OptionsOfARequest) {
    struct Case {
        std::string json;
        std::optional<std::string> id;
        std::optional<std::int64_t> expireMs;
        bool page;
        bool malformed;
    };
    const Case cases[] = {
        {R"({"id":"A-z.0_9:x","expireMs":86400000,"report":"page"})", "A-z.0_9:x", 86400000, true, false},
        {R"({"id":"a b","report":"Page"})", std::nullopt, std::nullopt, false, true},
        {R"({"id":")" + std::string(65, 'x') + R"("})", std::nullopt, std::nullopt, false, true},
        {R"({"id":7})", std::nullopt, std::nullopt, false, true},
        {R"({"id":"r1","expireMs":0})", "r1", std::nullopt, false, true},
        {R"({"expireMs":86400001})", std::nullopt, std::nullopt, false, true},
        {R"({"expireMs":5.0})", std::nullopt, std::nullopt, false, true},
        {R"(["id","r1"])", std::nullopt, std::nullopt, false, false},
    };
    for (const Case& c : cases) {
        const RequestOptions o = readOptions(c.json);
        EXPECT_EQ(o.id, c.id) << c.json;
        EXPECT_EQ(o.expireMs, c.expireMs) << c.json;
        EXPECT_EQ(o.pageReports, c.page) << c.json;
        EXPECT_EQ(!o.problem.empty(), c.malformed) << c.json;
    }
}

// Held results are bounded: the oldest go first, and the rest arrive in order, each once.
TEST(Results, HeldAtMostSixtyFourOldestDroppedFirst) {
    std::vector<std::string> scripts, logs;
    PageResults results({[&](const std::string&, const std::string& s) { scripts.push_back(s); },
                         [](const std::string&) { return true; }, [&](const std::string& t) { logs.push_back(t); }},
                        "file://");
    for (int i = 0; i < 66; ++i) results.close(results.open("r" + std::to_string(i), "toviPrint"), Result{});
    EXPECT_EQ(logs.size(), 2u);
    results.documentReady();
    for (int i = 2; i < 66; ++i) {
        ASSERT_EQ(scripts.size(), static_cast<std::size_t>(i - 1));
        EXPECT_NE(scripts.back().find(R"("id":"r)" + std::to_string(i) + R"(")"), std::string::npos);
        EXPECT_NE(scripts.back().find(R"("late":true)"), std::string::npos);
        results.scriptDone(true, "file://");
    }
    EXPECT_EQ(scripts.size(), 64u);
}

// A reload whose ready overtakes the engine's answer: the dropped result goes to the new document,
// late, instead of waiting for a ready that already came.
TEST(Results, AReadyThatOvertakesTheAnswerTakesTheResult) {
    std::vector<std::string> scripts;
    PageResults results({[&](const std::string&, const std::string& s) { scripts.push_back(s); },
                         [](const std::string&) { return true; }, [](const std::string&) {}},
                        "file://");
    results.documentReady();
    results.close(results.open("r1", "toviPrint"), Result{});
    ASSERT_EQ(scripts.size(), 1u);
    EXPECT_NE(scripts[0].find(R"("late":false)"), std::string::npos);
    results.documentReady();
    results.scriptDone(false, nullptr);
    ASSERT_EQ(scripts.size(), 2u);
    EXPECT_NE(scripts[1].find(R"("late":true)"), std::string::npos);
    results.scriptDone(true, "file://");
    results.documentReady();
    EXPECT_EQ(scripts.size(), 2u);
}

}  // namespace
}  // namespace tovi::client
