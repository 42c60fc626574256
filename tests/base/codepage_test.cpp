#include "base/codepage.h"

#include "support/platform.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace trivane;

namespace {

TEST(CodePageTest, OnlyWellFormedUtf8Converts) {
    if (test::windowsTarget) GTEST_SKIP() << "the narrow code page is UTF-8 on Linux only";
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

// Windows's narrow code page of a western system, 1252: every byte but five
// unassigned ones is a character.
TEST(CodePageTest, TheWesternCodePageConvertsToUtf8) {
    if (!test::windowsTarget) GTEST_SKIP() << "Windows's narrow code page; on Linux it is UTF-8";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", ""},
        {"plain ascii", "plain ascii"},
        {"J\xf6rg \x80", "J\xc3\xb6rg \xe2\x82\xac"},
        {"\xc3\xb6", "\xc3\x83\xc2\xb6"},
    };
    for (const auto& [bytes, utf8] : cases) {
        SCOPED_TRACE(::testing::PrintToString(bytes));
        String out = "unchanged"_s;
        ASSERT_TRUE(ansiToUtf8(String(bytes.data(), static_cast<uint32_t>(bytes.size())), out));
        EXPECT_EQ(std::string(out.data(), out.length()), utf8);
    }
}

}  // namespace
