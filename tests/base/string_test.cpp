#include "base/string.h"
#include <gtest/gtest.h>
using namespace trivane;
TEST(StringTest, Smoke) { String a = "abc"_s; String b = a + "def" + a; EXPECT_EQ(String(b).view(), "abcdefabc"); }
