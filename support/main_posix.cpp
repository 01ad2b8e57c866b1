// tovipos_print on Linux: bind the device libraries, run the one command, end.
#include <cstdio>
#include <string>
#include <vector>

#include "support/commands.h"

int main(int argc, char** argv) {
    return tovi::support::runSupportProgram([&] { return std::vector<std::string>(argv, argv + argc); },
                                            [](const std::string& text) {
                                                std::fwrite(text.data(), 1, text.size(), stdout);
                                                std::fflush(stdout);
                                            });
}
