// Recording stand-in for the printing library: records each call with its exact bytes.
#include <string>

#include "devices/device_api.h"
#include "escpos/framing.h"
#include "tests/fakes/fake_record.h"

using tovi::fakes::hex;
using tovi::fakes::record;
using tovi::fakes::shouldFail;

extern "C" int winPrint(const char* data) {
    try {
        // Where the real library ends a job handed over without a length.
        const std::size_t n = data ? tovi::escpos::escposJobLength(reinterpret_cast<const unsigned char*>(data)) : 0;
        record("winPrint " + hex(std::string_view(data ? data : "", n)));
        return shouldFail("winPrint") ? 1 : 0;
    } catch (...) {
        return 1;
    }
}

#ifndef TOVI_FAKE_WITHOUT_PRINT_BYTES
// Left out of the "vendor" build: another maker's library that has only the two classic functions.
extern "C" int winPrintBytes(const char* data, int length) {
    try {
        const std::string_view bytes(data ? data : "", data && length > 0 ? static_cast<std::size_t>(length) : 0);
        record("winPrintBytes " + std::to_string(length) + " " + hex(bytes));
        return shouldFail("winPrintBytes") ? 1 : 0;
    } catch (...) {
        return 1;
    }
}
#endif

extern "C" int winWriteFile(const char* port, const char* data, int length) {
    try {
        const std::string_view portText(port ? port : "");
        const std::string_view bytes(data ? data : "", data && length > 0 ? static_cast<std::size_t>(length) : 0);
        record("winWriteFile " + hex(portText) + " " + std::to_string(length) + " " + hex(bytes));
        return shouldFail("winWriteFile") ? 1 : 0;
    } catch (...) {
        return 1;
    }
}
