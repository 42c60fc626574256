#include "base/cosmictick.h"

#include "base/clock.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

using namespace trivane;

namespace {

TEST(CosmicTickTest, ConcurrentFirstCallsShareOneTick) {
    CosmicTick* seen[4] = {};
    std::thread callers[4];
    for (int i = 0; i < 4; ++i) callers[i] = std::thread([&, i] { seen[i] = CosmicTick::instance().get(); });
    for (auto& c : callers) c.join();
    for (CosmicTick* tick : seen) EXPECT_EQ(tick, seen[0]);
    EXPECT_NE(seen[0], nullptr);
}

TEST(CosmicTickTest, TheTickFollowsTheClock) {
    gc::Pointer<CosmicTick> tick = CosmicTick::instance();
    const uint32_t first = tick->tick();
    uint32_t later = first;
    for (int i = 0; i < 2000 && later == first; ++i) {
        sleepMilliseconds(5);
        later = tick->tick();
    }
    EXPECT_NE(later, first);
    // Never ahead of the clock, and at most one period (plus slack for a
    // loaded machine) behind it.
    const uint32_t behind = static_cast<uint32_t>(currentMilliseconds()) - tick->tick();
    EXPECT_LT(behind, 1000u);
}

TEST(CosmicTickDeathTest, ShutdownAtExitReportsOutsideReferences) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            CosmicTick::instance();
            std::exit(0);
        },
        testing::ExitedWithCode(0), "^$");
    EXPECT_EXIT(
        {
            static gc::Pointer<CosmicTick>* kept = new gc::Pointer<CosmicTick>(CosmicTick::instance());
            (void)kept;
            std::exit(0);
        },
        testing::ExitedWithCode(0), "^bug the CosmicTick is still alive, with 1 refs, killing at least the thread\n$");
}

}  // namespace
