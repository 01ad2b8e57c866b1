// Raw print jobs through the Windows spooler (winspool), apart from the rest of devio so that
// api_com.dll does not import the spooler.
#include <windows.h>
#include <winspool.h>

#include <cwchar>
#include <vector>

#include "common/handle.h"
#include "common/text.h"
#include "devices/devio.h"
#include "devices/printer_status.h"

namespace tovi::devices {

namespace {

// Windows' text of an error. GetLastError is read right after the call that failed, before anything
// else: building a message (narrow, the string's allocations) calls Windows too and may change it.
std::string errorText(DWORD e) { return systemErrorText(e); }

// The printer of that name, the system's default printer for an empty name: open, or nothing and
// why.
UniqueWin32Printer openQueue(const std::string& printer, std::wstring* name, IoResult* failure) {
    *name = widen(printer);
    if (name->empty()) {
        DWORD size = 0;
        GetDefaultPrinterW(nullptr, &size);
        if (size == 0) {
            *failure = {WINPRINT_NO_PRINTER, "no printer named in devices.ini and no default printer"};
            return {};
        }
        name->assign(size, L'\0');
        if (!GetDefaultPrinterW(name->data(), &size)) {
            const DWORD e = GetLastError();
            *failure = {WINPRINT_NO_PRINTER, "no default printer: " + errorText(e)};
            return {};
        }
        name->resize(wcslen(name->c_str()));
    }
    HANDLE raw = nullptr;
    if (!OpenPrinterW(name->data(), &raw, nullptr)) {
        const DWORD e = GetLastError();
        const int code = e == ERROR_INVALID_PRINTER_NAME ? WINPRINT_NO_PRINTER : WINPRINT_CANNOT_OPEN;
        *failure = {code, "cannot open printer " + narrow(*name) + ": " + errorText(e)};
        return {};
    }
    return UniqueWin32Printer(raw);
}

}  // namespace

StatusResult spoolerStatus(const std::string& printer) {
    StatusResult out;
    std::wstring name;
    const UniqueWin32Printer handle = openQueue(printer, &name, &out.io);
    if (!handle) {
        out.status.connected = false;
        return out;
    }
    // PRINTER_INFO_2 holds the strings it points to; the spooler's own size, within a sane bound.
    DWORD needed = 0;
    GetPrinterW(handle.get(), 2, nullptr, 0, &needed);
    std::vector<BYTE> info(needed >= sizeof(PRINTER_INFO_2W) && needed <= (1u << 20) ? needed : 0);
    if (info.empty() || !GetPrinterW(handle.get(), 2, info.data(), needed, &needed)) {
        const DWORD e = GetLastError();
        out.note = "the queue of " + narrow(name) + " tells no state: " + errorText(e);
        return out;
    }
    const auto* queue = reinterpret_cast<const PRINTER_INFO_2W*>(info.data());
    const DWORD state = queue->Status;
    // What the queue says is true; what it does not say, the driver may simply never report.
    const auto flagged = [&](DWORD flags) { return (state & flags) ? std::optional<bool>(true) : std::nullopt; };
    if (state & PRINTER_STATUS_NOT_AVAILABLE) out.status.connected = false;
    // A paused queue holds a job as an offline printer would: it would come out at some later time.
    out.status.online = !(state & (PRINTER_STATUS_OFFLINE | PRINTER_STATUS_NOT_AVAILABLE | PRINTER_STATUS_PAUSED)) &&
                        !(queue->Attributes & PRINTER_ATTRIBUTE_WORK_OFFLINE);
    out.status.paperOut = flagged(PRINTER_STATUS_PAPER_OUT);
    out.status.paperLow = out.status.paperOut;
    out.status.coverOpen = flagged(PRINTER_STATUS_DOOR_OPEN);
    out.status.error = flagged(PRINTER_STATUS_ERROR | PRINTER_STATUS_PAPER_JAM | PRINTER_STATUS_PAPER_PROBLEM |
                               PRINTER_STATUS_USER_INTERVENTION);
    out.status.source = "spooler";
    return out;
}

IoResult printRaw(const std::string& printer, std::string_view bytes) {
    std::wstring name;
    IoResult failure;
    const UniqueWin32Printer handle = openQueue(printer, &name, &failure);
    if (!handle) return failure;
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
