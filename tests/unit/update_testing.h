// What the updater's unit tests share: the error text of a call, and the run-time OpenSSL loaded
// once per suite.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "net/openssl.h"
#include "common/error.h"

namespace tovi::updater_testing {

// "message [kind]" of the tovi::Error that f throws; "" when it throws none.
inline std::string errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const tovi::Error& e) {
        return std::string(e.what()) + " [" + e.kind() + "]";
    }
    return "";
}

// A suite that needs the system's libcrypto: loaded once before its first test.
class WithOpenSsl : public ::testing::Test {
    using OpenSsl = updater::OpenSsl;
protected:
    static void SetUpTestSuite() { ssl_ = new OpenSsl(updater::loadOpenSsl()); }
    static void TearDownTestSuite() {
        delete ssl_;
        ssl_ = nullptr;
    }
    static inline OpenSsl* ssl_ = nullptr;
};

}  // namespace tovi::updater_testing
