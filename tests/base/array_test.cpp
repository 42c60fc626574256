#include "base/array.h"

#include <gtest/gtest.h>

#include <string>

using namespace trivane;

namespace {

TEST(ArrayTest, ACopyKeepsItsItemsWhenTheOtherChanges) {
    Array<int> a;
    a.append(1);
    a.append(2);
    Array<int> b = a;
    b.append(3);
    b.item(0) = 10;
    ASSERT_EQ(a.count(), 2u);
    EXPECT_EQ(a[0], 1);
    EXPECT_EQ(a[1], 2);
    ASSERT_EQ(b.count(), 3u);
    EXPECT_EQ(b[0], 10);
    a.removeAt(0);
    EXPECT_EQ(b[1], 2);
    EXPECT_EQ(a[0], 2);
}

TEST(ArrayTest, ItemExtendsWithDefaults) {
    Array<String> a;
    a.append("x"_s);
    a.append("y"_s);
    a.item(5) = "z"_s;
    ASSERT_EQ(a.count(), 6u);
    EXPECT_TRUE(a[2].isEmpty());
    EXPECT_TRUE(a[5] == "z"_s);
}

TEST(ArrayTest, IndexesOutsideTheStorageThrow) {
    Array<int> a;
    EXPECT_THROW(a.item(0), EBadItem);
    a.append(7);
    a.removeAt(0);  // the only item: the array drops its storage
    EXPECT_EQ(a.begin(), nullptr);
    EXPECT_THROW(a.item(0), EBadItem);
    a.append(1);
    EXPECT_THROW(a.removeAt(1), EBadItem);
    EXPECT_THROW(a.removeAt(static_cast<uint32_t>(-1)), EBadItem);
    EXPECT_THROW((void)a.at(1), EBadItem);
    EXPECT_THROW(a.item(static_cast<uint32_t>(-1)), EBadItem);
    try {
        a.removeAt(9);
    } catch (const EBadItem& e) {
        EXPECT_EQ(std::string(e.file().data(), e.file().length()), "array");
    }
}

TEST(ArrayTest, RemoveAtShiftsTheRestDown) {
    Array<int> a;
    for (int i = 0; i < 5; ++i) a.append(i);
    a.removeAt(1);
    std::string seen;
    for (int v : a) seen += std::to_string(v);
    EXPECT_EQ(seen, "0234");
}

TEST(ArrayTest, SortedArrayFindAndInsert) {
    SortedArray<int> s;
    for (int v : {5, 1, 4, 1, 3}) s.append(v);
    s.sort();
    std::string seen;
    for (int v : s) seen += std::to_string(v);
    EXPECT_EQ(seen, "11345");
    EXPECT_EQ(s.find(4), 3u);
    EXPECT_EQ(s.find(2), s.count());
    s.insertSorted(2);
    EXPECT_EQ(s.find(2), 2u);
}

}  // namespace
