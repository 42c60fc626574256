#include "base/codepage.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace trivane;

namespace {

TEST(CodePageTest, OnlyWellFormedUtf8Converts) {
    const std::vector<std::pair<std::string, bool>> cases = {
        {"", true},
        {"plain ascii", true},
        {"J\xc3\xb6rg \xe2\x82\xac \xf0\x9f\x94\x92", true},
        {std::string("nul\0inside", 10), true},
        {"\xff", false},
        {"\x80", false},
        {"\xc3", false},
        {"\xe2\x82", false},
        {"\xc0\xaf", false},          // overlong '/'
        {"\xe0\x80\xaf", false},      // overlong '/'
        {"\xed\xa0\x80", false},      // surrogate
        {"\xf4\x90\x80\x80", false},  // above U+10FFFF
        {"\xf8\x88\x80\x80\x80", false},
    };
    for (const auto& [bytes, valid] : cases) {
        SCOPED_TRACE(::testing::PrintToString(bytes));
        const String text = String(bytes.data(), static_cast<uint32_t>(bytes.size()));
        String out = "unchanged"_s;
        EXPECT_EQ(ansiToUtf8(text, out), valid);
        EXPECT_EQ(std::string(out.data(), out.length()), valid ? bytes : "unchanged");
    }
}

}  // namespace
