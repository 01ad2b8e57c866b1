// Starting the other program of the system without waiting for it.
#pragma once

#include <string>

#include "common/messages.h"

namespace tovi {

// File names of the two programs as they are started by bare name.
#ifdef _WIN32
inline constexpr const char* kClientProgram = "tovipos.exe";
inline constexpr const char* kSupportProgram = "tovipos_print.exe";
#else
inline constexpr const char* kClientProgram = "tovipos";
inline constexpr const char* kSupportProgram = "tovipos_print";
#endif

// Show commands passed to the started program (SW_HIDE, SW_SHOWNORMAL).
inline constexpr int kShowHidden = 0;
inline constexpr int kShowNormal = 1;

// Starts program (a bare name, found by the system's usual search that begins in the current
// folder) with the parameter text, in the current folder, and returns at once. Nothing is
// reported: the result is not examined.
// Windows: ShellExecuteW(owner, "open", program, parameters, "", show).
// Linux: ./program if it exists in the current folder, else found on PATH; the parameters are
// split with splitCommandLine; the show command is ignored.
void startProgram(WindowHandle owner, const std::string& program, const std::string& parameters, int show);

}  // namespace tovi
