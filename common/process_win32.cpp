#include <windows.h>
#include <shellapi.h>

#include "common/process.h"
#include "common/text.h"

namespace tovi {

void startProgram(WindowHandle owner, const std::string& program, const std::string& parameters, int show) {
    ShellExecuteW(static_cast<HWND>(owner), L"open", widen(program).c_str(), widen(parameters).c_str(), L"", show);
}

}  // namespace tovi
