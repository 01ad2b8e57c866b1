// Raw print jobs through the Windows spooler (winspool), apart from the rest of devio so that
// api_com.dll does not import the spooler.
#include <windows.h>
#include <winspool.h>

#include <cwchar>

#include "common/handle.h"
#include "common/text.h"
#include "devices/devio.h"

namespace tovi::devices {

namespace {

// Windows' text of an error. GetLastError is read right after the call that failed, before anything
// else: building a message (narrow, the string's allocations) calls Windows too and may change it.
std::string errorText(DWORD e) { return systemErrorText(e); }

}  // namespace

IoResult printRaw(const std::string& printer, std::string_view bytes) {
    std::wstring name = widen(printer);
    if (name.empty()) {
        DWORD size = 0;
        GetDefaultPrinterW(nullptr, &size);
        if (size == 0) return {WINPRINT_NO_PRINTER, "no printer named in devices.ini and no default printer"};
        name.assign(size, L'\0');
        if (!GetDefaultPrinterW(name.data(), &size)) {
            const DWORD e = GetLastError();
            return {WINPRINT_NO_PRINTER, "no default printer: " + errorText(e)};
        }
        name.resize(wcslen(name.c_str()));
    }
    HANDLE raw = nullptr;
    if (!OpenPrinterW(name.data(), &raw, nullptr)) {
        const DWORD e = GetLastError();
        const int code = e == ERROR_INVALID_PRINTER_NAME ? WINPRINT_NO_PRINTER : WINPRINT_CANNOT_OPEN;
        return {code, "cannot open printer " + narrow(name) + ": " + errorText(e)};
    }
    UniqueWin32Printer handle(raw);
    wchar_t docName[] = L"tovipos receipt";
    wchar_t dataType[] = L"RAW";
    DOC_INFO_1W doc{docName, nullptr, dataType};
    if (StartDocPrinterW(handle.get(), 1, reinterpret_cast<LPBYTE>(&doc)) == 0) {
        const DWORD e = GetLastError();
        return {WINPRINT_CANNOT_OPEN, "printer " + narrow(name) + " refused a raw job: " + errorText(e)};
    }
    // The job is in the spooler now: one that fails is taken back rather than printed half.
    const auto takeBack = [&](int code, const std::string& what, DWORD e) -> IoResult {
        AbortPrinter(handle.get());
        return {code, "printer " + narrow(name) + " " + what + ": " + errorText(e)};
    };
    if (!StartPagePrinter(handle.get())) {
        const DWORD e = GetLastError();
        return takeBack(WINPRINT_CANNOT_OPEN, "refused a page", e);
    }
    std::size_t done = 0;
    DWORD error = 0;
    while (done < bytes.size()) {
        const std::size_t left = bytes.size() - done;
        const DWORD piece = static_cast<DWORD>(left < (1u << 20) ? left : (1u << 20));
        DWORD written = 0;
        if (!WritePrinter(handle.get(), const_cast<char*>(bytes.data() + done), piece, &written) || written == 0) {
            error = GetLastError();
            break;
        }
        done += written;
    }
    if (done < bytes.size())
        return takeBack(WINPRINT_SHORT_WRITE, "took " + std::to_string(done) + " of " + std::to_string(bytes.size()) + " bytes",
                        error);
    if (!EndPagePrinter(handle.get())) {
        const DWORD e = GetLastError();
        return takeBack(WINPRINT_SHORT_WRITE, "did not end the page", e);
    }
    if (!EndDocPrinter(handle.get())) {
        const DWORD e = GetLastError();
        return {WINPRINT_SHORT_WRITE, "printer " + narrow(name) + " did not finish the job: " + errorText(e)};
    }
    return {};
}

}  // namespace tovi::devices

void tovi::Win32PrinterTraits::close(type h) noexcept { ClosePrinter(h); }
