// Times one print request end to end on Linux: start tovipos_print with a receipt job and the
// recording device libraries, wait for it to end. Beside it, the time to start and wait for a
// trivial program (/bin/true), and the ratio of the two medians. The aim is a ratio of at most 2.
//
//   print_bench [runs] [bin-folder]
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;

namespace {

// Start-to-exit time of one run, in microseconds; negative when the program failed.
double timeRun(const std::vector<std::string>& argv, const std::string& cwd) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    const auto start = std::chrono::steady_clock::now();
    pid_t pid;
    const int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
    }
    const auto end = std::chrono::steady_clock::now();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    return std::chrono::duration<double, std::micro>(end - start).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    const fs::path bin = argc > 2 ? fs::path(argv[2]) : fs::path(TOVI_BENCH_BIN);

    // A folder of its own: the program and the recording libraries, never the real ones.
    const fs::path dir = fs::temp_directory_path() / ("tovi-print-bench-" + std::to_string(getpid()));
    fs::create_directories(dir);
    for (const char* f : {"tovipos_print", "fakes/libwinprint.so", "fakes/libapi_com.so"}) {
        fs::copy_file(bin / f, dir / fs::path(f).filename(), fs::copy_options::overwrite_existing);
    }
    {
        // A receipt of typical size: 40 lines of GB2312 text with CR LF.
        std::ofstream job(dir / "PrintOut1.txt", std::ios::binary);
        for (int i = 0; i < 40; ++i) job << "\xC9\xCC\xC6\xB7 " << i << "      1 x 12.50      12.50\r\n";
    }
    setenv("TOVI_FAKE_LOG", "/dev/null", 1);
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");

    const std::vector<std::string> print = {(dir / "tovipos_print").string(), "print", "PrintOut1.txt", "USB",
                                            "TRUE", "TRUE", "3"};
    const std::vector<std::string> trivial = {"/bin/true"};
    std::vector<double> printTimes, trivialTimes;
    for (int i = 0; i < runs; ++i) {
        // Interleaved, so that a busy moment of the machine hits both series alike.
        const double p = timeRun(print, dir.string());
        const double t = timeRun(trivial, dir.string());
        if (p < 0 || t < 0) {
            std::fprintf(stderr, "a run failed (print %.0f, trivial %.0f)\n", p, t);
            fs::remove_all(dir);
            return 1;
        }
        printTimes.push_back(p);
        trivialTimes.push_back(t);
    }
    fs::remove_all(dir);

    const double mp = median(printTimes), mt = median(trivialTimes);
    std::printf("print request (tovipos_print print ... USB TRUE TRUE 3), median of %d: %.0f us\n", runs, mp);
    std::printf("trivial program (/bin/true), median of %d: %.0f us\n", runs, mt);
    std::printf("ratio: %.2f (aim: at most 2)\n", mp / mt);
    return 0;
}
