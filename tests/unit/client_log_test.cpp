// The client's event log: the lines' format and the roll-over.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <thread>

#include "client/log.h"
#include "common/paths.h"

namespace tovi::client {
namespace {

namespace fs = std::filesystem;

constexpr LocalTime kWinterInShanghai{2026, 12, 8, 14, 3, 5, 480};

TEST(LogLines, TimestampAndText) {
    struct Case {
        LocalTime time;
        std::string text;
        std::string line;
    } cases[] = {
        {kWinterInShanghai, "start tovipos 1.0.0", "2026-12-08T14:03:05+08:00 start tovipos 1.0.0\n"},
        {{2027, 1, 2, 3, 4, 5, 0}, "exit, status 0", "2027-01-02T03:04:05+00:00 exit, status 0\n"},
        {{2026, 7, 1, 23, 59, 59, -210}, "x", "2026-07-01T23:59:59-03:30 x\n"},  // Newfoundland summer
        {{2026, 3, 9, 0, 0, 0, 345}, "", "2026-03-09T00:00:00+05:45 \n"},
        {{2026, 10, 25, 1, 30, 0, -60}, "y", "2026-10-25T01:30:00-01:00 y\n"},
        // Text from outside stays on its line.
        {kWinterInShanghai, "a\nb\r\tc\x01\x7F" "d", "2026-12-08T14:03:05+08:00 a\\nb\\r\\tc\\x01\\x7Fd\n"},
        {kWinterInShanghai, "打印 C:\\tovipos\\x", "2026-12-08T14:03:05+08:00 打印 C:\\tovipos\\x\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(logLine(c.time, c.text), c.line) << c.text;
}

TEST(LogLines, LongTextIsCutAtACharacterBoundary) {
    const std::string stamp = "2026-12-08T14:03:05+08:00 ";
    struct Case {
        std::string text;
        std::string kept;
        std::size_t more;
    } cases[] = {
        {std::string(kMaxEventText, 'a'), std::string(kMaxEventText, 'a'), 0},
        {std::string(kMaxEventText + 5, 'a'), std::string(kMaxEventText, 'a'), 5},
        // "中" is three bytes: one that would straddle the limit goes whole.
        {std::string(kMaxEventText - 1, 'a') + "中", std::string(kMaxEventText - 1, 'a'), 3},
        {std::string(kMaxEventText - 2, 'a') + "中中", std::string(kMaxEventText - 2, 'a'), 6},
    };
    for (const auto& c : cases) {
        const std::string tail = c.more ? " ... (" + std::to_string(c.more) + " bytes more)" : "";
        EXPECT_EQ(logLine(kWinterInShanghai, c.text), stamp + c.kept + tail + "\n") << c.text.size();
    }
}

TEST(LogLines, EventTexts) {
    struct Case {
        std::string got;
        std::string want;
    } cases[] = {
        {deviceRequestText("print", "print PrintOut1.txt USB TRUE TRUE 3", 0),
         "device request print: print PrintOut1.txt USB TRUE TRUE 3, exit code 0"},
        {deviceRequestText("opencash", "opencash LPT1", std::nullopt), "device request opencash: opencash LPT1, started"},
        {deviceRequestText("display", "display 2 12.50 COM3 2400", 1),
         "device request display: display 2 12.50 COM3 2400, exit code 1"},
        // An access violation, as a 32-bit signed and as an unsigned exit code.
        {deviceRequestText("print", "print x", -1073741819L),
         "device request print: print x, exit code -1073741819 (0xC0000005)"},
        {deviceRequestText("print", "print x", 3221225477L),
         "device request print: print x, exit code 3221225477 (0xC0000005)"},
        {finishedRequestText({.kind = "toviDeviceStatus", .commandLine = "status LPT9", .exitCode = 0, .id = "s1",
                              .tellOutcome = true, .output = "tovipos-outcome NO_PRINTER x\n"}),
         "device request toviDeviceStatus: status LPT9, exit code 0; result failed NO_PRINTER, id s1, status none "
         "connected=0 online=- paperLow=- paperOut=- coverOpen=- drawerOpen=- error=-"},
        {updateOutcomeText({}), "update: up to date"},
        {updateOutcomeText({"tovipos.exe"}), "update: 1 file updated: tovipos.exe"},
        {updateOutcomeText({"winprint.dll", "", "图片\\logo.png"}),
         "update: 3 files updated: winprint.dll, (unnamed), 图片\\logo.png"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.got, c.want);
}

class LogFile : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::temp_directory_path() / ("tovi_log_" + std::to_string(::getpid()) + "_" + info->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        path_ = (dir_ / kLogFileName).string();
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Whether line starts with a timestamp of the form 2026-12-08T14:03:05+08:00 and a blank.
    static bool stamped(const std::string& line) {
        constexpr std::string_view form = "dddd-dd-ddTdd:dd:dd+dd:dd ";
        if (line.size() < form.size()) return false;
        for (std::size_t i = 0; i < form.size(); ++i) {
            const char c = line[i];
            const bool ok = form[i] == 'd' ? c >= '0' && c <= '9' : form[i] == '+' ? c == '+' || c == '-' : c == form[i];
            if (!ok) return false;
        }
        return true;
    }

    // The texts of a log file's lines, each checked for its timestamp.
    static std::vector<std::string> texts(const std::string& path) {
        std::vector<std::string> out;
        if (!fs::exists(path)) return out;
        const std::string data = readFile(path);
        EXPECT_TRUE(data.empty() || data.back() == '\n') << path;
        std::size_t start = 0;
        for (std::size_t end; (end = data.find('\n', start)) != std::string::npos; start = end + 1) {
            const std::string one = data.substr(start, end - start);
            EXPECT_TRUE(stamped(one)) << one;
            out.push_back(stamped(one) ? one.substr(26) : one);
        }
        return out;
    }

    fs::path dir_;
    std::string path_;
};

TEST_F(LogFile, RollsOverBeforePassingTheLimit) {
    // Every line here is 26 + 8 + 1 = 35 bytes.
    using Texts = std::vector<std::string>;
    struct Case {
        std::uint64_t limit;
        int events;
        Texts current;
        Texts previous;
    } cases[] = {
        {1 << 20, 3, {"event 01", "event 02", "event 03"}, {}},
        {105, 3, {"event 01", "event 02", "event 03"}, {}},  // exactly at the limit
        {104, 3, {"event 03"}, {"event 01", "event 02"}},
        {104, 5, {"event 05"}, {"event 03", "event 04"}},  // the older .1 is replaced
        {10, 2, {"event 02"}, {"event 01"}},               // a line longer than the limit still goes in
    };
    for (const auto& c : cases) {
        fs::remove(path_);
        fs::remove(path_ + ".1");
        EventLog log(path_, c.limit);
        for (int i = 1; i <= c.events; ++i) {
            EXPECT_TRUE(log.write((i < 10 ? "event 0" : "event ") + std::to_string(i)));
        }
        EXPECT_EQ(texts(path_), c.current) << c.limit << " " << c.events;
        EXPECT_EQ(texts(path_ + ".1"), c.previous) << c.limit << " " << c.events;
    }
}

TEST_F(LogFile, UnwritableLogIsSkipped) {
    EventLog missingFolder((dir_ / "no such folder" / kLogFileName).string());
    EXPECT_FALSE(missingFolder.write("lost"));

    // The roll-over cannot replace a folder: the line is dropped, the full log stays as it was.
    EventLog log(path_, 40);
    EXPECT_TRUE(log.write("kept"));
    fs::create_directories(path_ + ".1/x");
    EXPECT_FALSE(log.write("dropped"));
    EXPECT_EQ(texts(path_), std::vector<std::string>{"kept"});
}

TEST_F(LogFile, ThreadsWriteWholeLines) {
    // Small enough to roll over many times while four threads write.
    EventLog log(path_, 2000);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&log, t] {
            for (int i = 0; i < 200; ++i) log.write("thread " + std::to_string(t) + " event " + std::to_string(i));
        });
    }
    for (auto& th : threads) th.join();
    for (const std::string& p : {path_, path_ + ".1"}) {
        EXPECT_LE(fs::file_size(p), 2000u) << p;
        for (const auto& text : texts(p)) EXPECT_TRUE(text.starts_with("thread ")) << text;
    }
}

}  // namespace
}  // namespace tovi::client
