// Strings, arrays and pooled blocks shared between threads.
#include "base/array.h"
#include "base/memoryblock.h"
#include "base/string.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace trivane;

namespace {

TEST(SharingTest, ThreadsCopyAndReleaseSharedStrings) {
    const String shared = String("a shared text long enough to live in a pooled block");
    const String expected = shared.clone();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 20000; ++i) {
                String copy = shared;
                String part = copy.mid(2, 10);
                if (i % 3 == t % 3) copy.append('!');  // copy-on-write, never into the shared block
                String sum = part + copy + String::fromInt(i);
                ASSERT_EQ(sum.length(), part.length() + copy.length() + String::fromInt(i).length());
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_TRUE(shared == expected);
}

TEST(SharingTest, ThreadsTakeAndReturnPooledBlocks) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 20000; ++i) {
                const uint32_t size = 1 + static_cast<uint32_t>((i * 37 + t) % 300);
                gc::Pointer<MemoryBlock> block(MemoryBlock::get(size));
                ASSERT_GE(block->capacity(), size);
                block->data()[0] = static_cast<char>(t);
                block->data()[size - 1] = static_cast<char>(t);
                ASSERT_EQ(block->data()[0], static_cast<char>(t));
            }
        });
    for (auto& t : threads) t.join();
}

TEST(SharingTest, ArrayCopiesTravelBetweenThreads) {
    Array<String, InternalMutex> source;
    for (int i = 0; i < 50; ++i) source.append(String::fromInt(i));
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 2000; ++i) {
                Array<String, InternalMutex> copy = source;
                copy.append("x"_s);
                ASSERT_EQ(copy.count(), 51u);
                ASSERT_TRUE(copy[7] == "7"_s);
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(source.count(), 50u);
}

}  // namespace
