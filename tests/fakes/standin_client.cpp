// Stand-in for the client in update tests: started by the support program after the swap, it
// appends one line to "standin_started.txt" in its current folder and ends (built with
// TOVI_STANDIN_CRASH, it crashes instead). The line names the
// folder the stand-in itself lives in, so a test can tell which copy ran.
#include <cstdio>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {
std::string ownPath() {
#ifdef _WIN32
    wchar_t buf[32768];
    const DWORD n = GetModuleFileNameW(nullptr, buf, 32768);
    const int len = WideCharToMultiByte(CP_UTF8, 0, buf, static_cast<int>(n), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(len), '\0');
    WideCharToMultiByte(CP_UTF8, 0, buf, static_cast<int>(n), out.data(), len, nullptr, nullptr);
    return out;
#else
    char buf[4096];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf);
    return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
#endif
}
}  // namespace

#ifdef _WIN32
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int show) {
#else
int main() {
    const int show = -1;
#endif
#ifdef TOVI_STANDIN_CRASH
    (void)show;
    __builtin_trap();
#endif
    FILE* f = std::fopen("standin_started.txt", "ab");
    if (!f) return 1;
    const std::string line = "started " + ownPath() + " show=" + std::to_string(show) + "\n";
    std::fwrite(line.data(), 1, line.size(), f);
    std::fclose(f);
    return 0;
}
