#include "base/event.h"

#include "base/clock.h"
#include "base/console.h"
#include "base/disposeguard.h"
#include "base/exception.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

using namespace trivane;
using testutil::str;

namespace {

struct Named final : PrioList::Item {
    explicit Named(char c) : name(c) {}
    char name;
};

TEST(PrioListTest, HigherPrioritiesFirstEqualOnesInOrderAndOvertakenItemsAge) {
    struct Case {
        std::vector<std::pair<char, int>> inserts;
        std::string order;
        std::vector<int> priorities;  // in popping order
    };
    const Case cases[] = {
        {{{'a', 128}, {'b', 128}, {'c', 128}}, "abc", {128, 128, 128}},
        {{{'a', 10}, {'b', 20}}, "ba", {20, 11}},
        {{{'a', 128}, {'b', 128}, {'c', 200}}, "cab", {200, 129, 129}},
        {{{'a', 200}, {'b', 100}, {'c', 150}}, "acb", {200, 150, 101}},
        // An item is raised only while below the newcomer: never past 255.
        {{{'a', 254}, {'b', 255}}, "ba", {255, 255}},
        {{{'a', 255}, {'b', 255}}, "ab", {255, 255}},
    };
    for (const Case& c : cases) {
        PrioList list;
        std::vector<Named*> items;
        for (auto [name, priority] : c.inserts) {
            items.push_back(new Named(name));
            list.insert(items.back(), static_cast<uint8_t>(priority));
        }
        std::string order;
        std::vector<int> priorities;
        while (!list.isEmpty()) {
            Named* item = static_cast<Named*>(list.pop());
            order += item->name;
            priorities.push_back(item->priority());
            delete item;
        }
        EXPECT_EQ(order, c.order);
        EXPECT_EQ(priorities, c.priorities);
    }
}

// Points the TRACE level at a file for one test.
class TraceFile {
public:
    TraceFile() : m_path(m_dir.path("trace.txt")) { Console::instance()->setOutput(LogTrace, testutil::tv(m_path)); }
    ~TraceFile() { Console::instance()->setOutput(LogTrace, "stdout"_s); }
    std::vector<std::string> lines() const { return testutil::lines(testutil::readAll(m_path)); }
    std::vector<std::string> matching(const std::string& pattern) const {
        std::vector<std::string> found;
        const std::regex re(pattern);
        for (const std::string& line : lines())
            if (std::regex_search(line, re)) found.push_back(line);
        return found;
    }

private:
    testutil::ScratchDir m_dir;
    std::string m_path;
};

// An event that runs a function and reports its release.
class Call final : public Event {
public:
    Call(std::function<void()> work, std::atomic<int>* released = nullptr) : m_work(std::move(work)), m_released(released) {}
    void run() override { m_work(); }
    void release() override {
        if (m_released) ++*m_released;
        delete this;
    }
    const char* className() const noexcept override { return "Call"; }

private:
    std::function<void()> m_work;
    std::atomic<int>* m_released;
};

// Holds the manager's thread inside one event until opened.
struct Gate {
    Semaphore entered, open;
    Event* event() {
        return new Call([this] {
            entered.post();
            open.wait(60000);
        });
    }
};

TEST(EventManagerTest, EqualPrioritiesRunInPostingOrderOnTheManagersThread) {
    EventManager manager(false, "test-order"_s, 100);
    Gate gate;
    manager.post("gate", gate.event());
    ASSERT_TRUE(gate.entered.wait(5000));
    std::string order;
    std::atomic<bool> onManager{true};
    Semaphore last;
    for (char c = 'a'; c <= 'e'; ++c)
        manager.post("step", new Call([&, c] {
            order += c;
            onManager = onManager && manager.isMyThread() && str(Thread::currentThreadName()) == "test-order";
        }));
    manager.post("last", new Call([&] { last.post(); }));
    gate.open.post();
    ASSERT_TRUE(last.wait(5000));
    EXPECT_EQ(order, "abcde");
    EXPECT_TRUE(onManager.load());
}

TEST(EventManagerTest, AThrowingEventIsLoggedAndTheNextOneRuns) {
    TraceFile trace;
    EventManager manager(false, "test-throw"_s, 100);
    std::atomic<int> released{0};
    Semaphore next;
    manager.post("thrower", new Call([] { TRIVANE_THROW(EBadItem); }, &released));
    manager.post("next", new Call([&] { next.post(); }, &released));
    ASSERT_TRUE(next.wait(5000));
    manager.stop();
    EXPECT_EQ(released.load(), 2);
    EXPECT_EQ(trace.matching(R"(\[test-throw\] TRACE Exception\.catch EBadItem:event_test:\d+ -> event:\d+$)").size(), 1u);
}

TEST(EventManagerTest, OnlyEventsSlowerThan100MsAreLogged) {
    TraceFile trace;
    EventManager manager(true, "test-timing"_s, 100);
    Semaphore done;
    manager.post("quick", new Call([] { sleepMilliseconds(50); }));
    manager.post("slow", new Call([] { sleepMilliseconds(150); }));
    manager.post("done", new Call([&] { done.post(); }));
    ASSERT_TRUE(done.wait(5000));
    const auto after = trace.matching("EventManager\\.execute after: ");
    ASSERT_EQ(after.size(), 1u);
    EXPECT_TRUE(std::regex_search(after[0], std::regex(R"(\] TRACE EventManager\.execute after: slow \(1\d\d ms\)$)")))
        << after[0];
}

TEST(EventManagerTest, StopReleasesQueuedEventsWithoutRunningThem) {
    EventManager manager(false, "test-stop"_s, 100);
    Gate gate;
    std::atomic<int> ran{0}, released{0};
    manager.post("gate", gate.event());
    ASSERT_TRUE(gate.entered.wait(5000));
    for (int i = 0; i < 5; ++i) manager.post("queued", new Call([&] { ++ran; }, &released));
    std::thread stopper([&] { manager.stop(); });
    for (int i = 0; i < 5000 && !manager.isStopped(); ++i) sleepMilliseconds(1);
    ASSERT_TRUE(manager.isStopped());
    gate.open.post();
    stopper.join();
    EXPECT_EQ(ran.load(), 0);
    EXPECT_EQ(released.load(), 5);
}

TEST(EventManagerTest, PostAfterStopIsRefusedOnStandardError) {
    EventManager manager(false, "test-late"_s, 100);
    manager.stop();
    std::atomic<int> ran{0}, released{0};
    testing::internal::CaptureStderr();
    EXPECT_FALSE(manager.post("late", new Call([&] { ++ran; }, &released)));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "posting event late but the eventManager has been stopped");
    EXPECT_EQ(ran.load(), 0);
    EXPECT_EQ(released.load(), 1);
}

TEST(EventManagerTest, AQueueFullFor20SecondsThrowsToThePoster) {
    TraceFile trace;
    EventManager manager(false, "test-full"_s, 1);
    Gate gate;
    manager.post("gate", gate.event());
    ASSERT_TRUE(gate.entered.wait(5000));
    manager.post("fills", new Call([] {}));
    Call* refused = new Call([] {});
    try {
        manager.post("refused", refused);
        FAIL() << "post returned";
    } catch (const EEventManager& e) {
        EXPECT_EQ(str(e.message()), "EEventManager");
        EXPECT_EQ(str(e.file()), "event");
    }
    delete refused;  // still the caller's
    gate.open.post();
    EXPECT_EQ(trace.matching(R"(TRACE EventManage\.post problem cannot post any event in main thread in 20 seconds$)").size(), 1u);
}

class CountingTimer final : public TimerItem {
public:
    CountingTimer() : TimerItem(10) {}
    void fire() override {
        if (++fired == 3) third.post();
    }
    std::atomic<int> fired{0};
    Semaphore third;
};

TEST(EventManagerTest, TimersFirePeriodically) {
    EventManager manager(false, "test-timer"_s, 100);
    CountingTimer timer;
    manager.addTimer(&timer);
    EXPECT_TRUE(timer.third.wait(5000));
    manager.removeTimer(&timer);
    manager.stop();
}

struct Disposable final : gc::ObjectDispose {
    Disposable(std::atomic<Thread*>& destroyer, Semaphore* destroyed = nullptr)
        : m_destroyer(destroyer), m_destroyed(destroyed) {}
    ~Disposable() override {
        m_destroyer = Thread::currentThread();
        if (m_destroyed) m_destroyed->post();
    }
    const char* className() const noexcept override { return "Disposable"; }
    std::atomic<Thread*>& m_destroyer;
    Semaphore* m_destroyed;
};

TEST(RecycleTest, ADisposableReleasedElsewhereIsDestroyedOnTheRecycleThread) {
    gc::DisposeGuard* guard = gc::DisposeGuard::instance();
    const int32_t before = guard->count();
    std::atomic<Thread*> destroyer{nullptr};
    Semaphore destroyed;
    {
        gc::Pointer<Disposable> object(new Disposable(destroyer, &destroyed));
        EXPECT_EQ(guard->count(), before + 1);
    }
    ASSERT_TRUE(destroyed.wait(5000));
    EXPECT_EQ(destroyer.load(), static_cast<Thread*>(EventManager::recycleManager()));
    EXPECT_EQ(guard->count(), before);
}

TEST(RecycleTest, ADisposableReleasedOnTheRecycleThreadIsDestroyedAtOnce) {
    std::atomic<Thread*> destroyer{nullptr};
    std::atomic<int> destroyedInRelease{-1};
    Semaphore done;
    auto* object = new gc::Pointer<Disposable>(new Disposable(destroyer));
    EventManager::recycleManager()->post("release", new Call([&] {
        delete object;
        destroyedInRelease = destroyer.load() == Thread::currentThread() ? 1 : 0;
        done.post();
    }));
    ASSERT_TRUE(done.wait(5000));
    EXPECT_EQ(destroyedInRelease.load(), 1);
}

TEST(RecycleDeathTest, TheGuardWaitsForLiveDisposablesAtExit) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            Console::instance()->setOutput(LogTrace, "stderr"_s);
            Console::instance()->setOutput(LogError, "stderr"_s);
            static std::atomic<Thread*> destroyer{nullptr};
            static gc::Pointer<Disposable>* kept = new gc::Pointer<Disposable>(new Disposable(destroyer));
            (void)kept;
            // The thread's own storage is torn down before the guard logs.
            log(LogTrace, "Child", "main", "leaving");
            std::exit(0);
        },
        testing::ExitedWithCode(0),
        R"(TRACE Child\.main leaving
.*TRACE DisposeGuard\.~DisposeGuard wait for 1 refs for 10 seconds
.*ERROR DisposeGuard\.~DisposeGuard 1 refs still active, continuing anyway
)");
}

}  // namespace
