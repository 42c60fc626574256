#include "base/memoryblock.h"

#include <gtest/gtest.h>

using namespace trivane;

namespace {

TEST(MemoryBlockTest, SizeClasses) {
    struct Case {
        uint32_t size, capacity;
    } cases[] = {{1, 64}, {64, 64}, {65, 128}, {8192, 8192}, {8193, 8256}};
    for (const Case& c : cases) {
        gc::Pointer<MemoryBlock> block(MemoryBlock::get(c.size));
        EXPECT_EQ(block->capacity(), c.capacity) << c.size;
    }
}

TEST(MemoryBlockTest, OneBlockPerSizeClassIsKept) {
    MemoryBlock* first = MemoryBlock::get(64);
    MemoryBlock* second = MemoryBlock::get(64);
    // Pool the two in turn: the second displaces the first.
    gc::Pointer<MemoryBlock>(first).reset();
    gc::Pointer<MemoryBlock>(second).reset();
    gc::Pointer<MemoryBlock> again(MemoryBlock::get(1));
    EXPECT_EQ(again.get(), second);
    gc::Pointer<MemoryBlock> fresh(MemoryBlock::get(1));
    EXPECT_NE(fresh.get(), second);
}

TEST(MemoryBlockTest, BlocksAboveTheLargestClassAreNotPooled) {
    MemoryBlock* big = MemoryBlock::get(8193);
    gc::Pointer<MemoryBlock>(big).reset();
    gc::Pointer<MemoryBlock> next(MemoryBlock::get(8193));
    EXPECT_EQ(next->capacity(), 8256u);
}

TEST(MemoryBlockTest, GrowingKeepsContentsAndChangesSizeClass) {
    gc::Pointer<MemoryBlock> block(MemoryBlock::get(64));
    for (int i = 0; i < 64; ++i) block->data()[i] = static_cast<char>(i);
    block->grow(100);
    EXPECT_EQ(block->capacity(), 128u);
    for (int i = 0; i < 64; ++i) ASSERT_EQ(block->data()[i], static_cast<char>(i));
    MemoryBlock* raw = block.get();
    gc::Pointer<MemoryBlock> occupant(MemoryBlock::get(128));  // empties the 128-byte slot
    block.reset();
    gc::Pointer<MemoryBlock> reused(MemoryBlock::get(100));
    EXPECT_EQ(reused.get(), raw);
}

using MemoryBlockDeathTest = ::testing::Test;
TEST(MemoryBlockDeathTest, SizesThatCannotBeRoundedAreAssertions) {
    EXPECT_DEATH((void)MemoryBlock::get(0), "upperSize");
    EXPECT_DEATH((void)MemoryBlock::get(0xFFFFFFF0u), "upperSize");
}

}  // namespace
