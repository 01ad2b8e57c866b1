#include "support/update.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>

#include "common/error.h"
#include "common/ini.h"
#include "common/process.h"
#include "update/config_ini.h"
#include "update/release_store.h"
#include "update/trial.h"
#include "support_fakes.h"

namespace {

using namespace tovi::support;
using tovi::support::testing::FakeSystem;

const MoveResult kInUse{MoveStatus::InUse, "The process cannot access the file because it is being used by another process.\r\n"};
const MoveResult kMissing{MoveStatus::Failed, "The system cannot find the file specified.\r\n"};
const MoveResult kMoved{MoveStatus::Moved, {}};

TEST(MoveWithRetry, RetriesOnlyWhileInUseAndWithinBudget) {
    struct Case {
        const char* name;
        std::vector<MoveResult> results;  // per attempt; the last repeats
        MoveStatus final;
        int attempts;
        int slept;
    };
    const Case cases[] = {
        {"moved_at_once", {kMoved}, MoveStatus::Moved, 1, 0},
        {"missing_reported_at_once", {kMissing}, MoveStatus::Failed, 1, 0},
        {"in_use_then_moved", {kInUse, kInUse, kInUse, kMoved}, MoveStatus::Moved, 4, 750},
        {"in_use_then_other_error", {kInUse, kMissing}, MoveStatus::Failed, 2, 250},
        {"in_use_for_good", {kInUse}, MoveStatus::InUse, 41, 10000},
    };
    for (const auto& c : cases) {
        int attempts = 0;
        std::vector<int> sleeps;
        const auto move = [&](const std::string& s, const std::string& d) {
            EXPECT_EQ(s, "src");
            EXPECT_EQ(d, "dst");
            const std::size_t i = std::min<std::size_t>(static_cast<std::size_t>(attempts), c.results.size() - 1);
            ++attempts;
            return c.results[i];
        };
        const MoveResult r = moveWithRetry(move, [&](int ms) { sleeps.push_back(ms); }, "src", "dst");
        EXPECT_EQ(r.status, c.final) << c.name;
        EXPECT_EQ(attempts, c.attempts) << c.name;
        int total = 0;
        for (int ms : sleeps) {
            EXPECT_EQ(ms, 250) << c.name;
            total += ms;
        }
        EXPECT_EQ(total, c.slept) << c.name;
        EXPECT_EQ(sleeps.size() + 1, static_cast<std::size_t>(c.attempts)) << "one wait between attempts";
    }
}

TEST(QuotedLiteral, EscapesLikeAStringLiteral) {
    struct Case {
        std::string in, out;
    };
    const Case cases[] = {
        {"C:\\till\\tovipos.exe", "\"C:\\\\till\\\\tovipos.exe\""},
        {"say \"x\"", "\"say \\\"x\\\"\""},
        {"a\tb\nc\rd", "\"a\\tb\\nc\\rd\""},
        {std::string("\x01\x1F\x7F", 3), "\"\\x01\\x1f\\x7f\""},
        {"D:\\收银\\新", "\"D:\\\\收银\\\\新\""},
        {"", "\"\""},
    };
    for (const auto& c : cases) EXPECT_EQ(quotedLiteral(c.in), c.out);
}

TEST(MoveErrorText, SystemTextThenAdditionalInfo) {
    struct Case {
        std::string system, expected;
    };
    const std::string info = "Additional info: (\"C:\\\\a\\\\tovipos.exe.txt\", \"C:\\\\a\\\\tovipos.exe\")";
    const Case cases[] = {
        {"File not found.\r\n", "File not found.\r\n" + info},
        {"No such file or directory", "No such file or directory\n" + info},
        {"ends in lf\n", "ends in lf\n" + info},
        {"", info},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(moveErrorText(c.system, "C:\\a\\tovipos.exe.txt", "C:\\a\\tovipos.exe"), c.expected);
    }
}

TEST(FinishUpdate, MovesWaitsAndStartsTheClient) {
    FakeSystem sys;
    finishUpdate(sys);
    const std::string folder = "C:\\till\\pos\\";
    ASSERT_EQ(sys.moves.size(), 1u);
    EXPECT_EQ(sys.moves[0].first, folder + "tovipos.exe.txt");
    EXPECT_EQ(sys.moves[0].second, folder + tovi::kClientProgram);
    EXPECT_EQ(sys.events, (std::vector<std::string>{"sleep 1000", "move", "sleep 500", "start"}));
    EXPECT_TRUE(sys.messages.empty());
}

TEST(FinishUpdate, WaitsForAClientThatIsStillEnding) {
    FakeSystem sys;
    sys.moveResults = {kInUse, kInUse, kMoved};
    finishUpdate(sys);
    EXPECT_EQ(sys.events, (std::vector<std::string>{"sleep 1000", "move", "sleep 250", "move", "sleep 250", "move",
                                                    "sleep 500", "start"}));
    EXPECT_TRUE(sys.messages.empty());
}

TEST(FinishUpdate, FailedMoveIsShownAndTheClientNotStarted) {
    for (const MoveResult& failure : {kMissing, kInUse}) {
        FakeSystem sys;
        sys.moveResults.assign(60, failure);
        finishUpdate(sys);
        EXPECT_EQ(sys.clientStarts, 0);
        ASSERT_EQ(sys.messages.size(), 1u);
        EXPECT_EQ(sys.messages[0], failure.systemText + "Additional info: (\"C:\\\\till\\\\pos\\\\tovipos.exe.txt\", \"C:\\\\till\\\\pos\\\\" +
                                       tovi::kClientProgram + "\")");
        EXPECT_EQ(sys.events.back(), "message");
        EXPECT_EQ(sys.sleeps.front(), 1000);
        for (int ms : sys.sleeps) EXPECT_NE(ms, 500) << "no wait for a start that does not happen";
    }
}

// The hand-off of a release on trial: the new client is watched. One that ends (or never starts)
// before it has proven itself is rolled back, without a box, and the previous client started; one
// that proves itself, outlives the watch, or whose start was excused (the server's fault) is left alone.
TEST(FinishUpdate, WatchesTheNewClientOfAReleaseOnTrial) {
    namespace fs = std::filesystem;
    struct Case {
        int endsAfterPolls;  // -1: runs on
        int status;          // -1: never started
        int provesAtPoll;    // -1: never
        bool rolledBack;
        int excusedAtPoll = -1;
        bool locked = false;  // another process holds the install lock throughout
    };
    const Case cases[] = {{0, 0, -1, true},          {3, 139, -1, true},          {0, -1, -1, true},
                          {5, 0, 2, false},          {-1, 0, -1, false},          {3, 1, -1, false, 1},
                          {0, 0, -1, false, -1, true}};
    const fs::path dir = fs::temp_directory_path() / ("tovi-watch-" + std::to_string(::getpid()));
    const fs::path before = fs::current_path();
    for (const Case& c : cases) {
        fs::remove_all(dir);
        fs::create_directories(dir);
        fs::current_path(dir);  // where config.ini is opened
        std::ofstream(dir / "config.ini") << "[base]\nversion = 1.0\n";
        std::ofstream(dir / tovi::kClientProgram) << "old client";
        std::ofstream(dir / "new.download") << "new client";
        const tovi::release::Store store(dir.string(), "config.ini", '/');
        store.install({"1.0", "", ""}, {"2.0", "", "LIST"},
                      {{tovi::kClientProgram, (dir / "new.download").string(), (dir / "tovipos.exe.txt").string(), true}});
        std::optional<tovi::NamedLock> other;
        if (c.locked) other.emplace((dir / tovi::release::kLockFile).string());
        FakeSystem sys;
        sys.folder = dir.string();
        sys.sep = '/';
        sys.endsAfterPolls = c.endsAfterPolls;
        sys.endStatus = c.status;
        sys.onPoll = [&](int poll) {
            if (poll == c.provesAtPoll) store.remove();
            if (poll != c.excusedAtPoll) return;
            tovi::release::Trial start(store);  // the new client's check fails for the server's fault
            start.started([] { return false; });
            start.checkFailed(std::make_exception_ptr(tovi::ioError("connection refused")));
        };
        finishUpdate(sys);
        fs::current_path(before);
        const std::string trace = std::to_string(c.endsAfterPolls) + "/" + std::to_string(c.status);
        EXPECT_TRUE(sys.messages.empty()) << trace;
        EXPECT_EQ(sys.clientStarts, c.rolledBack || c.locked ? 2 : 1) << trace;  // then the previous client
        EXPECT_EQ(tovi::IniFile::load((dir / "config.ini").string()).get("base", tovi::config::kFailedList, ""),
                  c.rolledBack ? "LIST" : "") << trace;
        EXPECT_EQ(fs::exists(dir / tovi::release::kStoreFolder), !c.rolledBack && c.provesAtPoll < 0) << trace;
    }
    fs::remove_all(dir);
}

}  // namespace
