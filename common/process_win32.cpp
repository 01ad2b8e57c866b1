#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <algorithm>
#include <cwchar>

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

namespace {

// The caller's environment block with one more "NAME=value" (none when empty).
std::wstring environmentWith(const std::wstring& variable) {
    std::wstring block;
    if (wchar_t* env = GetEnvironmentStringsW()) {
        const wchar_t* end = env;
        while (*end) end += wcslen(end) + 1;
        block.assign(env, static_cast<std::size_t>(end - env));
        FreeEnvironmentStringsW(env);
    }
    if (!variable.empty()) block += variable + L'\0';
    return block + L'\0';
}

ProgramResult cannotStart(const std::string& program) {
    return {false, 0, "cannot start " + program + ": " + systemErrorText(GetLastError()), {}, false};
}

// With options: CreateProcessW, its standard output a pipe of ours (large enough for all a
// support program says, so it never waits for us), its standard error the caller's, nothing else
// inherited; then a wait with a deadline, after which it is ended.
ProgramResult runWithOptions(const std::string& program, const std::string& parameters, int show,
                             const RunOptions& options) {
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    HANDLE r = nullptr, w = nullptr;
    if (!CreatePipe(&r, &w, &inheritable, static_cast<DWORD>(kMaxOutput))) return cannotStart(program);
    UniqueWin32Handle readEnd(r), writeEnd(w);
    SetHandleInformation(r, HANDLE_FLAG_INHERIT, 0);
    UniqueWin32Handle error;
    const HANDLE mine = GetStdHandle(STD_ERROR_HANDLE);
    HANDLE copy = nullptr;
    if (mine && mine != INVALID_HANDLE_VALUE &&
        DuplicateHandle(GetCurrentProcess(), mine, GetCurrentProcess(), &copy, 0, TRUE, DUPLICATE_SAME_ACCESS)) {
        error.reset(copy);
    }
    HANDLE inherited[2] = {w, error.get()};
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::string attributes(size, '\0');
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
    if (!InitializeProcThreadAttributeList(list, 1, 0, &size)) return cannotStart(program);
    struct Delete {
        LPPROC_THREAD_ATTRIBUTE_LIST list;
        ~Delete() { DeleteProcThreadAttributeList(list); }
    } deleteList{list};
    UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited, (error ? 2 : 1) * sizeof(HANDLE),
                              nullptr, nullptr);
    STARTUPINFOEXW info{};
    info.StartupInfo.cb = sizeof info;
    info.StartupInfo.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    info.StartupInfo.wShowWindow = static_cast<WORD>(show);
    info.StartupInfo.hStdOutput = w;
    info.StartupInfo.hStdError = error.get();
    info.lpAttributeList = list;
    // As the shell finds a bare name: the current folder first.
    std::wstring file = widen(program);
    wchar_t full[MAX_PATH];
    const DWORD attrs = GetFileAttributesW(file.c_str());
    const bool here = attrs != INVALID_FILE_ATTRIBUTES && !(attrs & FILE_ATTRIBUTE_DIRECTORY) &&
                      GetFullPathNameW(file.c_str(), MAX_PATH, full, nullptr) - 1 < MAX_PATH - 1;
    if (here) file = full;
    std::wstring line = L"\"" + file + L"\" " + widen(parameters);
    std::wstring env = environmentWith(widen(options.variable));
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(here ? file.c_str() : nullptr, line.data(), nullptr, nullptr, TRUE,
                        CREATE_UNICODE_ENVIRONMENT | EXTENDED_STARTUPINFO_PRESENT, env.data(), nullptr,
                        &info.StartupInfo, &process)) {
        return cannotStart(program);
    }
    UniqueWin32Handle handle(process.hProcess);
    CloseHandle(process.hThread);
    writeEnd.reset();
    ProgramResult result{true, 0, {}, {}, false};
    if (WaitForSingleObject(handle.get(), options.timeoutMs < 0 ? INFINITE : static_cast<DWORD>(options.timeoutMs)) !=
        WAIT_OBJECT_0) {
        TerminateProcess(handle.get(), 1);
        WaitForSingleObject(handle.get(), INFINITE);
        result.timedOut = true;
    }
    DWORD code = 0;
    result.exitCode = GetExitCodeProcess(handle.get(), &code) ? static_cast<int>(code) : -1;
    // What it wrote is in the pipe; only what is there is read (nothing else holds its end).
    char buf[4096];
    DWORD available = 0, got = 0;
    while (PeekNamedPipe(readEnd.get(), nullptr, 0, nullptr, &available, nullptr) && available > 0 &&
           ReadFile(readEnd.get(), buf, sizeof buf, &got, nullptr) && got > 0) {
        if (result.output.size() < kMaxOutput) result.output.append(buf, std::min<std::size_t>(got, kMaxOutput - result.output.size()));
    }
    return result;
}

}  // namespace

ProgramResult runProgram(WindowHandle owner, const std::string& program, const std::string& parameters, int show,
                         const RunOptions& options) {
    if (options.captureOutput) return runWithOptions(program, parameters, show, options);
    WatchedProgram watched = startWatched(owner, program, parameters, show);
    if (!watched.started) return {false, 0, watched.error, {}, false};
    // No handle: the shell started it through some other road; nothing to wait on.
    if (!watched.process) return {true, 0, {}, {}, false};
    WaitForSingleObject(watched.process.get(), INFINITE);
    DWORD code = 0;
    if (!GetExitCodeProcess(watched.process.get(), &code)) return {true, -1, {}, {}, false};
    return {true, static_cast<int>(code), {}, {}, false};
}

}  // namespace tovi
