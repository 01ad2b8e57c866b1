#include <windows.h>

#include <algorithm>
#include <vector>

#include "common/error.h"
#include "common/handle.h"
#include "common/text.h"
#include "devices/devio.h"
#include "devices/printer_status.h"

namespace tovi::devices {

std::string systemErrorText(unsigned long e) {
    std::string out = "error " + std::to_string(e);
    const std::string text = tovi::systemErrorText(e);
    if (text != out) out += " (" + text + ")";
    return out;
}

namespace {

std::string errorText(DWORD e) { return systemErrorText(e); }

bool isMissing(DWORD e) {
    return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND || e == ERROR_BAD_NETPATH ||
           e == ERROR_BAD_NET_NAME || e == ERROR_INVALID_NAME || e == ERROR_BAD_UNIT || e == ERROR_NOT_READY;
}

// Writes in pieces (WriteFile takes a DWORD count); stops when a call fails or makes no progress
// (a serial port whose write time-out ran out).
std::size_t writeAll(HANDLE h, std::string_view bytes, DWORD* error) {
    constexpr std::size_t kPiece = 1 << 20;
    std::size_t done = 0;
    *error = 0;
    while (done < bytes.size()) {
        const std::size_t piece = bytes.size() - done < kPiece ? bytes.size() - done : kPiece;
        DWORD written = 0;
        if (!WriteFile(h, bytes.data() + done, static_cast<DWORD>(piece), &written, nullptr)) {
            *error = GetLastError();
            return done;
        }
        if (written == 0) {
            *error = ERROR_TIMEOUT;
            return done;
        }
        done += written;
    }
    return done;
}

void anchor() {}

// A COM port, its line as the system has it set up. Each wait sets the port's read time-outs: with
// ReadIntervalTimeout and ReadTotalTimeoutMultiplier at MAXDWORD, ReadFile returns at once with
// what has arrived, else with the first byte to come, else after ReadTotalTimeoutConstant. Not
// every serial driver keeps that promise (Wine waits for the whole count or the time-out), so a
// read asks for one byte: a reply is one byte, and a full buffer ends any read.
class ComLink final : public StatusLink {
public:
    explicit ComLink(UniqueWin32File file) : file_(std::move(file)) {}

    bool send(std::string_view bytes, int timeoutMs, std::string* reason) override {
        COMMTIMEOUTS t{};
        t.ReadIntervalTimeout = MAXDWORD;
        t.WriteTotalTimeoutConstant = static_cast<DWORD>(std::max(timeoutMs, 1));
        DWORD error = 0;
        if (!SetCommTimeouts(file_.get(), &t) || writeAll(file_.get(), bytes, &error) < bytes.size()) {
            *reason = "cannot send the status request: " + errorText(error ? error : GetLastError());
            return false;
        }
        return true;
    }

    Received receive(char* buffer, std::size_t size, int timeoutMs) override {
        COMMTIMEOUTS t{};
        t.ReadIntervalTimeout = MAXDWORD;
        if (timeoutMs > 0) {
            t.ReadTotalTimeoutMultiplier = MAXDWORD;
            t.ReadTotalTimeoutConstant = static_cast<DWORD>(timeoutMs);
        }
        DWORD got = 0;
        if (!SetCommTimeouts(file_.get(), &t) || !ReadFile(file_.get(), buffer, size > 0 ? 1 : 0, &got, nullptr)) {
            const DWORD e = GetLastError();
            return {0, true, errorText(e)};
        }
        return {got, false, {}};
    }

private:
    UniqueWin32File file_;
};

}  // namespace

std::unique_ptr<StatusLink> openDeviceLink(const std::string& path, IoResult* failure) {
    *failure = {};
    const std::wstring wide = widen(path);
    UniqueWin32File file(CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) {
        const DWORD e = GetLastError();
        *failure = {isMissing(e) ? WINPRINT_NO_PRINTER : WINPRINT_CANNOT_OPEN, "cannot open " + path + ": " + errorText(e)};
        return nullptr;
    }
    // Only a serial port waits for a reply within a time; a parallel or USB port may block a read
    // for ever.
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (GetFileType(file.get()) != FILE_TYPE_CHAR || !GetCommState(file.get(), &dcb)) return nullptr;
    return std::make_unique<ComLink>(std::move(file));
}

std::string libraryFolder() {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(reinterpret_cast<void*>(&anchor)), &module))
        return {};
    std::wstring buf(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(module, buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0) return {};
        if (n < buf.size()) {
            buf.resize(n);
            break;
        }
        buf.resize(buf.size() * 2);
    }
    const auto pos = buf.find_last_of(L"\\/");
    return pos == std::wstring::npos ? std::string(".") : narrow(buf.substr(0, pos));
}

IoResult writeToPath(const std::string& path, bool mustExist, std::string_view bytes, int timeoutMs) {
    const std::wstring wide = widen(path);
    UniqueWin32File file(CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                     mustExist ? OPEN_EXISTING : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD e = GetLastError();
        if (mustExist && isMissing(e)) return {WINPRINT_NO_PRINTER, "no device " + path + ": " + errorText(e)};
        return {WINPRINT_CANNOT_OPEN, "cannot open " + path + ": " + errorText(e)};
    }
    // A serial port without write time-outs blocks for ever when the device does not take the
    // bytes (flow control, cable pulled).
    COMMTIMEOUTS timeouts{};
    const bool comm = GetFileType(file.get()) == FILE_TYPE_CHAR && GetCommTimeouts(file.get(), &timeouts);
    if (comm) {
        timeouts.WriteTotalTimeoutConstant = static_cast<DWORD>(timeoutMs);
        timeouts.WriteTotalTimeoutMultiplier = 2;
        SetCommTimeouts(file.get(), &timeouts);
    }
    DWORD error = 0;
    const std::size_t done = writeAll(file.get(), bytes, &error);
    if (done < bytes.size())
        return {WINPRINT_SHORT_WRITE, "wrote " + std::to_string(done) + " of " + std::to_string(bytes.size()) +
                                          " bytes to " + path + ": " + errorText(error)};
    if (comm) FlushFileBuffers(file.get());
    return {};
}

CreateOutcome createNewFile(const std::string& path, std::string_view bytes, std::string* reason) {
    const std::wstring wide = widen(path);
    UniqueWin32File file(
        CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD e = GetLastError();
        if (e == ERROR_FILE_EXISTS || e == ERROR_ALREADY_EXISTS) return CreateOutcome::Exists;
        if (reason) *reason = "cannot create " + path + ": " + errorText(e);
        return CreateOutcome::Failed;
    }
    DWORD error = 0;
    const std::size_t done = writeAll(file.get(), bytes, &error);
    if (done < bytes.size()) {
        if (reason) *reason = "cannot write " + path + ": " + errorText(error);
        file.reset();
        DeleteFileW(wide.c_str());
        return CreateOutcome::Failed;
    }
    return CreateOutcome::Created;
}

}  // namespace tovi::devices
