// tovipos_print on Windows (GUI subsystem, no window): bind the device libraries, run the one
// command, end.
#include <windows.h>

#include "common/cmdline.h"
#include "common/text.h"
#include "support/commands.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    return tovi::support::runSupportProgram([] { return tovi::splitCommandLine(tovi::narrow(GetCommandLineW())); },
                                            [](const std::string& text) {
                                                // The client's pipe: the C runtime of a GUI program
                                                // may not have connected stdout to it.
                                                const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
                                                DWORD written = 0;
                                                if (out && out != INVALID_HANDLE_VALUE) {
                                                    WriteFile(out, text.data(), static_cast<DWORD>(text.size()),
                                                              &written, nullptr);
                                                }
                                            });
}
