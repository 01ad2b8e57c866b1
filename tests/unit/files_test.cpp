// Files written through OutputFile's buffer, and the errors of reading.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <vector>

#include "common/error.h"
#include "common/files.h"
#include "common/paths.h"

namespace {

namespace fs = std::filesystem;
using tovi::OutputFile;

class Files : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("tovi_files_" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directory(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string path(const char* name) const { return (dir_ / name).string(); }
    static std::string what(const auto& f) {
        try {
            f();
        } catch (const tovi::Error& e) {
            return e.what();
        }
        return "no error";
    }
    fs::path dir_;
};

TEST_F(Files, CommittedBytesArriveWhole) {
    constexpr std::size_t buffer = OutputFile::kBufferSize;
    struct Case {
        const char* name;
        std::vector<std::size_t> pieces;
    } cases[] = {
        {"nothing", {}},
        {"small pieces", {1, 16384, 0, 16384}},
        {"exactly the buffer", {buffer}},
        {"pieces that overflow the buffer", {buffer / 2 + 1, buffer / 2 + 1, buffer / 2 + 1}},
        {"a large piece after a small one", {10, buffer * 2 + 3}},
        {"a small piece after a large one", {buffer + 1, 7}},
    };
    for (const auto& c : cases) {
        const std::string file = path(c.name);
        std::string expected;
        {
            OutputFile out(file);
            for (std::size_t i = 0; i < c.pieces.size(); ++i) {
                const std::string piece(c.pieces[i], static_cast<char>('a' + i));
                out.write(piece);
                expected += piece;
            }
            out.commit();
            out.release();
        }
        EXPECT_TRUE(tovi::readFile(file) == expected) << c.name;
    }
}

TEST_F(Files, OnlyAReleasedFileStays) {
    for (const bool commit : {false, true}) {
        {
            OutputFile out(path("temp"));
            out.write("partial");
            if (commit) out.commit();
        }
        EXPECT_FALSE(fs::exists(path("temp"))) << commit;
    }
}

TEST_F(Files, ErrorsNameTheFile) {
    const std::string existing = path("existing");
    {
        OutputFile out(existing);
        out.write("keep me");
        out.commit();
        out.release();
    }
    // Never written over, and not removed by the failed attempt either.
    EXPECT_EQ(what([&] { OutputFile again(existing); }), "Unable to open file");
    EXPECT_EQ(tovi::readFile(existing), "keep me");

    const std::string missing = path("missing");
    const std::string folder = dir_.string();
    EXPECT_EQ(what([&] { tovi::readFile(missing); }), "cannot open: " + missing);
    EXPECT_EQ(what([&] { tovi::readFile(folder); }), "cannot read: " + folder);
    EXPECT_EQ(what([&] { tovi::InputFile in(missing); }), "cannot read: " + missing);
}

}  // namespace
