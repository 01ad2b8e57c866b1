// The end of a job handed over without a length, the virtual printer's transcript, and the reader of
// the printer's status replies.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "devices/winprint.h"
#include "escpos/framing.h"
#include "escpos/status.h"
#include "escpos/transcript.h"

namespace {

using tovi::escpos::escposElementLength;
using tovi::escpos::escposJobLength;
using tovi::escpos::escposTranscript;
using tovi::escpos::kMaxNulParameters;

using Bytes = std::vector<unsigned char>;

// The job in a heap block of exactly its size plus `nuls` NUL bytes, so that ASan reports any
// read beyond what the caller handed over.
std::size_t jobLength(const Bytes& data, std::size_t nuls = 1) {
    std::vector<unsigned char> block(data);
    block.insert(block.end(), nuls, 0);
    block.shrink_to_fit();
    return escposJobLength(block.data());
}

struct LengthCase {
    const char* name;
    Bytes data;       // what the caller hands over, before its NUL
    std::size_t end;  // where the job ends
};

const std::vector<LengthCase> kCompleteJobs = {
    {"empty", {}, 0},
    {"receipt with drawer and partial cut",
     {0x1B, 0x40, 0x1B, 0x70, 0x30, 0x3C, 0x78, 'A', 0x0A, 0x0A, 0x1D, 0x56, 0x42, 0x00}, 14},
    {"text NUL ends the job", {'A', 0x00, 'B', 0x0A}, 1},
    {"Chinese GB2312 text", {0xD6, 0xD0, 0xCE, 0xC4, 0x0A}, 5},
    {"bold off", {0x1B, 0x45, 0x00, 'X', 0x0A}, 5},
    {"underline off", {0x1B, 0x2D, 0x00, 'X'}, 4},
    {"align left", {0x1B, 0x61, 0x00, 'X'}, 4},
    {"ESC ! 0", {0x1B, 0x21, 0x00, 'X'}, 4},
    {"GS ! 0", {0x1D, 0x21, 0x00, 'X'}, 4},
    {"feed 0 lines, 0 dots", {0x1B, 0x64, 0x00, 0x1B, 0x4A, 0x00, 'X'}, 7},
    {"code page, font, double strike, upside down 0",
     {0x1B, 0x74, 0x00, 0x1B, 0x4D, 0x00, 0x1B, 0x47, 0x00, 0x1B, 0x7B, 0x00, 'X'}, 13},
    {"line spacing 0, charset 0, reverse off", {0x1B, 0x33, 0x00, 0x1B, 0x52, 0x00, 0x1D, 0x42, 0x00, 'X'}, 10},
    {"ESC 2 takes no parameter", {0x1B, 0x32, 0x00, 'X'}, 2},
    {"left margin 0 0", {0x1D, 0x4C, 0x00, 0x00, 'A'}, 5},
    {"print width 0 2", {0x1D, 0x57, 0x00, 0x02, 'A'}, 5},
    {"absolute position 0 0", {0x1B, 0x24, 0x00, 0x00, 'A'}, 5},
    {"bar code height, width, text, font 0",
     {0x1D, 0x68, 0x00, 0x1D, 0x77, 0x00, 0x1D, 0x48, 0x00, 0x1D, 0x66, 0x00, 'A'}, 13},
    {"drawer pulse on pin 2 given as 0", {0x1B, 0x70, 0x00, 0x19, 0xFA, 'A'}, 6},
    {"drawer pulse with zero times", {0x1B, 0x70, 0x00, 0x00, 0x00, 'A'}, 6},
    {"full cut GS V 0 has no n", {0x1D, 0x56, 0x00, 'A'}, 4},
    {"partial cut GS V 1 then the end", {0x1D, 0x56, 0x01, 0x00, 'A'}, 3},
    {"GS V 48 and 49 have no n", {0x1D, 0x56, 0x30, 0x1D, 0x56, 0x31, 0x00}, 6},
    {"GS V 65 0", {0x1D, 0x56, 0x41, 0x00}, 4},
    {"GS V 66 0 then a text NUL", {0x1D, 0x56, 0x42, 0x00, 0x00, 'A'}, 4},
    {"Chinese mode on and off", {0x1C, 0x26, 0xD6, 0xD0, 0x1C, 0x2E, 0x00}, 6},
    {"status request", {0x10, 0x04, 0x01, 'A'}, 4},
    {"real-time drawer pulse on pin 2", {0x10, 0x14, 0x01, 0x00, 0x01, 'A'}, 6},
    {"bar code with NUL-terminated data",
     {0x1D, 0x6B, 0x04, '1', '2', '3', 0x00, 'A'}, 8},
    {"bar code system 0 (m is NUL)", {0x1D, 0x6B, 0x00, '1', '2', 0x00, 'A'}, 7},
    {"bar code with counted data", {0x1D, 0x6B, 0x49, 0x03, '{', 'A', '1', 'X'}, 8},
    {"counted bar code cut short by a NUL", {0x1D, 0x6B, 0x49, 0x05, 'A', 'B', 0x00, 'C', 'D'}, 6},
    {"tab stops end with their NUL", {0x1B, 0x44, 0x08, 0x10, 0x00, 'A'}, 6},
    {"unknown command is two bytes", {0x1B, 0x5A, 0x00, 'A'}, 2},
    // Blocks framed by counts are no part of the rule: their data may hold any byte.
    {"GS ( k is two bytes", {0x1D, 0x28, 0x6B, 0x03, 0x00, 0x31, 0x43, 0x03}, 4},
    {"GS v 0 is two bytes", {0x1D, 0x76, 0x30, 0x00, 0x01, 0x00, 0x01, 0x00, 0xFF}, 3},
    {"lone ESC before the NUL", {'A', 0x1B, 0x00, 'B'}, 2},
    {"lone GS at the very end", {'A', 0x1D}, 2},
    {"CR, HT and FF are plain bytes", {0x0D, 0x09, 0x0C, 'A'}, 4},
};

TEST(EscposJobLength, CompleteJobs) {
    for (const auto& c : kCompleteJobs) EXPECT_EQ(jobLength(c.data), c.end) << c.name;
}

// Jobs that stop inside a command: the caller's NULs complete it, never more than
// kMaxNulParameters of them, so kMaxNulParameters + 1 NULs after the data are never read past.
const std::vector<LengthCase> kTruncatedJobs = {
    {"ESC p without times", {'A', 0x1B, 0x70, 0x30}, 6},
    {"ESC p alone", {0x1B, 0x70}, 5},
    {"GS V 66 without n", {0x1D, 0x56, 0x42}, 4},
    {"GS V without m", {0x1D, 0x56}, 3},
    {"GS L without its second byte", {0x1D, 0x4C, 0x05}, 4},
    {"GS k without m", {0x1D, 0x6B}, 4},
    {"GS k 4 data without its NUL", {0x1D, 0x6B, 0x04, '1'}, 5},
    {"counted GS k without its count", {0x1D, 0x6B, 0x49}, 4},
    {"DLE DC4 1 without m t", {0x10, 0x14, 0x01}, 5},
};

TEST(EscposJobLength, TruncatedCommandsTakeAtMostThreeNuls) {
    EXPECT_EQ(kMaxNulParameters, static_cast<std::size_t>(WINPRINT_MAX_NUL_PARAMETERS));
    for (const auto& c : kTruncatedJobs) {
        const std::size_t end = jobLength(c.data, kMaxNulParameters + 1);
        EXPECT_EQ(end, c.end) << c.name;
        EXPECT_LE(end, c.data.size() + kMaxNulParameters) << c.name;
    }
}

// Any bytes at all, followed by the safe number of NULs: the reader stays inside the block and
// the job never takes more than kMaxNulParameters of the padding.
TEST(EscposJobLength, ArbitraryBytesNeverReadPastThePadding) {
    std::mt19937 rng(20261208);
    // Bytes weighted towards introducers, NULs and command letters.
    const unsigned char pool[] = {0x00, 0x00, 0x1B, 0x1D, 0x1C, 0x10, 0x14, 0x04, 'p', 'V', 'k', 'D', 'L',
                                  'E', 'a', '!', 0x42, 0x49, 0x41, 0x03, 0xD6, 0x0A, '1'};
    std::uniform_int_distribution<std::size_t> pick(0, sizeof pool - 1), size(0, 12);
    for (int round = 0; round < 20000; ++round) {
        Bytes data(size(rng));
        for (auto& b : data) b = pool[pick(rng)];
        const std::size_t end = jobLength(data, kMaxNulParameters + 1);
        ASSERT_LE(end, data.size() + kMaxNulParameters);
    }
}

TEST(EscposElementLength, NeverGoesPastAvailable) {
    const Bytes cases[] = {{0x1B, 0x70, 0x30}, {0x1D, 0x6B, 0x04, '1'}, {0x1D, 0x6B, 0x49, 0x09, 'A'}, {0x1B, 0x44, 1},
                           {0x1D, 0x56}, {0x10, 0x14, 0x01, 0x00}};
    for (const Bytes& c : cases)
        for (std::size_t avail = 0; avail <= c.size(); ++avail) {
            const Bytes exact(c.begin(), c.begin() + static_cast<std::ptrdiff_t>(avail));
            EXPECT_LE(escposElementLength(exact.data(), avail), avail);
        }
}

// With a known length, the blocks that counts frame are one element each.
TEST(EscposElement, CountedBlocksWhenTheLengthIsKnown) {
    const LengthCase cases[] = {
        {"ESC * 33, 2 columns of 3 bytes", {0x1B, 0x2A, 0x21, 0x02, 0x00, 1, 2, 3, 4, 5, 6, 'A'}, 11},
        {"ESC * 0, 2 columns of 1 byte", {0x1B, 0x2A, 0x00, 0x02, 0x00, 0, 0, 'A'}, 7},
        {"GS v 0, 1 x 2 bytes", {0x1D, 0x76, 0x30, 0x00, 0x01, 0x00, 0x02, 0x00, 0x00, 0xFF, 'A'}, 10},
        {"GS v other than 0", {0x1D, 0x76, 0x31, 'A'}, 2},
        {"GS ( k", {0x1D, 0x28, 0x6B, 0x03, 0x00, 0x31, 0x43, 0x06, 'A'}, 8},
        {"GS ( L with 256 bytes", [] { Bytes b{0x1D, 0x28, 0x4C, 0x00, 0x01}; b.resize(261, 0); return b; }(), 261},
        {"GS 8 L", {0x1D, 0x38, 0x4C, 0x02, 0x00, 0x00, 0x00, 0x30, 0x45, 'A'}, 9},
        {"GS *", {0x1D, 0x2A, 0x01, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 'A'}, 12},
        {"FS ( A", {0x1C, 0x28, 0x41, 0x02, 0x00, 0x30, 0x30, 'A'}, 7},
        {"ESC ( A", {0x1B, 0x28, 0x41, 0x01, 0x00, 0x61, 'A'}, 6},
    };
    for (const auto& c : cases) {
        const auto e = tovi::escpos::escposElement(c.data.data(), c.data.size());
        EXPECT_EQ(e.length, c.end) << c.name;
        EXPECT_TRUE(e.complete) << c.name;
    }
    // A count beyond the data: the rest of the data, and incomplete.
    const Bytes cut = {0x1D, 0x28, 0x6B, 0xFF, 0xFF, 0x31};
    for (std::size_t avail = 0; avail <= cut.size(); ++avail) {
        const auto e = tovi::escpos::escposElement(cut.data(), avail);
        EXPECT_EQ(e.length, avail);
        EXPECT_FALSE(e.complete && avail > 0);
    }
}

std::string str(const Bytes& b) { return std::string(b.begin(), b.end()); }

struct TranscriptCase {
    const char* name;
    Bytes job;
    const char* text;
};

const std::vector<TranscriptCase> kTranscripts = {
    {"receipt with Chinese text",
     {0x1B, 0x40, 0x1B, 0x70, 0x30, 0x3C, 0x78, 0xD6, 0xD0, 0xCE, 0xC4, 'A', 0x0A, 0x0A, 0x1D, 0x56, 0x42, 0x00},
     "[INIT][DRAWER pin 2 120/240 ms]\xE4\xB8\xAD\xE6\x96\x87" "A\n\n[CUT PARTIAL]"},
    {"bold around text", {0x1B, 0x45, 0x01, 'A', 0x1B, 0x45, 0x00}, "[BOLD ON]A[BOLD OFF]"},
    {"alignments", {0x1B, 0x61, 0x31, 0x1B, 0x61, 0x02, 0x1B, 0x61, 0x00}, "[ALIGN CENTER][ALIGN RIGHT][ALIGN LEFT]"},
    {"sizes and underline", {0x1D, 0x21, 0x11, 0x1D, 0x21, 0x00, 0x1B, 0x2D, 0x01, 0x1B, 0x2D, 0x30},
     "[SIZE 2x2][SIZE 1x1][UNDERLINE 1][UNDERLINE OFF]"},
    {"cuts", {0x1D, 0x56, 0x00, 0x1D, 0x56, 0x31, 0x1D, 0x56, 0x41, 0x03}, "[CUT FULL][CUT PARTIAL][CUT FULL +3]"},
    {"drawer on pin 5", {0x1B, 0x70, 0x01, 0x19, 0xFA}, "[DRAWER pin 5 50/500 ms]"},
    {"Chinese mode", {0x1C, 0x26, 0xD6, 0xD0, 0x1C, 0x2E}, "[CHINESE ON]\xE4\xB8\xAD[CHINESE OFF]"},
    {"bar code", {0x1D, 0x6B, 0x04, '1', '2', 0x00}, "[BARCODE 4 \"12\"]"},
    {"feeds", {0x1B, 0x64, 0x03, 0x1B, 0x4A, 0x10}, "[FEED 3 LINES][FEED 16 DOTS]"},
    {"unknown command and control bytes", {0x1B, 0x5A, 0x07, 0x0D, 'A'}, "[1B 5A][0x07][0x0D]A"},
    {"command cut short by the end", {'A', 0x1B, 0x70, 0x30}, "A[TRUNCATED 1B 70 30]"},
    {"lone introducer at the end", {'A', 0x1D}, "A[TRUNCATED 1D]"},
    {"text NUL in a written job", {'A', 0x00, 'B'}, "A[0x00]B"},
    {"QR code", {0x1D, 0x28, 0x6B, 0x04, 0x00, 0x31, 0x41, 0x32, 0x00, 0x1D, 0x28, 0x6B, 0x03, 0x00, 0x31, 0x43, 0x06,
                 0x1D, 0x28, 0x6B, 0x03, 0x00, 0x31, 0x45, 0x31, 0x1D, 0x28, 0x6B, 0x05, 0x00, 0x31, 0x50, 0x30, 'a',
                 0x87, 0x1D, 0x28, 0x6B, 0x03, 0x00, 0x31, 0x51, 0x30},
     "[QR MODEL 2][QR MODULE 6 DOTS][QR ERROR M][QR DATA \"a\\x87\"][QR PRINT]"},
    {"images", {0x1D, 0x76, 0x30, 0x00, 0x02, 0x00, 0x01, 0x00, 0xFF, 0x00, 0x1B, 0x2A, 0x21, 0x01, 0x00, 1, 2, 3},
     "[RASTER IMAGE 16x1 MODE 0][BIT IMAGE 33 1 COLUMNS]"},
    {"long block", [] { Bytes b{0x1D, 0x28, 0x4C, 0x20, 0x00}; b.resize(37, 0xAB); return b; }(),
     "[1D 28 4C 20 00 AB AB AB ... (37 bytes)]"},
};

TEST(EscposTranscript, Tags) {
    for (const auto& c : kTranscripts) EXPECT_EQ(escposTranscript(str(c.job)), c.text) << c.name;
}

TEST(EscposTranscript, NamesTheCommandsThePictureSkipped) {
    const Bytes job = {0x1B, 0x7B, 0x01, 'A', 0x1D, 0x28, 0x4C, 0x01, 0x00, 0x30};
    EXPECT_EQ(escposTranscript(str(job), {0, 4}), "[SKIPPED UPSIDE DOWN ON]A[SKIPPED 1D 28 4C 01 00 30]");
    // Where the picture stops: before the command, inside a text run, or at the end.
    EXPECT_EQ(escposTranscript("AB\x1B\x45\x01", {}, tovi::escpos::PictureStop{2, "why"}), "AB[PICTURE STOPS: why][BOLD ON]");
    EXPECT_EQ(escposTranscript("AB", {}, tovi::escpos::PictureStop{1, "why"}), "A[PICTURE STOPS: why]B");
    EXPECT_EQ(escposTranscript("AB", {}, tovi::escpos::PictureStop{2, "why"}), "AB[PICTURE STOPS: why]");
}

using tovi::escpos::DrawerSense;

// One reading, each request answered with the next of `answers` (unanswered once they run out):
// "<n of each request sent> <connected ... error as 1, 0 or -> <source>[ / <error causes>]".
std::string readStatus(DrawerSense sense, const std::vector<std::string>& answers, bool bytewise) {
    tovi::escpos::StatusReplies replies(sense);
    std::string sent;
    for (std::size_t i = 0; !replies.nextRequest().empty(); ++i) {
        EXPECT_EQ(replies.nextRequest().substr(0, 2), "\x10\x04");
        sent += static_cast<char>('0' + replies.nextRequest()[2]);
        replies.sent();
        if (i == answers.size()) break;
        if (!bytewise) replies.take(answers[i]);
        for (const char c : bytewise ? answers[i] : "") replies.take(std::string_view(&c, 1));
    }
    tovi::protocol::Outcome outcome;
    outcome.status = replies.status();
    const std::string line = tovi::protocol::outcomeLine(outcome);
    std::string facts;
    for (std::size_t at = line.find('='); at < line.find("source="); at = line.find('=', at + 1)) facts += line[at + 1];
    const std::string causes = replies.errorCauses();
    return sent + " " + facts + " " + outcome.status->source + (causes.empty() ? "" : " / " + causes);
}

TEST(EscposStatus, RepliesMakeTheStatus) {
    struct Case {
        const char* name;
        DrawerSense sense;
        std::vector<std::string> answers;
        const char* expected;
    };
    const Case cases[] = {
        {"all well", DrawerSense::Unknown, {"\x12", "\x12", "\x12"}, "124 11000-0 escpos"},
        {"paper near its end", DrawerSense::Unknown, {"\x12", "\x12", "\x1E"}, "124 11100-0 escpos"},
        {"out of paper", DrawerSense::Unknown, {"\x1A", "\x32", "\x72"}, "124 10110-0 escpos"},
        {"stopped at the paper end, no sensor byte", DrawerSense::Unknown, {"\x1A", "\x32"}, "124 10110-0 escpos"},
        {"cover open", DrawerSense::Unknown, {"\x1A", "\x16", "\x12"}, "124 10001-0 escpos"},
        {"an error, its causes asked", DrawerSense::Unknown, {"\x1A", "\x52", "\x3A", "\x12"},
         "1234 10000-1 escpos / autocutter error, unrecoverable error"},
        {"pin 3 high, open when high", DrawerSense::OpenHigh, {"\x16", "\x12", "\x12"}, "124 1100010 escpos"},
        {"pin 3 high, open when low", DrawerSense::OpenLow, {"\x16", "\x12", "\x12"}, "124 1100000 escpos"},
        {"pin 3 low, open when low", DrawerSense::OpenLow, {"\x12", "\x12", "\x12"}, "124 1100010 escpos"},
        // Bytes of no reply's form are skipped: garbage, XON/XOFF, an automatic status packet.
        {"skipped bytes", DrawerSense::Unknown, {std::string("\xFF\x00\x13\x11\x10\x00\x0F\x12", 8), "A\x12", "\x12\x80"},
         "124 11000-0 escpos"},
        {"the sensor byte never came", DrawerSense::Unknown, {"\x12", "\x12"}, "124 11--0-0 escpos"},
        {"no answer at all", DrawerSense::OpenHigh, {}, "1 1------ none"},
        {"garbage only", DrawerSense::Unknown, {"\xFF\x00 HTTP/1.1"}, "1 1------ none"},
        // Two replies to one request, or text with reply-like bytes: which is which cannot be known.
        {"answers twice", DrawerSense::Unknown, {"\x12", "\x12\x12", "\x12"}, "12 1------ none"},
        {"text with reply-like bytes", DrawerSense::Unknown, {"Server: 2.0 ready"}, "1 1------ none"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(readStatus(c.sense, c.answers, false), c.expected) << c.name;
        EXPECT_EQ(readStatus(c.sense, c.answers, true), c.expected) << c.name << ", a byte at a time";
    }
}

}  // namespace
