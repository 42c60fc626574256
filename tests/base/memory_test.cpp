#include "base/memory.h"

#include "base/string.h"

#include <gtest/gtest.h>

#include <string>

using namespace trivane;

namespace {

std::string str(const Memory& m) { return std::string(m.data(), m.length()); }

TEST(MemoryTest, CopiesShareUntilOneIsWritten) {
    Memory a("abc", 3);
    Memory b = a;
    EXPECT_EQ(a.data(), b.data());
    b.append("def", 3);
    EXPECT_EQ(str(a), "abc");
    EXPECT_EQ(str(b), "abcdef");
    b.writableData()[0] = 'X';
    EXPECT_EQ(str(b), "Xbcdef");
    Memory c = b;
    c.writableData()[1] = 'Y';
    EXPECT_EQ(str(b), "Xbcdef");
    EXPECT_EQ(str(c), "XYcdef");
}

TEST(MemoryTest, EmptyBuffersShareTheOtherOperand) {
    const Memory a("xyz", 3);
    Memory e;
    e.append(a);
    EXPECT_EQ(e.data(), a.data());
    EXPECT_EQ((Memory() + a).data(), a.data());
    EXPECT_EQ((a + Memory()).data(), a.data());
    EXPECT_EQ(str(a + a), "xyzxyz");
}

TEST(MemoryTest, ReserveFillAndLargeBuffers) {
    Memory m;
    m.fill(3, '-');
    char* out = m.reserve(10000);  // beyond the pooled sizes
    for (int i = 0; i < 10000; ++i) out[i] = static_cast<char>('a' + i % 26);
    m.setLength(10003);
    EXPECT_EQ(m.length(), 10003u);
    EXPECT_EQ(str(m).substr(0, 5), "---ab");
    m.append(m.data(), m.length());  // its own bytes
    EXPECT_EQ(m.length(), 20006u);
    EXPECT_EQ(str(m).substr(10003, 5), "---ab");
}

}  // namespace
