#include "base/semaphore.h"

#include "base/clock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using namespace trivane;

namespace {

// Waits until `predicate` holds, for at most five seconds.
template <class P>
bool eventually(P predicate) {
    const uint64_t deadline = steadyMilliseconds() + 5000;
    while (!predicate()) {
        if (steadyMilliseconds() > deadline) return false;
        std::this_thread::yield();
    }
    return true;
}

TEST(SemaphoreTest, LocksAreRecursiveAndTryLockFailsElsewhere) {
    Mutex mutex;
    mutex.lock();
    EXPECT_TRUE(mutex.tryLock());
    bool elsewhere = true;
    std::thread([&] { elsewhere = mutex.tryLock(); }).join();
    EXPECT_FALSE(elsewhere);
    mutex.unlock();
    mutex.unlock();
    std::thread([&] {
        elsewhere = mutex.tryLock();
        if (elsewhere) mutex.unlock();
    }).join();
    EXPECT_TRUE(elsewhere);
    NoMutex none;
    EXPECT_FALSE(none.tryLock());
    EXPECT_EQ(none.nativeHandle(), nullptr);
}

TEST(SemaphoreTest, TimedWaitReleasesAndRetakesTheLock) {
    Semaphore semaphore;
    Mutex mutex;
    mutex.lock();
    std::atomic<bool> otherGotLock{false};
    std::thread other([&] {
        mutex.lock();
        otherGotLock = true;
        mutex.unlock();
    });
    const uint64_t start = steadyMilliseconds();
    EXPECT_FALSE(semaphore.wait(200, mutex));
    EXPECT_GE(steadyMilliseconds() - start, 190u);
    EXPECT_TRUE(otherGotLock);  // the lock was free during the wait
    EXPECT_TRUE(mutex.tryLock());  // and is ours again
    mutex.unlock();
    mutex.unlock();
    other.join();
    semaphore.post(2);
    EXPECT_TRUE(semaphore.wait(0));
    EXPECT_TRUE(semaphore.wait(0));
    EXPECT_FALSE(semaphore.wait(0));
}

TEST(SemaphoreTest, NotifyWakesExactlyOneOfThreeWaiters) {
    Condition condition;
    Mutex mutex;
    std::atomic<int> waiting{0}, woken{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i)
        waiters.emplace_back([&] {
            mutex.lock();
            ++waiting;
            if (condition.wait(3000, mutex)) ++woken;
            mutex.unlock();
        });
    ASSERT_TRUE(eventually([&] { return waiting == 3; }));
    mutex.lock();  // every waiter is inside wait once it has let go of the lock
    mutex.unlock();
    condition.notify();
    ASSERT_TRUE(eventually([&] { return woken == 1; }));
    sleepMilliseconds(100);
    EXPECT_EQ(woken, 1);
    condition.notifyAll();
    for (auto& t : waiters) t.join();
    EXPECT_EQ(woken, 3);
}

TEST(SemaphoreTest, ANotificationWithNoWaiterIsNotKept) {
    Condition condition;
    Mutex mutex;
    condition.notifyAll();
    condition.notify();
    mutex.lock();
    const uint64_t start = steadyMilliseconds();
    EXPECT_FALSE(condition.wait(150, mutex));
    EXPECT_GE(steadyMilliseconds() - start, 140u);
    EXPECT_TRUE(mutex.tryLock());
    mutex.unlock();
    mutex.unlock();
}

TEST(SemaphoreTest, AWakeUpIsNotTakenByALaterWaiter) {
    // One thread waits, is notified, and a second thread begins waiting
    // before the first has run: the wake-up still belongs to the first.
    for (int round = 0; round < 50; ++round) {
        Condition condition;
        Mutex mutex;
        std::atomic<int> phase{0};
        std::atomic<bool> firstWoken{false}, secondWoken{false};
        std::thread first([&] {
            mutex.lock();
            phase = 1;
            firstWoken = condition.wait(5000, mutex);
            mutex.unlock();
        });
        ASSERT_TRUE(eventually([&] { return phase == 1; }));
        mutex.lock();
        condition.notify();
        std::thread second([&] {
            mutex.lock();
            secondWoken = condition.wait(50, mutex);
            mutex.unlock();
        });
        mutex.unlock();
        first.join();
        second.join();
        EXPECT_TRUE(firstWoken);
        EXPECT_FALSE(secondWoken);
    }
}

}  // namespace
