// Recording stand-in for the serial-port library. Failure is reported as 0x100: the low byte is
// zero but the whole value is not, as some serial libraries return a BOOL in AL only.
#include <string>

#include "devices/device_api.h"
#include "tests/fakes/fake_record.h"

using tovi::fakes::hex;
using tovi::fakes::record;
using tovi::fakes::shouldFail;

namespace {
constexpr int kOk = 1;
constexpr int kFailed = 0x100;
}  // namespace

extern "C" int TOVI_STDCALL com_init(int port, int baud) {
    try {
        record("com_init " + std::to_string(port) + " " + std::to_string(baud));
        return shouldFail("com_init") ? kFailed : kOk;
    } catch (...) {
        return kFailed;
    }
}

extern "C" int TOVI_STDCALL com_send(const char* data, int length) {
    try {
        const std::string_view bytes(data ? data : "", data && length > 0 ? static_cast<std::size_t>(length) : 0);
        record("com_send " + std::to_string(length) + " " + hex(bytes));
        return shouldFail("com_send") ? kFailed : kOk;
    } catch (...) {
        return kFailed;
    }
}

extern "C" int TOVI_STDCALL com_rest(void) {
    try {
        record("com_rest");
        return shouldFail("com_rest") ? kFailed : kOk;
    } catch (...) {
        return kFailed;
    }
}
