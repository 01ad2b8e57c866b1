#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include "common/error.h"
#include "common/handle.h"
#include "common/process.h"
#include "common/text.h"

namespace tovi {

void startProgram(WindowHandle owner, const std::string& program, const std::string& parameters, int show) {
    ShellExecuteW(static_cast<HWND>(owner), L"open", widen(program).c_str(), widen(parameters).c_str(), L"", show);
}

WatchedProgram startWatched(WindowHandle owner, const std::string& program, const std::string& parameters, int show) {
    // The shell may use COM; a worker thread initialises it for itself (undone after the call).
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    const std::wstring file = widen(program);
    const std::wstring params = widen(parameters);
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    // NOCLOSEPROCESS: the handle to wait on. NO_UI: a program that cannot be started is reported
    // by the caller, not by a box of the shell. NOASYNC: the start is complete when the call returns.
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    info.hwnd = static_cast<HWND>(owner);
    info.lpVerb = L"open";
    info.lpFile = file.c_str();
    info.lpParameters = params.c_str();
    info.lpDirectory = L"";
    info.nShow = show;
    const bool ok = ShellExecuteExW(&info);
    const DWORD startError = ok ? 0 : GetLastError();
    if (SUCCEEDED(com)) CoUninitialize();
    WatchedProgram watched;
    if (!ok) {
        watched.error = "cannot start " + program + ": " + systemErrorText(startError);
        return watched;
    }
    watched.started = true;
    watched.process.reset(info.hProcess);
    return watched;
}

std::optional<int> waitForExit(WatchedProgram& program, int ms) {
    if (!program.started) return -1;
    // No handle: the shell started it through some other road; nothing to wait on.
    if (!program.process) return std::nullopt;
    if (WaitForSingleObject(program.process.get(), static_cast<DWORD>(ms)) != WAIT_OBJECT_0) return std::nullopt;
    DWORD code = 0;
    if (!GetExitCodeProcess(program.process.get(), &code)) return -1;
    return static_cast<int>(code);
}

ProgramResult runProgram(WindowHandle owner, const std::string& program, const std::string& parameters, int show) {
    WatchedProgram watched = startWatched(owner, program, parameters, show);
    if (!watched.started) return {false, 0, watched.error};
    // No handle: the shell started it through some other road; nothing to wait on.
    if (!watched.process) return {true, 0, {}};
    WaitForSingleObject(watched.process.get(), INFINITE);
    DWORD code = 0;
    if (!GetExitCodeProcess(watched.process.get(), &code)) return {true, -1, {}};
    return {true, static_cast<int>(code), {}};
}

}  // namespace tovi
