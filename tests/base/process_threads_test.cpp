#include "base/process.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <dirent.h>

using namespace trivane;

namespace {

int openDescriptors() {
    int n = 0;
    DIR* d = opendir("/proc/self/fd");
    while (readdir(d)) ++n;
    closedir(d);
    return n;
}

// Threads start, hand duplicates to other threads, terminate and close at
// once, as the daemon's connection and stop threads do: every child ends
// reaped and no descriptor stays behind.
TEST(ProcessThreadsTest, HandlesOnManyThreads) {
    const int before = openDescriptors();
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&failures] {
            for (int i = 0; i < 10; ++i) {
                Process p;
                if (p.start("/bin/sleep"_s, "sleep 30"_s) != 0) {
                    ++failures;
                    continue;
                }
                Process copy = p.duplicate();
                std::thread stopper([&copy, &failures] {
                    if (copy.terminate() != 0) ++failures;
                    copy.close();
                });
                if (!p.wait(10000)) ++failures;
                stopper.join();
                Process quick;
                if (quick.start("/bin/true"_s, ""_s) != 0) ++failures;
            }
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(failures.load(), 0);
    // The /bin/true children closed while running are reaped by later calls.
    Process last;
    ASSERT_EQ(last.start("/bin/true"_s, ""_s), 0u);
    ASSERT_TRUE(last.wait(5000));
    for (int i = 0; i < 500 && openDescriptors() != before + 1; ++i) {
        Process nudge;
        nudge.start("/bin/true"_s, ""_s);
        nudge.wait(1000);
    }
    last.close();
    EXPECT_EQ(openDescriptors(), before);
}

}  // namespace
