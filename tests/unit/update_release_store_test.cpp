// The previous release kept through an install, a trial, its proof and its rollback, with the
// process killed at every step of the way: whatever the step, the starts that follow bring the till
// to one whole release.
#include "update/release_store.h"
#include "update/trial.h"

#include "update/config_ini.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include "common/error.h"
#include "common/files.h"
#include "common/ini.h"

namespace tovi::release {
namespace {

namespace fs = std::filesystem;
using Files = std::map<std::string, std::string>;  // relative path -> bytes

TEST(PlanInstall, KeepsOnlyWhatTheLastProvenReleaseHad) {
    State onTrial;  // 2.0 on trial over 1.0: it replaced a.dll and added b.dll
    onTrial.previous.version = "1.0";
    onTrial.replaced = {"a.dll"};
    onTrial.added = {"lib/b.dll"};
    onTrial.failedStarts = 1;
    const std::vector<Placement> placements = {{"A.DLL", "", "", false}, {"lib/b.dll", "", "", false},
                                               {"c.dll", "", "", false}, {"new/d.dll", "", "", false}};
    const std::vector<bool> exists = {true, true, true, false}, stored = {true, false, false, false};
    const Plan fresh = planInstall(std::nullopt, {"2.0", "", ""}, {"3.0", "", "SHA"}, placements, exists, stored, "0A1B2C3D");
    EXPECT_EQ(fresh.keep, (std::vector<Keep>{Keep::InStore, Keep::InStore, Keep::InStore, Keep::Nothing}));
    EXPECT_EQ(fresh.state.previous.version, "2.0");
    // Over a release still on trial, its own files are put aside: the way back stays 1.0's. A file
    // it listed as kept but never moved (an install cut short) is still 1.0's: kept now.
    const Plan over = planInstall(onTrial, {"2.0", "", ""}, {"3.0", "", "SHA"}, placements, exists, stored, "0A1B2C3D");
    EXPECT_EQ(over.keep, (std::vector<Keep>{Keep::Aside, Keep::Aside, Keep::InStore, Keep::Nothing}));
    EXPECT_EQ(planInstall(onTrial, {}, {}, placements, exists, {false, false, false, false}, "").keep[0], Keep::InStore);
    EXPECT_EQ(over.state.replaced, (std::vector<std::string>{"a.dll", "c.dll"}));
    EXPECT_EQ(over.state.added, (std::vector<std::string>{"lib/b.dll", "new/d.dll"}));
    EXPECT_EQ(over.state.previous.version, "1.0");
    EXPECT_EQ(over.state.failedStarts, 0);
    std::string problem;
    EXPECT_EQ(parseState(stateText(over.state), problem), over.state) << problem;
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

const Files kOld = {{"tovipos", "client 1"}, {"node.dll", "engine 1"}, {"lib/a.dll", "a 1"}};
const Files kNew = {{"tovipos", "client 2"}, {"node.dll", "engine 2"}, {"lib/a.dll", "a 2"}, {"new/b.dll", "b 2"}};

class ReleaseStoreKills : public ::testing::Test {
protected:
    void SetUp() override { dir_ = fs::temp_directory_path() / ("tovi-store-" + std::to_string(::getpid())); }
    void TearDown() override { fs::remove_all(dir_); }

    Store store() const { return Store(dir_.string(), (dir_ / "config.ini").string(), '/'); }
    void write(const std::string& path, const std::string& bytes) const {
        fs::create_directories((dir_ / path).parent_path());
        std::ofstream(dir_ / path, std::ios::binary) << bytes;
    }
    void setVersion(const std::string& version) const {
        IniFile config = IniFile::load((dir_ / "config.ini").string());
        config.set("base", "version", version);
        replaceFileContent((dir_ / "config.ini").string(), config.text());
    }
    // The updater's install of the new release: what does not hold its bytes yet.
    void install(const Store& s) const {
        std::vector<Placement> placements;
        for (const auto& [path, bytes] : kNew) {
            std::stringstream now;
            now << std::ifstream(dir_ / path, std::ios::binary).rdbuf();
            if (now.str() == bytes) continue;
            write(path + ".0A1B2C3D.tovi-part", bytes);
            placements.push_back({path, (dir_ / (path + ".0A1B2C3D.tovi-part")).string(), (dir_ / path).string(), false,
                                  path == "new/b.dll"});
        }
        s.install({"1.0", "", ""}, {"2.0", "", "LIST-2.0"}, placements);
        setVersion("2.0");
    }
    void till() const {
        fs::remove_all(dir_);
        for (const auto& [path, bytes] : kOld) write(path, bytes);
        fs::permissions(dir_ / "tovipos", fs::perms::owner_exec, fs::perm_options::add);
        write("config.ini", "[base]\nversion = 1.0\n");
    }
    void expectWhole(const Files& release, const std::string& version, int k) const {
        for (const auto& [path, bytes] : release) {
            std::stringstream got;
            got << std::ifstream(dir_ / path, std::ios::binary).rdbuf();
            EXPECT_EQ(got.str(), bytes) << "killed at step " << k << ": " << path;
        }
        EXPECT_EQ(IniFile::load((dir_ / "config.ini").string()).get("base", "version", ""), version) << k;
        EXPECT_FALSE(fs::exists(dir_ / kStoreFolder)) << k;
        EXPECT_FALSE(fs::exists(dir_ / "tovipos.exe.txt")) << k;
        EXPECT_EQ(fs::exists(dir_ / "new/b.dll"), version != "1.0") << k;
        for (const char* path : {"tovipos", "new/b.dll"})  // programs: replaced (install, rollback), or listed as one
            EXPECT_TRUE(!fs::exists(dir_ / path) || (fs::status(dir_ / path).permissions() & fs::perms::owner_exec) != fs::perms{}) << k;
    }

    // setup, then run in a child that is killed before its k-th change on disk, for every k until
    // run finishes; after each, recover and the expected release, in this process.
    void atEveryStep(const std::function<void()>& setup, const std::function<void(const Store&)>& run,
                     const std::function<void(const Store&)>& recover, const Files& release, const std::string& version) {
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
            recover(store());
            expectWhole(release, version, k);
            if (!WIFEXITED(status) || WEXITSTATUS(status) == 3 || HasFailure()) return;
        }
    }

    fs::path dir_;
};

const auto noHandOff = [] { return false; };

// A start of the client whose check completes and whose page shows.
const auto provingStart = [](const Store& s) {
    Trial trial(s);
    trial.started(noHandOff);
    trial.checkCompleted();
    trial.proven();
};

const auto failingStarts = [](const Store& s) {
    for (int i = 0; i < 3; ++i) {
        const auto before = s.load();
        auto other = std::make_unique<NamedLock>(s.localPath(kLockFile));  // another client installs now
        EXPECT_EQ((Trial(s).started(noHandOff), s.load()), before);
        other.reset();
        Trial(s).started(noHandOff);
    }
};

// A release whose starts all fail: three starts after its install it is gone again, recorded. An
// install cut short is first finished by the next start's check, as the updater does.
TEST_F(ReleaseStoreKills, StartsThatFailRollTheReleaseBack) {
    const auto recover = [&](const Store& s) {
        if (const auto state = s.load(); state && !state->installed) install(s);
        failingStarts(s);
    };
    atEveryStep([&] { till(); }, [&](const Store& s) { install(s), failingStarts(s); }, recover, kOld, "1.0");
    EXPECT_EQ(IniFile::load((dir_ / "config.ini").string()).get("base", config::kFailedList, ""), "LIST-2.0");
}

// An install killed at any of its moves: the next start puts it back whole before it loads anything,
// its downloads gone, nothing recorded as failed; its check installs the release again.
TEST_F(ReleaseStoreKills, AnInstallCutShortIsPutBackAndNeverAFailedTrial) {
    const auto start = [&](const Store& s) {
        const auto before = s.load();
        auto other = std::make_unique<NamedLock>((dir_ / kLockFile).string());  // while a client installs: left alone
        EXPECT_EQ((Trial(s).started(noHandOff), s.load()), before);
        other.reset();
        Trial(s).started(noHandOff);
        if (const auto state = s.load()) {
            EXPECT_TRUE(state->installed);
        } else {
            expectWhole(kOld, "1.0", -1);
            EXPECT_NE(before.has_value(), fs::exists(dir_ / "node.dll.0A1B2C3D.tovi-part"));
        }
        EXPECT_FALSE(IniFile::load((dir_ / "config.ini").string()).find("base", config::kFailedList));
        install(s);
        provingStart(s);
    };
    atEveryStep([&] { till(); }, [&](const Store& s) { install(s); }, start, kNew, "2.0");
}

// A failed install whose put-back fails too keeps the store that describes the way back.
TEST_F(ReleaseStoreKills, AFailedPutBackKeepsTheStore) {
    till();
    Store s = store();
    const auto part = [&](const std::string& path) { return (dir_ / (path + ".0A1B2C3D.tovi-part")).string(); };
    write("node.dll.0A1B2C3D.tovi-part", "engine 2");
    write("lib/a.dll.0A1B2C3D.tovi-part", "a 2");
    s.setStepHook([&](std::string_view step) {
        if (step != "place lib/a.dll") return;
        fs::remove(part("lib/a.dll"));       // this move fails,
        fs::remove(s.storedPath("node.dll"));  // and node.dll's kept bytes cannot go back
    });
    EXPECT_THROW(s.install({"1.0", "", ""}, {"2.0", "", "LIST-2.0"},
                           {{"node.dll", part("node.dll"), (dir_ / "node.dll").string()},
                            {"lib/a.dll", part("lib/a.dll"), (dir_ / "lib/a.dll").string()}}),
                 Error);
    const auto state = s.load();
    ASSERT_TRUE(state);
    EXPECT_FALSE(state->installed);
}

TEST_F(ReleaseStoreKills, AProvingStartKeepsTheNewRelease) {
    atEveryStep([&] { till(), install(store()); }, provingStart, provingStart, kNew, "2.0");
}

// One start's events reach its trial in any order: only those of a start on trial, with its check
// completed, prove the release; only the server's faults excuse it.
TEST_F(ReleaseStoreKills, TheEventsOfAStartDecideItsTrial) {
    struct Case {
        const char* name;
        bool locked;       // another process holds the install lock through the start
        bool handOff;      // a new client waits for its hand-off
        Error checkError;  // "": the check completes; then the page shows in every case
        Trial::Next next;
        int failedStarts, excusedStarts;  // -1: the store is gone
    };
    const Case cases[] = {
        {"proved", false, false, Error("", ""), Trial::Next::Run, -1, 0},
        {"offline start: the page shows after the server failed the check", false, false, Error("refused", "IOError"),
         Trial::Next::Run, 0, 1},
        {"library of the release lacks Ed25519", false, false, Error("no Ed25519", "LoadError"), Trial::Next::Run, 1, 0},
        {"another process installs", true, false, Error("", ""), Trial::Next::Run, 0, 0},
        {"hand-off pending", false, true, Error("", ""), Trial::Next::FinishHandOff, 0, 0},
    };
    for (const Case& c : cases) {
        till();
        install(store());
        Trial trial(store());
        auto other = c.locked ? std::make_unique<NamedLock>((dir_ / kLockFile).string()) : nullptr;
        EXPECT_EQ(trial.started([&] { return c.handOff; }), c.next) << c.name;
        other.reset();
        if (c.checkError.kind().empty()) trial.checkCompleted();
        else trial.checkFailed(std::make_exception_ptr(c.checkError));
        trial.proven();
        const auto state = store().load();
        EXPECT_EQ(state ? state->failedStarts : -1, c.failedStarts) << c.name;
        EXPECT_EQ(state ? state->excusedStarts : 0, c.excusedStarts) << c.name;
    }
}

}  // namespace
}  // namespace tovi::release
