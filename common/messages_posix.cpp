#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "common/messages.h"

extern char** environ;

namespace tovi {

namespace {

// One line per message: a line break inside the text is written as the two characters \n.
std::string oneLine(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    std::string out;
    for (char c : text) {
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else {
            out += c;
        }
    }
    return out;
}

bool haveDesktop() {
    const char* x = std::getenv("DISPLAY");
    const char* w = std::getenv("WAYLAND_DISPLAY");
    return (x && *x) || (w && *w);
}

// Runs a dialog program and waits until the operator dismisses it; false if none could run.
bool runDialog(std::vector<std::string> argv) {
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    pid_t pid;
    if (posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0) return false;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
    }
    // 127: the shell-style "not found"; a dialog that ran returns anything else.
    return !(WIFEXITED(status) && WEXITSTATUS(status) == 127);
}

// Resource value syntax: the backslash-n inside is a line break between the two bindings.
constexpr const char* kXmessageKeys =
    "*baseTranslations: #override :<Key>Return: default-exit()\\n:<Key>Escape: default-exit()";

void showDialog(const std::string& caption, const std::string& text, bool error) {
    if (!haveDesktop()) return;
    std::vector<std::string> zenity = {"zenity", error ? "--error" : "--info", "--no-markup", "--text=" + text};
    if (!caption.empty()) zenity.push_back("--title=" + caption);
    if (runDialog(zenity)) return;
    // The last resort: xmessage draws with core X fonts only, so Chinese shows as escaped bytes,
    // but the operator can at least dismiss it from the keyboard: Enter and Escape press "okay".
    runDialog({"xmessage", "-center", "-default", "okay", "-xrm", kXmessageKeys,
               (caption.empty() ? "" : caption + ": ") + text});
}

}  // namespace

WindowHandle desktopWindow() { return nullptr; }

void writeStderrLine(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

void showPlainMessage(const std::string& text) {
    writeStderrLine(oneLine(text));
    showDialog("", text, false);
}

void logErrorMessage(const std::string& caption, const std::string& text) {
    writeStderrLine(oneLine(caption + ": " + text));
}

void showErrorMessage(WindowHandle, const std::string& caption, const std::string& text) {
    logErrorMessage(caption, text);
    showDialog(caption, text, true);
}

}  // namespace tovi
