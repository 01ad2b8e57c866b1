// Test helper for update tests on Windows: opens a file without sharing, so that nobody can
// replace it, creates "<file>.held" once it holds it, keeps it for the given time and ends.
//
//   file_holder.exe <file> <milliseconds> [read]
// With "read", others may still read the file (but neither write, rename nor delete it).
#include <windows.h>
#include <shellapi.h>

#include <cwchar>
#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc < 3 || argc > 4) return 2;
    const DWORD share = argc == 4 && std::wcscmp(argv[3], L"read") == 0 ? FILE_SHARE_READ : 0;
    HANDLE h = CreateFileW(argv[1], GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return 3;
    const std::wstring marker = std::wstring(argv[1]) + L".held";
    HANDLE m = CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (m != INVALID_HANDLE_VALUE) CloseHandle(m);
    Sleep(static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10)));
    CloseHandle(h);
    LocalFree(argv);
    return 0;
}
