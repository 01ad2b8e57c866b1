// Figures of the updater on Linux (no assertions; the machine is shared and noisy):
//   1. SHA-1 throughput of the check's local digests over a folder, against `openssl dgst -sha1`
//      over the same files (aim: ratio >= 0.9);
//   2. download throughput of a whole update run (HTTPS from a loopback `openssl s_server`, body
//      hashed and written to a temporary file, moved into place) against `curl` fetching the same
//      file from the same server (aim: ratio >= 0.9);
//   3. peak resident memory of an update run that downloads 1 GiB against one that downloads
//      1 MiB (aim: within 2 MiB).
//
// Both sides of 1 and 2 run in alternation, `rounds` times each, so that a slow spell of the
// machine falls on both; the figures are medians, and the spread says how far single rounds went.
//
//   updater_bench [MiB for 1 and 2, default 256] [bin folder] [rounds, default 7]
// Needs the openssl and curl programs and the update_runner of the build.
// GCC 12 reports false -Wrestrict overlaps in inlined std::string concatenation at -O3.
#pragma GCC diagnostic ignored "-Wrestrict"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "net/openssl.h"
#include "update/sha1.h"

extern char** environ;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

struct Child {
    pid_t pid = -1;
};

Child spawn(const std::vector<std::string>& argv, const std::string& cwd, const std::string& out = "/dev/null") {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    Child c;
    if (posix_spawnp(&c.pid, args[0], &actions, nullptr, args.data(), environ) != 0) c.pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return c;
}

// Exit status (or -1) and peak resident set in KiB.
std::pair<int, long> waitFor(Child c) {
    int status = 0;
    rusage ru{};
    if (c.pid < 0 || wait4(c.pid, &status, 0, &ru) < 0) return {-1, 0};
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ru.ru_maxrss};
}

// Seconds of one run of argv, or a negative number when it failed.
double timeRun(const std::vector<std::string>& argv, const std::string& cwd) {
    const auto t0 = Clock::now();
    const auto [rc, rss] = waitFor(spawn(argv, cwd));
    (void)rss;
    if (rc != 0) return -1;
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

void writeRandom(const fs::path& p, std::size_t bytes) {
    std::ofstream f(p, std::ios::binary);
    std::mt19937_64 gen(42);
    std::vector<std::uint64_t> block(1 << 16);
    while (bytes > 0) {
        for (auto& w : block) w = gen();
        const std::size_t n = std::min(bytes, block.size() * sizeof(std::uint64_t));
        f.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(n));
        bytes -= n;
    }
}

void writeText(const fs::path& p, const std::string& text) { std::ofstream(p, std::ios::binary) << text; }

std::string sha1File(const tovi::updater::OpenSsl& ssl, const fs::path& p) { return tovi::updater::sha1OfFile(ssl.crypto, p.string()); }

bool run(const std::vector<std::string>& argv, const std::string& cwd) { return timeRun(argv, cwd) >= 0; }

// Seconds of the interleaved rounds of one side; a failed round is left out.
struct Samples {
    std::vector<double> seconds;
    void add(double t) {
        if (t > 0) seconds.push_back(t);
    }
    double median() const {
        std::vector<double> s = seconds;
        std::sort(s.begin(), s.end());
        const std::size_t n = s.size();
        return n % 2 ? s[n / 2] : (s[n / 2 - 1] + s[n / 2]) / 2;
    }
    // Lowest and highest round against the median, in per cent (the rounds' spread).
    std::pair<double, double> spread() const {
        const auto [lo, hi] = std::minmax_element(seconds.begin(), seconds.end());
        return {100 * (*lo / median() - 1), 100 * (*hi / median() - 1)};
    }
};

// "updater 812 MiB/s (-3%..+9%), openssl dgst 850 MiB/s (-1%..+4%), ratio 0.96" for MiB through
// both sides; the ratio is theirs over ours, of the medians.
void printRatio(const char* what, std::size_t mib, const char* oursName, const Samples& ours, const char* theirsName,
                const Samples& theirs) {
    if (ours.seconds.empty() || theirs.seconds.empty()) {
        std::printf("%s: every round failed (%s %zu ok, %s %zu ok)\n", what, oursName, ours.seconds.size(), theirsName,
                    theirs.seconds.size());
        return;
    }
    const auto [oursLo, oursHi] = ours.spread();
    const auto [theirsLo, theirsHi] = theirs.spread();
    const double m = static_cast<double>(mib);
    std::printf("%s: %zu MiB, median of %zu/%zu rounds: %s %.0f MiB/s (%+.0f%%..%+.0f%%), %s %.0f MiB/s (%+.0f%%..%+.0f%%), "
                "ratio %.2f (aim >= 0.9)\n",
                what, mib, ours.seconds.size(), theirs.seconds.size(), oursName, m / ours.median(), oursLo, oursHi, theirsName,
                m / theirs.median(), theirsLo, theirsHi, theirs.median() / ours.median());
}

int freePort() {
    // A port from the ephemeral range unlikely to be taken; s_server fails loudly if it is.
    return 20000 + static_cast<int>(::getpid() % 20000);
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t mib = argc > 1 ? std::stoul(argv[1]) : 256;
    // Absolute: the runs start in a folder of their own.
    const fs::path bin = fs::absolute(argc > 2 ? fs::path(argv[2]) : fs::path(TOVI_BENCH_BIN));
    const int rounds = argc > 3 ? std::max(1, std::stoi(argv[3])) : 7;
    const fs::path runner = bin / "update_runner";
    const fs::path dir = fs::temp_directory_path() / ("tovi-updater-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir / "srv");
    const tovi::updater::OpenSsl ssl = tovi::updater::loadOpenSsl();

    // 1. SHA-1 over 8 files.
    const int files = 8;
    std::vector<std::string> dgst = {"openssl", "dgst", "-sha1"};
    for (int i = 0; i < files; ++i) {
        const fs::path p = dir / "srv" / ("f" + std::to_string(i) + ".bin.txt");
        writeRandom(p, mib * 1024 * 1024 / files);
        dgst.push_back(p.string());
    }
    Samples ours, theirs;
    for (int round = 0; round < rounds; ++round) {
        const auto t0 = Clock::now();
        for (int i = 0; i < files; ++i) sha1File(ssl, dir / "srv" / ("f" + std::to_string(i) + ".bin.txt"));
        ours.add(std::chrono::duration<double>(Clock::now() - t0).count());
        theirs.add(timeRun(dgst, dir.string()));
    }
    printRatio("sha1 (8 files)", mib, "updater", ours, "openssl dgst", theirs);

    // A CA and a server certificate for 127.0.0.1, and an s_server serving srv/.
    const std::string ec = "ec_paramgen_curve:prime256v1";
    const std::string d = dir.string();
    writeText(dir / "ext.cnf", "subjectAltName=IP:127.0.0.1\n");
    bool ok = run({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", ec, "-nodes", "-keyout", "ca.key", "-out", "ca.pem", "-days", "2",
                   "-subj", "/CN=bench ca"}, d) &&
              run({"openssl", "req", "-newkey", "ec", "-pkeyopt", ec, "-nodes", "-keyout", "srv.key", "-out", "srv.csr", "-subj", "/CN=bench"}, d) &&
              run({"openssl", "x509", "-req", "-in", "srv.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial", "-out", "srv.pem",
                   "-days", "2", "-extfile", "ext.cnf"}, d);
    if (!ok) {
        std::printf("cannot make certificates with the openssl program\n");
        return 1;
    }
    const int port = freePort();
    const Child server = spawn({"openssl", "s_server", "-accept", "127.0.0.1:" + std::to_string(port), "-cert", (dir / "srv.pem").string(),
                                "-key", (dir / "srv.key").string(), "-WWW", "-quiet"},
                               (dir / "srv").string());
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    const std::string base = "https://127.0.0.1:" + std::to_string(port) + "/";

    fs::create_directories(dir / "app");
    fs::copy_file(dir / "ca.pem", dir / "app" / "cacert.pem");
    auto manifestFor = [&](const std::string& name, const fs::path& file) {
        writeText(dir / "srv" / "list.txt", "{\"version\": \"" + name + "\", \"list\": [{\"path\": \"" + file.filename().string() +
                                                "\", \"sha1\": \"" + sha1File(ssl, file) + "\"}]}");
        writeText(dir / "config.ini", "[base]\nupdateUrl=" + base + "\nversion=old\n");
    };
    auto update = [&](const fs::path& file) -> std::pair<double, long> {
        std::error_code ec2;
        fs::remove(dir / "app" / file.stem(), ec2);
        manifestFor(file.filename().string(), file);
        const auto t0 = Clock::now();
        const auto [rc, rss] = waitFor(spawn({runner.string(), "--config", (dir / "config.ini").string(), "--folder", (dir / "app").string()}, d));
        const double t = std::chrono::duration<double>(Clock::now() - t0).count();
        return {rc == 0 ? t : -1, rss};
    };

    // 2. One large file: the updater's whole run against curl's fetch.
    const fs::path big = dir / "srv" / "big.bin.txt";
    writeRandom(big, mib * 1024 * 1024);
    Samples runs, curls;
    for (int round = 0; round < rounds; ++round) {
        runs.add(update(big).first);
        curls.add(timeRun({"curl", "-s", "-f", "--cacert", (dir / "ca.pem").string(), "-o", (dir / "curl.out").string(), base + "big.bin.txt"}, d));
    }
    printRatio("download over loopback HTTPS", mib, "updater run", runs, "curl", curls);
    fs::remove(big);
    fs::remove(dir / "curl.out");

    // 3. Peak memory: 1 MiB against 1 GiB.
    const fs::path small = dir / "srv" / "small.bin.txt";
    const fs::path huge = dir / "srv" / "huge.bin.txt";
    writeRandom(small, 1 << 20);
    writeRandom(huge, std::size_t{1} << 30);
    const auto [ts, rssSmall] = update(small);
    const auto [th, rssHuge] = update(huge);
    if (ts < 0 || th < 0) {
        std::printf("memory: a run failed\n");
    } else {
        std::printf("memory: peak resident 1 MiB download %ld KiB, 1 GiB download %ld KiB, difference %ld KiB (aim <= 2048)\n", rssSmall,
                    rssHuge, rssHuge - rssSmall);
    }

    kill(server.pid, SIGTERM);
    waitFor(server);
    fs::remove_all(dir);
    return 0;
}
