#include "base/fifo.h"

#include "base/clock.h"
#include "base/memory.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace trivane;

namespace {

std::string str(const Memory& m) { return std::string(m.data(), m.length()); }

TEST(FifoTest, APushIntoAFullFifoLogsAndWaitsForAPop) {
    TFifo<Memory> fifo(2);
    fifo.push(Memory("a", 1), NoMutex::instance());
    fifo.push(Memory("b", 1), NoMutex::instance());
    std::atomic<bool> pushed{false};
    testing::internal::CaptureStdout();
    std::thread producer([&] {
        fifo.push(Memory("c", 1), NoMutex::instance());
        pushed = true;
    });
    const uint64_t deadline = steadyMilliseconds() + 200;
    while (steadyMilliseconds() < deadline) std::this_thread::yield();
    EXPECT_FALSE(pushed);
    EXPECT_EQ(str(fifo.pop(NoMutex::instance())), "a");
    producer.join();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("TRACE Fifo.push2 size: 2"), std::string::npos) << out;
    EXPECT_EQ(str(fifo.pop(NoMutex::instance())), "b");
    EXPECT_EQ(str(fifo.pop(NoMutex::instance())), "c");
    EXPECT_TRUE(fifo.isEmpty());
}

TEST(FifoTest, ATimedPopGivesUp) {
    TFifo<Memory> fifo(1);
    const uint64_t start = steadyMilliseconds();
    EXPECT_FALSE(fifo.pop(100, NoMutex::instance()).has_value());
    EXPECT_GE(steadyMilliseconds() - start, 95u);
}

TEST(FifoTest, TheCallersLockIsFreeWhileBlocked) {
    TFifo<Memory> fifo(1);
    Mutex callerLock;
    std::atomic<bool> started{false};
    std::thread consumer([&] {
        callerLock.lock();
        started = true;
        const Memory m = fifo.pop(callerLock);
        EXPECT_EQ(str(m), "x");
        callerLock.unlock();
    });
    while (!started) std::this_thread::yield();
    callerLock.lock();  // free while the consumer waits
    fifo.push(Memory("x", 1), callerLock);
    callerLock.unlock();
    consumer.join();
}

TEST(FifoTest, SeveralProducersAndConsumersLoseNothing) {
    TFifo<Memory> fifo(8);
    constexpr int producers = 4, perProducer = 500;
    std::vector<std::thread> threads;
    std::mutex seenLock;
    std::multiset<std::string> seen;
    for (int p = 0; p < producers; ++p)
        threads.emplace_back([&, p] {
            for (int i = 0; i < perProducer; ++i) {
                const std::string s = std::to_string(p) + ":" + std::to_string(i);
                fifo.push(Memory(s.data(), static_cast<uint32_t>(s.size())), NoMutex::instance());
            }
        });
    for (int c = 0; c < 2; ++c)
        threads.emplace_back([&] {
            for (int i = 0; i < producers * perProducer / 2; ++i) {
                const Memory m = fifo.pop(NoMutex::instance());
                std::lock_guard<std::mutex> hold(seenLock);
                seen.insert(str(m));
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(seen.size(), size_t(producers * perProducer));
    EXPECT_EQ(std::set<std::string>(seen.begin(), seen.end()).size(), seen.size());
}

}  // namespace
