// The catch barrier of exported C functions: the fallback and exactly one line on standard error.
#include "common/boundary.h"

#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <stdexcept>
#include <string>

namespace {

struct BarrierCase {
    const char* name;
    tovi::ExportSite site;
    std::function<int()> body;
    int result;
    std::string line;
};

class BarrierTest : public ::testing::TestWithParam<BarrierCase> {};

TEST_P(BarrierTest, GivesTheResultOrTheFallbackAndOneLine) {
    const BarrierCase& c = GetParam();
    ::testing::internal::CaptureStderr();
    const int result = tovi::guardedExport(c.site, -7, c.body);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.line);
    EXPECT_EQ(result, c.result);
}

const BarrierCase kBarrierCases[] = {
    {"result_passes_silently", {"winprint"}, [] { return 3; }, 3, ""},
    {"error_text", {"winprint"}, []() -> int { throw std::runtime_error("disk full"); }, -7, "winprint: disk full\n"},
    {"with_function", {"tovi_webengine", "wkeLoadURL"}, []() -> int { throw std::runtime_error("no view"); }, -7,
     "tovi_webengine: wkeLoadURL: no view\n"},
    {"out_of_memory", {"api_com"}, []() -> int { throw std::bad_alloc(); }, -7, "api_com: out of memory\n"},
    {"not_an_exception", {"api_com"}, []() -> int { throw 42; }, -7, "api_com: unexpected failure\n"},
};

INSTANTIATE_TEST_SUITE_P(Exports, BarrierTest, ::testing::ValuesIn(kBarrierCases),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(BarrierTest, WithoutResultStillOneLine) {
    ::testing::internal::CaptureStderr();
    tovi::guardedExport({"testengine", "wkeResize"}, [] { throw std::logic_error("bad size"); });
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "testengine: wkeResize: bad size\n");
}

}  // namespace
