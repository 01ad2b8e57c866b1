// What the virtual printer's picture, transcript and PNG of a job cost, for jobs of the kinds that
// once grew without bound: each kind in a child process of its own, its time and peak memory. The
// aim: time at most linear in the job (about 1 s for 1 MiB of the slowest kind) and memory below
// 64 MiB whatever the job.
//
//   receipt_picture_bench [MiB]    (1 unless told)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "escpos/picture.h"
#include "escpos/transcript.h"

namespace {

using namespace tovi::escpos;

struct Kind {
    const char* name;
    std::string head;  // once
    std::string unit;  // then again and again
};

std::string qrStore(std::size_t digits) {
    const std::size_t n = digits + 3;
    std::string s = "\x1D(k";
    s += static_cast<char>(n & 0xFF);
    s += static_cast<char>(n >> 8);
    s += "\x31\x50\x30";
    return s + std::string(digits, '7');
}

const Kind kKinds[] = {
    {"receipt text (GB2312, 24 a line)", "", std::string("\xD6\xD0\xCE\xC4", 4) + "12.50 x 3 = 37.50 AB\n"},
    {"8x8 characters, ESC $ back to 0", "\x1D\x21\x77", std::string("\x1B\x24\x00\x00", 4) + "A"},
    {"8x8 characters, ESC \\ back by one", "\x1D\x21\x77", "A\x1B\x5C\xA0\xFF"},
    {"512 Ki tab stops, then tabs", "", "\t"},
    {"QR code too long, printed again", qrStore(8000), std::string("\x1D(k\x03\x00\x31\x51\x30", 8)},
    {"cuts", "", "\x1Bi"},
    {"commands not drawn", "", "\x1B<"},
};

std::string jobOf(const Kind& kind, std::size_t size) {
    std::string job = kind.head;
    if (kind.unit == "\t") job = "\x1B\x44" + std::string(size / 2, '\x01') + std::string("\0A", 2);
    while (job.size() + kind.unit.size() <= size) job += kind.unit;
    return job;
}

// Draws the job in a child process, as winprint describes a virtual job (the picture, the transcript
// beside it, the PNG); the child tells where the picture stopped through `report`.
pid_t drawInChild(const std::string& job, int report) {
    const pid_t pid = fork();
    if (pid != 0) return pid;
    const ReceiptPicture picture = renderReceipt(job, 576);
    const std::string transcript = escposTranscript(job, picture.skipped, picture.cutShort);
    const std::string png = receiptPng(picture);
    const std::string said = picture.cutShort
                                 ? "stops at byte " + std::to_string(picture.cutShort->at) + ": " + picture.cutShort->why
                                 : "whole";
    const bool written = write(report, said.data(), said.size()) == static_cast<ssize_t>(said.size());
    _exit(written && !transcript.empty() && !png.empty() ? 0 : 1);
}

}  // namespace

int main(int argc, char** argv) {
    const double mib = argc > 1 ? std::atof(argv[1]) : 1.0;
    const auto size = static_cast<std::size_t>(mib * 1024 * 1024);
    std::printf("%-36s %8s %9s  %s\n", "job", "seconds", "peak MiB", "picture");
    for (const Kind& kind : kKinds) {
        const std::string job = jobOf(kind, size);
        int pipeEnds[2];
        if (pipe(pipeEnds) != 0) return 1;
        const auto start = std::chrono::steady_clock::now();
        const pid_t pid = drawInChild(job, pipeEnds[1]);
        close(pipeEnds[1]);
        int status = 0;
        rusage usage{};
        const bool ended = pid > 0 && wait4(pid, &status, 0, &usage) == pid;
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        char said[200] = {};
        const ssize_t n = read(pipeEnds[0], said, sizeof said - 1);
        close(pipeEnds[0]);
        if (!ended || !WIFEXITED(status) || WEXITSTATUS(status) != 0 || n <= 0) {
            std::printf("%-36s failed\n", kind.name);
            continue;
        }
        std::printf("%-36s %8.2f %9.1f  %s\n", kind.name, seconds, static_cast<double>(usage.ru_maxrss) / 1024, said);
    }
    return 0;
}
