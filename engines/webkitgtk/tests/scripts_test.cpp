#include "engines/webkitgtk/scripts.h"

#include <gtest/gtest.h>

namespace tovi::webengine {
namespace {

TEST(JsStringLiteral, Table) {
    struct Case {
        const char* text;
        const char* literal;
    } cases[] = {
        {"", "\"\""},
        {"toviPrint", "\"toviPrint\""},
        {"say \"hi\"", "\"say \\\"hi\\\"\""},
        {"back\\slash", "\"back\\\\slash\""},
        {"it's", "\"it's\""},
        {"a\nb\rc\td", "\"a\\nb\\rc\\td\""},
        {"\x01\x1f\x7f", "\"\\u0001\\u001f\\u007f\""},
        {"收银 😀", "\"收银 😀\""},
        {"line\xE2\x80\xA8para\xE2\x80\xA9", "\"line\\u2028para\\u2029\""},
        {"\xE2\x80\xA6", "\"\xE2\x80\xA6\""},  // U+2026 shares the lead bytes and stays
        {"</script>", "\"</script>\""},
    };
    for (const auto& c : cases) EXPECT_EQ(jsStringLiteral(c.text), c.literal) << c.text;
}

TEST(BindingScript, QuotesTheNameAndLeavesTheHandlerToTheIsolatedWorld) {
    const std::string s = bindingScript("odd\"name", 2);
    EXPECT_EQ(s.find("messageHandlers"), std::string::npos) << "the page's world has no way to the handler";
    EXPECT_NE(s.find("var name = \"odd\\\"name\", count = 2;"), std::string::npos) << s;
    EXPECT_NE(s.find("return 0;"), std::string::npos);
}

}  // namespace
}  // namespace tovi::webengine
