// The virtual printer's numbering and storing.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include <unistd.h>

#include "common/paths.h"
#include "devices/virtual_printer.h"

namespace {

using namespace tovi::devices;
namespace fs = std::filesystem;

TEST(JobNumbers, NamesAndNumbers) {
    EXPECT_EQ(jobFileName(1, "bin"), "job-000001.bin");
    EXPECT_EQ(jobFileName(42, "txt"), "job-000042.txt");
    EXPECT_EQ(jobFileName(1234567, "bin"), "job-1234567.bin");
    struct Case {
        const char* name;
        std::optional<unsigned long> number;
    } cases[] = {
        {"job-000001.bin", 1}, {"job-000042.txt", 42}, {"job-000003.png", 3}, {"job-1234567.bin", 1234567}, {"job-7.bin", 7},
        {"job-.bin", std::nullopt}, {"job-00001a.bin", std::nullopt}, {"job-000001.pdf", std::nullopt},
        {"Job-000001.bin", std::nullopt}, {"job-000001", std::nullopt}, {"job-1234567890.bin", std::nullopt},
        {"notes.txt", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(jobNumberOf(c.name), c.number) << c.name;
}

TEST(JobNumbers, NextIsOneAfterTheHighest) {
    struct Case {
        std::vector<std::string> names;
        unsigned long next;
    } cases[] = {
        {{}, 1},
        {{"readme.txt"}, 1},
        {{"job-000001.bin", "job-000001.txt"}, 2},
        {{"job-000003.bin", "job-000001.bin"}, 4},       // a gap is never filled
        {{"job-000009.txt"}, 10},                        // a lone transcript holds its number
        {{"job-000002.bin", "job-000100.txt", "x"}, 101},
    };
    for (const auto& c : cases) EXPECT_EQ(nextJobNumber(c.names), c.next);
}

class VirtualPrinter : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::temp_directory_path() / ("tovi_vp_" + std::to_string(::getpid()) + "_" + info->name());
        fs::remove_all(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    static std::string read(const fs::path& p) { return tovi::readFile(p.string()); }
    fs::path dir_;
};

TEST_F(VirtualPrinter, StoresExactBytesAndATranscriptUnderRisingNumbers) {
    const std::string job1("\x1b\x40\xd6\xd0\x0a\x1d\x56\x42\x00", 9);
    const std::string job2("\x1b\x40Z\x0a", 4);
    const StoredJob a = storeVirtualJob((dir_ / "nested" / "vp").string(), job1);  // folders are created
    ASSERT_TRUE(a.result.ok()) << a.result.reason;
    const StoredJob b = storeVirtualJob((dir_ / "nested" / "vp").string(), job2);
    ASSERT_TRUE(b.result.ok()) << b.result.reason;
    const fs::path vp = dir_ / "nested" / "vp";
    EXPECT_EQ(fs::path(a.binPath), vp / "job-000001.bin");
    EXPECT_EQ(fs::path(b.binPath), vp / "job-000002.bin");
    EXPECT_EQ(read(vp / "job-000001.bin"), job1);
    EXPECT_EQ(read(vp / "job-000002.bin"), job2);
    EXPECT_EQ(read(vp / "job-000001.txt"), "[INIT]\xE4\xB8\xAD\n[CUT PARTIAL]");
    EXPECT_EQ(read(vp / "job-000002.txt"), "[INIT]Z\n");
}

TEST_F(VirtualPrinter, CompanionsFollowTheJobAndTheirFailureLosesNothing) {
    const StoredJob a = storeVirtualJob(dir_.string(), "x", [](std::string_view job) {
        return std::vector<CompanionFile>{{"txt", "text of " + std::string(job)}, {"png", "picture"}};
    });
    ASSERT_TRUE(a.result.ok()) << a.result.reason;
    EXPECT_EQ(read(dir_ / "job-000001.txt"), "text of x");
    EXPECT_EQ(read(dir_ / "job-000001.png"), "picture");
    const StoredJob b = storeVirtualJob(dir_.string(), "y", [](std::string_view) -> std::vector<CompanionFile> {
        throw std::runtime_error("no font");
    });
    ASSERT_TRUE(b.result.ok()) << b.result.reason;
    EXPECT_EQ(read(dir_ / "job-000002.bin"), "y");
    EXPECT_FALSE(fs::exists(dir_ / "job-000002.txt"));
}

TEST_F(VirtualPrinter, NeverOverwritesWhatIsThere) {
    fs::create_directories(dir_);
    std::ofstream(dir_ / "job-000007.bin") << "old seven";
    std::ofstream(dir_ / "job-000009.txt") << "old nine";
    const StoredJob s = storeVirtualJob(dir_.string(), "new");
    ASSERT_TRUE(s.result.ok()) << s.result.reason;
    EXPECT_EQ(fs::path(s.binPath), dir_ / "job-000010.bin");
    EXPECT_EQ(read(dir_ / "job-000007.bin"), "old seven");
    EXPECT_EQ(read(dir_ / "job-000009.txt"), "old nine");
    EXPECT_EQ(read(dir_ / "job-000010.bin"), "new");
}

TEST_F(VirtualPrinter, CreateNewFileRefusesAnExistingName) {
    fs::create_directories(dir_);
    const std::string path = (dir_ / "a.bin").string();
    EXPECT_EQ(createNewFile(path, "first", nullptr), CreateOutcome::Created);
    EXPECT_EQ(createNewFile(path, "second", nullptr), CreateOutcome::Exists);
    EXPECT_EQ(read(path), "first");
    std::string reason;
    EXPECT_EQ(createNewFile((dir_ / "missing" / "b.bin").string(), "x", &reason), CreateOutcome::Failed);
    EXPECT_NE(reason, "");
}

TEST_F(VirtualPrinter, AFileInThePlaceOfTheFolderCannotBeOpened) {
    fs::create_directories(dir_);
    std::ofstream(dir_ / "vp") << "not a folder";
    const StoredJob s = storeVirtualJob((dir_ / "vp").string(), "x");
    EXPECT_EQ(s.result.code, WINPRINT_CANNOT_OPEN);
    EXPECT_EQ(read(dir_ / "vp"), "not a folder");
}

}  // namespace
