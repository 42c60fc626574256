#include "base/dict.h"

#include <gtest/gtest.h>

#include <string>

using namespace trivane;

namespace {

std::string str(const String& s) { return std::string(s.data(), s.length()); }

TEST(DictTest, StringKeysOrderShorterFirst) {
    StringDict<int> d;
    EXPECT_TRUE(d.insert("bb"_s, 1));
    EXPECT_TRUE(d.insert("a"_s, 2));
    EXPECT_TRUE(d.insert("ab"_s, 3));
    EXPECT_FALSE(d.insert("a"_s, 9));
    std::string order;
    for (const auto& item : d) order += str(item.key) + ",";
    EXPECT_EQ(order, "a,ab,bb,");
    EXPECT_EQ(d.get("a"_s), 2);
}

TEST(DictTest, GetOfAnAbsentKeyThrowsAndItemCreates) {
    Dict<uint32_t, String, InternalMutex> d;
    try {
        (void)d.get(7);
        FAIL();
    } catch (const EBadItem& e) {
        EXPECT_EQ(str(e.file()), "dict");
    }
    d.item(7) = "seven"_s;
    d.item(3) = "three"_s;
    d.item(10) = "ten"_s;
    EXPECT_EQ(str(d.get(7)), "seven");
    EXPECT_EQ(d.itemAt(0).key, 3u);
    EXPECT_EQ(d.itemAt(2).key, 10u);
    EXPECT_TRUE(d.remove(7));
    EXPECT_FALSE(d.contains(7));
    EXPECT_EQ(d.count(), 2u);
}

TEST(DictTest, CopiesAreIndependent) {
    StringDict<int> a;
    a.insert("k"_s, 1);
    StringDict<int> b = a;
    b.item("k"_s) = 2;
    b.insert("j"_s, 3);
    EXPECT_EQ(a.get("k"_s), 1);
    EXPECT_EQ(a.count(), 1u);
    EXPECT_EQ(b.get("k"_s), 2);
}

}  // namespace
