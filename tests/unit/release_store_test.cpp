// The previous release kept through an install, a trial, its proof and its rollback, with the
// process killed at every step of the way: whatever the step, the starts that follow bring the till
// to one whole release.
#include "common/release_store.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "common/files.h"
#include "common/ini.h"

namespace tovi::release {
namespace {

namespace fs = std::filesystem;
using Files = std::map<std::string, std::string>;  // relative path -> bytes

TEST(PlanInstall, KeepsOnlyWhatTheLastProvenReleaseHad) {
    State prior;
    prior.previous = {"1.0", "", ""};
    prior.replaced = {"a.dll"};
    prior.added = {"lib/b.dll"};
    prior.failedStarts = 1;
    const std::vector<Placement> placements = {{"A.DLL", "", "", false}, {"lib/b.dll", "", "", false},
                                               {"c.dll", "", "", false}, {"new/d.dll", "", "", false}};
    const ReleaseId current{"2.0", "", ""}, candidate{"3.0", "", "SHA"};
    struct Case {
        const char* name;
        std::optional<State> prior;
        std::vector<bool> exists;
        std::vector<Keep> keep;
        std::vector<std::string> replaced, added;
        std::string previous;
    };
    const Case cases[] = {
        {"fresh", std::nullopt, {true, true, true, false}, {Keep::InStore, Keep::InStore, Keep::InStore, Keep::Nothing},
         {"A.DLL", "lib/b.dll", "c.dll"}, {"new/d.dll"}, "2.0"},
        // On top of a release still on trial: its own files are put aside, the way back stays 1.0's.
        {"on_trial", prior, {true, true, true, false}, {Keep::Aside, Keep::Aside, Keep::InStore, Keep::Nothing},
         {"a.dll", "c.dll"}, {"lib/b.dll", "new/d.dll"}, "1.0"},
        {"kept_file_missing", prior, {false, false, false, false}, {Keep::Nothing, Keep::Nothing, Keep::Nothing, Keep::Nothing},
         {"a.dll"}, {"lib/b.dll", "c.dll", "new/d.dll"}, "1.0"},
    };
    for (const Case& c : cases) {
        const Plan plan = planInstall(c.prior, current, candidate, placements, c.exists, "0A1B2C3D");
        EXPECT_EQ(plan.keep, c.keep) << c.name;
        EXPECT_EQ(plan.state.replaced, c.replaced) << c.name;
        EXPECT_EQ(plan.state.added, c.added) << c.name;
        EXPECT_EQ(plan.state.previous.version, c.previous) << c.name;
        EXPECT_EQ(plan.state.candidate, candidate) << c.name;
        EXPECT_EQ(plan.state.failedStarts, 0) << c.name;
        EXPECT_FALSE(plan.state.installed) << c.name;
        std::string problem;
        EXPECT_EQ(parseState(stateText(plan.state), problem), plan.state) << c.name << ": " << problem;
    }
}

TEST(ParseState, RefusesPathsThatAreNoneOfOurs) {
    for (const char* path : {"../x.dll", "/etc/passwd", "a//b", "C:/x", "a\\b", "tovipos.previous/x", "TOVIPOS.PREVIOUS",
                             "nul", "a./b", ""}) {
        State s;
        s.added = {path};
        std::string problem;
        EXPECT_FALSE(parseState(stateText(s), problem)) << path;
        EXPECT_FALSE(problem.empty()) << path;
    }
}

class ReleaseStoreKills : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("tovi-store-" + std::to_string(::getpid()));
        folder_ = (dir_ / "app").string();
    }
    void TearDown() override { fs::remove_all(dir_); }

    Store store() const { return Store(folder_, folder_ + "/config.ini", '/'); }

    // A till holding release a, and its config.ini.
    void installBy(const Files& release, const std::string& version) const {
        fs::remove_all(dir_);
        fs::create_directories(folder_);
        for (const auto& [path, bytes] : release) write(path, bytes);
        write("config.ini", "[base]\nurl = x\nversion = " + version + "\n");
    }
    void write(const std::string& path, const std::string& bytes) const {
        fs::create_directories((fs::path(folder_) / path).parent_path());
        std::ofstream(fs::path(folder_) / path, std::ios::binary) << bytes;
    }
    // The updater's part of an install: verified downloads, the store's placements, the version.
    void installUpdate(const Store& s, const Files& release, const std::string& version, const std::string& client = "") const {
        std::vector<Placement> placements;
        for (const auto& [path, bytes] : release) {
            const bool self = path == client;
            const std::string target = folder_ + "/" + (self ? "tovipos.exe.txt" : path);
            fs::create_directories(fs::path(target).parent_path());
            std::ofstream(target + ".download", std::ios::binary) << bytes;
            placements.push_back({path, target + ".download", target, self});
        }
        s.install({"1.0", "", ""}, {version, "", "LIST-" + version}, placements);
        IniFile config = IniFile::load(folder_ + "/config.ini");
        config.set("base", "version", version);
        replaceFileContent(folder_ + "/config.ini", config.text());
    }
    // Whether the program folder holds exactly this release (and nothing of the store).
    void expectWhole(const Files& release, const std::string& version, const std::string& where) const {
        for (const auto& [path, bytes] : release) {
            std::ifstream in(fs::path(folder_) / path, std::ios::binary);
            std::stringstream got;
            got << in.rdbuf();
            EXPECT_EQ(got.str(), bytes) << where << ": " << path;
        }
        EXPECT_EQ(IniFile::load(folder_ + "/config.ini").get("base", "version", ""), version) << where;
        EXPECT_FALSE(fs::exists(fs::path(folder_) / kStoreFolder)) << where;
        EXPECT_FALSE(fs::exists(fs::path(folder_) / "tovipos.exe.txt")) << where;
    }

    // Runs setup, then run in a child process that is killed (ends at once) before its k-th change
    // on disk, for every k; then recover and check in this process. The last k is the one that
    // lets run finish.
    void atEveryStep(const std::function<void()>& setup, const std::function<void(const Store&)>& run,
                     const std::function<void(const Store&)>& recover, const std::function<void(int)>& check) {
        for (int k = 0;; ++k) {
            setup();
            const pid_t pid = fork();
            ASSERT_GE(pid, 0);
            if (pid == 0) {
                Store s = store();
                int steps = 0;
                s.setStepHook([&](std::string_view) {
                    if (steps++ == k) _exit(0);
                });
                run(s);
                _exit(3);
            }
            int status = 0;
            ASSERT_EQ(waitpid(pid, &status, 0), pid);
            ASSERT_TRUE(WIFEXITED(status));
            recover(store());
            check(k);
            if (WEXITSTATUS(status) == 3 || ::testing::Test::HasFailure()) return;
            ASSERT_LT(k, 200) << "the run never ends";
        }
    }

    fs::path dir_;
    std::string folder_;
};

const Files kOld = {{"tovipos", "client 1"}, {"node.dll", "engine 1"}, {"lib/a.dll", "a 1"}};
const Files kNew = {{"tovipos", "client 2"}, {"node.dll", "engine 2"}, {"lib/a.dll", "a 2"}, {"new/b.dll", "b 2"}};

// A release whose starts all fail: three starts after its install, it is gone again.
TEST_F(ReleaseStoreKills, StartsThatFailRollTheReleaseBack) {
    const auto failingStarts = [](const Store& s) {
        for (int i = 0; i < 3; ++i) beginStart(s);
    };
    atEveryStep([&] { installBy(kOld, "1.0"); },
                [&](const Store& s) {
                    installUpdate(s, kNew, "2.0");
                    failingStarts(s);
                },
                failingStarts, [&](int k) {
                    expectWhole(kOld, "1.0", "killed at step " + std::to_string(k));
                    EXPECT_FALSE(fs::exists(fs::path(folder_) / "new/b.dll")) << k;
                });
    EXPECT_EQ(IniFile::load(folder_ + "/config.ini").get("base", kFailedListKey, ""), "LIST-2.0");
}

// A start that proves the release leaves it whole, the previous one no longer kept.
TEST_F(ReleaseStoreKills, AProvingStartKeepsTheNewRelease) {
    const auto provingStart = [](const Store& s) { prove(s, beginStart(s)); };
    atEveryStep([&] { installBy(kOld, "1.0"), installUpdate(store(), kNew, "2.0"); }, provingStart, provingStart,
                [&](int k) { expectWhole(kNew, "2.0", "killed at step " + std::to_string(k)); });
}

// The support program's part: the old client kept, the new one moved in, then (the new client
// ended before its proof) the rollback; the next starts finish whatever a kill cut short.
TEST_F(ReleaseStoreKills, TheHandOffKeepsTheClientForItsRollback) {
    atEveryStep([&] { installBy(kOld, "1.0"), installUpdate(store(), kNew, "2.0", "tovipos"); },
                [&](const Store& s) {
                    ASSERT_TRUE(s.keepClient("tovipos"));
                    ASSERT_TRUE(replaceFile(folder_ + "/tovipos.exe.txt", folder_ + "/tovipos"));
                    s.rollBack(*s.load(), "the new client ended before it proved itself");
                },
                [](const Store& s) {
                    for (int i = 0; i < 3; ++i) beginStart(s);
                },
                [&](int k) { expectWhole(kOld, "1.0", "killed at step " + std::to_string(k)); });
}

}  // namespace
}  // namespace tovi::release
