// Test helper, run under Wine beside the program under test: waits for a visible message box
// (window class "#32770"), prints its caption and text as one JSON object in UTF-8 and presses OK.
//
//   msgbox_reader.exe <timeout-ms>    exit 0 with {"caption":"..","text":".."}, or 1 when none came
//
// A 64-bit build sees the boxes of 32-bit programs too. The box text is the static control with id
// 0xFFFF (id 100 in older Wine).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/text.h"

namespace {

std::string jsonString(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::wstring textOf(HWND h) {
    const auto n = SendMessageW(h, WM_GETTEXTLENGTH, 0, 0);
    std::wstring w(static_cast<std::size_t>(n) + 1, L'\0');
    SendMessageW(h, WM_GETTEXT, static_cast<WPARAM>(w.size()), reinterpret_cast<LPARAM>(w.data()));
    w.resize(static_cast<std::size_t>(n));
    return w;
}

BOOL CALLBACK findBox(HWND h, LPARAM out) {
    wchar_t cls[64] = {};
    GetClassNameW(h, cls, 64);
    if (IsWindowVisible(h) && std::wstring(cls) == L"#32770") {
        *reinterpret_cast<HWND*>(out) = h;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
    const DWORD timeout = argc > 1 ? static_cast<DWORD>(std::strtoul(argv[1], nullptr, 10)) : 10000;
    const DWORD start = GetTickCount();
    HWND box = nullptr;
    while (!box) {
        EnumWindows(findBox, reinterpret_cast<LPARAM>(&box));
        if (box) break;
        if (GetTickCount() - start > timeout) return 1;
        Sleep(50);
    }
    Sleep(100);  // let the box finish laying out its text
    HWND label = GetDlgItem(box, 0xFFFF);
    if (!label) label = GetDlgItem(box, 100);
    wchar_t caption[512] = {};
    GetWindowTextW(box, caption, 512);
    const std::string json = "{\"caption\":" + jsonString(tovi::narrow(caption)) +
                             ",\"text\":" + jsonString(label ? tovi::narrow(textOf(label)) : std::string()) + "}\n";
    std::fwrite(json.data(), 1, json.size(), stdout);
    std::fflush(stdout);
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    return 0;
}
