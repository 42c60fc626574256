#include "base/thread.h"

#include "base/arch/thread.h"
#include "base/clock.h"
#include "base/exception.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <functional>

using namespace trivane;
using testutil::str;

namespace {

// A thread whose body is the given function.
class Body final : public Thread {
public:
    Body(const char* name, std::function<void(Body&)> body, bool synchro = true)
        : Thread(String(name), synchro), m_body(std::move(body)) {}
    ~Body() override { join(-1); }
    void main() override { m_body(*this); }

private:
    std::function<void(Body&)> m_body;
};

bool isRegistered(uint32_t id) { return ThreadManager::instance()->thread(id) != nullptr; }

bool isListed(const char* name) {
    Array<String> names = MapThread::instance()->names();
    for (uint32_t i = 0; i < names.count(); ++i)
        if (names.at(i) == String(name)) return true;
    return false;
}

TEST(ThreadTest, JoinFromTheThreadItselfFailsAndOnANeverStartedThreadSucceeds) {
    std::atomic<int> selfJoin{-1};
    Body thread("self-join", [&](Body& self) { selfJoin = self.join(-1) ? 1 : 0; });
    EXPECT_TRUE(thread.join(0));
    EXPECT_TRUE(thread.join(-1));
    thread.run();
    EXPECT_TRUE(thread.join(5000));
    EXPECT_EQ(selfJoin.load(), 0);
}

TEST(ThreadTest, TheBodyRunsRegisteredNamedAndCounted) {
    std::atomic<uint32_t> id{0};
    Semaphore inside, leave;
    String seenName;
    bool seenCurrent = false;
    Body thread("worker-1", [&](Body& self) {
        id = static_cast<uint32_t>(sys::currentThreadId());
        seenName = Thread::currentThreadName();
        seenCurrent = Thread::currentThread() == &self && self.isMyThread();
        inside.post();
        leave.wait(5000);
    });
    const int32_t before = SynchroThread::instance()->count();
    thread.run();
    ASSERT_TRUE(inside.wait(5000));
    EXPECT_TRUE(isRegistered(id));
    EXPECT_TRUE(isListed("worker-1"));
    EXPECT_EQ(SynchroThread::instance()->count(), before + 1);
    EXPECT_FALSE(thread.isMyThread());
    EXPECT_FALSE(thread.join(20));
    leave.post();
    EXPECT_TRUE(thread.join(5000));
    EXPECT_EQ(str(seenName), "worker-1");
    EXPECT_TRUE(seenCurrent);
    EXPECT_FALSE(isRegistered(id));
    EXPECT_FALSE(isListed("worker-1"));
    EXPECT_EQ(SynchroThread::instance()->count(), before);
}

TEST(ThreadTest, AThrowingBodyLeavesTheThreadFinishedAndUnregistered) {
    const std::function<void()> throwers[] = {
        [] { TRIVANE_THROW(EBadItem); },
        [] { throw 42; },
    };
    for (const auto& thrower : throwers) {
        std::atomic<uint32_t> id{0};
        Body thread("thrower", [&](Body&) {
            id = static_cast<uint32_t>(sys::currentThreadId());
            thrower();
        });
        testing::internal::CaptureStderr();
        thread.run();
        ASSERT_TRUE(thread.join(5000));
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "caught an exception in main of Thread thrower\n");
        EXPECT_FALSE(isRegistered(id));
        EXPECT_FALSE(isListed("thrower"));
        // A finished thread may run again.
        thread.run();
        EXPECT_TRUE(thread.join(5000));
    }
}

// While the base destructor waits, the subclass part is already gone: the
// body keeps to state outside the object. A destructor that did not wait
// would free the base part under the running entry routine (the address
// sanitizer sees that).
Semaphore s_inside;
std::atomic<int> s_bodiesDone{0};

class Slow final : public Thread {
public:
    Slow() : Thread("slow"_s, true) {}
    // The body is called through this object's virtual table: wait for it
    // before this part of the object goes.
    ~Slow() override { join(); }
    void main() override {
        s_inside.post();
        sleepMilliseconds(100);
        ++s_bodiesDone;
    }
};

TEST(ThreadTest, DestroyingARunningThreadWaitsForItsBody) {
    const int before = s_bodiesDone;
    Slow* thread = new Slow();
    thread->run();
    ASSERT_TRUE(s_inside.wait(5000));
    delete thread;
    EXPECT_EQ(s_bodiesDone.load(), before + 1);
}

TEST(ThreadTest, AThreadDestroyedRightAfterANoWaitRunRunsItsBodyOnceWhole) {
    for (int i = 0; i < 20; ++i) {
        const int before = s_bodiesDone;
        Slow* thread = new Slow();
        thread->run(true);
        delete thread;
        EXPECT_EQ(s_bodiesDone - before, 1);
        EXPECT_TRUE(s_inside.wait(0));
    }
}

TEST(ThreadTest, CurrentThreadNameOfAThreadTheRegistryDoesNotListIsItsId) {
    EXPECT_EQ(str(Thread::currentThreadName()), std::to_string(sys::currentThreadId()));
    std::string uncounted, expected;
    Body thread("uncounted", [&](Body&) {
        uncounted = str(Thread::currentThreadName());
        expected = std::to_string(sys::currentThreadId());
    }, false);
    thread.run();
    ASSERT_TRUE(thread.join(5000));
    EXPECT_EQ(uncounted, expected);
}

TEST(ThreadTest, WaitReturnsOnWakeUpOrTimeOut) {
    Semaphore waiting;
    std::atomic<int> woken{-1};
    Body thread("waiter", [&](Body& self) {
        waiting.post();
        woken = self.wait(10000, NoMutex::instance()) ? 1 : 0;
    });
    thread.run();
    ASSERT_TRUE(waiting.wait(5000));
    // The waiter may not wait yet: keep waking it until it has returned.
    for (int i = 0; i < 500 && !thread.join(10); ++i) thread.wakeUp();
    EXPECT_EQ(woken.load(), 1);
    Body timed("timed", [&](Body& self) { woken = self.wait(30, NoMutex::instance()) ? 1 : 0; });
    timed.run();
    ASSERT_TRUE(timed.join(5000));
    EXPECT_EQ(woken.load(), 0);
}

TEST(ThreadTest, WaitAllWaitsForTheCountedThreads) {
    Semaphore leave;
    Body thread("counted", [&](Body&) { leave.wait(5000); });
    thread.run();
    EXPECT_FALSE(SynchroThread::instance()->waitAll(30));
    leave.post();
    EXPECT_TRUE(SynchroThread::instance()->waitAll(5000));
}

TEST(ThreadDeathTest, SurvivorsAreListedAtExit) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            // Never destroyed: a semaphore closed at exit would end the
            // sleeper's wait on Windows before the survivors are listed.
            static Semaphore* const never = new Semaphore;
            Body* sleeper = new Body("sleeper", [](Body&) { never->wait(-1); });
            sleeper->run();
            std::exit(0);
        },
        testing::ExitedWithCode(0),
        "SynchroThread::~SynchroThread\tcannot wait for all threads termination for: 5s\n"
        "got 1 remaining threads\nSurvivors:\n \\* sleeper\n");
}

TEST(ThreadDeathTest, NothingIsPrintedAtExitWhenEveryThreadFinished) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            Body done("done", [](Body&) {});
            done.run();
            done.join(-1);
            std::exit(0);
        },
        testing::ExitedWithCode(0), "^$");
}

}  // namespace
