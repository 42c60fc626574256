// Threads, the process-wide thread registry and the count of running threads
// that the process waits for before it exits.
#pragma once

#include "base/dict.h"
#include "base/gcobject.h"
#include "base/mutex.h"
#include "base/runtime.h"
#include "base/semaphore.h"
#include "base/string.h"

#include <cstdint>
#include <string_view>

namespace trivane {

class ThreadPrivate;

// Base of every thread of the toolkit: a subclass supplies main(). Nothing
// thrown out of main() leaves the thread. A Thread is never destroyed by its
// own running thread; destroying it elsewhere waits for the body to return.
// The body is called through the subclass's virtual table, which the
// subclass's destructor takes down before ~Thread runs: so a subclass that
// can be destroyed while it may still run joins in its own destructor.
class Thread {
public:
    // `synchro`: counted by SynchroThread and listed in MapThread while it runs.
    Thread(const String& name, bool synchro);
    virtual ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    virtual void main() = 0;

    // Starts the thread unless it runs; unless `noWait`, returns once the
    // new thread has begun. A failure is logged, never thrown.
    void run(bool noWait = false);
    // -1 waits without limit. False from the thread itself or on time-out;
    // true at once when no thread runs.
    bool join(int32_t timeoutMs = -1);
    bool isMyThread() const;
    // Waits for wakeUp(), releasing `mutex` meanwhile; false on time-out.
    bool wait(int32_t timeoutMs, IMutex& mutex);
    void wakeUp();
    static void sleep(int32_t timeoutMs, IMutex& mutex);

    const String& name() const noexcept { return m_name; }
    bool synchro() const noexcept { return m_synchro; }

    // The calling thread's name if it is a counted thread of the toolkit,
    // otherwise its numeric id in decimal.
    static String currentThreadName();
    // The same text without allocating; valid until the calling thread
    // ends. Kept in storage without destructor, so that it also serves
    // while the process's static objects are torn down.
    static std::string_view currentThreadLabel() noexcept;
    // The Thread object of the calling thread, or null when the toolkit did
    // not start it.
    static Thread* currentThread() noexcept;

private:
    static void entry(void* self);

    String m_name;
    bool m_synchro;
    ThreadPrivate* m_private;
};

// Stands for the process's initial thread; never started.
class MainThread final : public Thread {
public:
    MainThread() : Thread("MainThread"_s, true) {}
    void main() override;
};

// Thread ids to the Thread objects started by the toolkit.
class ThreadManager {
public:
    ThreadManager() = default;
    ThreadManager(const ThreadManager&) = delete;
    ThreadManager& operator=(const ThreadManager&) = delete;

    static ThreadManager* instance() noexcept;

    MainThread& mainThread() noexcept { return m_mainThread; }
    void addCurrentThread(uint32_t id, Thread* thread);
    void removeCurrentThread(uint32_t id);
    // The Thread registered under `id`, or null.
    Thread* thread(uint32_t id);

private:
    MainThread m_mainThread;
    CriticalSection m_lock;
    Dict<uint32_t, Thread*> m_threads;
};

struct LiveThread {
    String name;
    Thread* thread = nullptr;
};

// The names of the counted threads that run, by thread id.
class MapThread final : public gc::ObjectDelete {
public:
    const char* className() const noexcept override { return "MapThread"; }
    static MapThread* instance() noexcept;

    void add(uint32_t id, const LiveThread& live);
    void remove(uint32_t id);
    // The names in id order.
    Array<String> names();

private:
    InternalMutex m_lock;
    Dict<uint32_t, LiveThread> m_threads;
};

// Counts the counted threads that run, so that the process can wait for
// them before it exits.
class SynchroThread {
public:
    explicit SynchroThread(int32_t destructorTimeoutMs = 5000) : m_timeoutMs(destructorTimeoutMs) {}
    // Waits for the threads, then lists on standard error the ones left.
    ~SynchroThread();
    SynchroThread(const SynchroThread&) = delete;
    SynchroThread& operator=(const SynchroThread&) = delete;

    static SynchroThread* instance() noexcept;

    void add();
    void remove();
    // True once no counted thread runs; false when `timeoutMs` passed first.
    bool waitAll(int32_t timeoutMs);
    int32_t count();
    // The destructor's wait and report, done once; false when counted
    // threads were left running.
    bool finish();

private:
    InternalMutex m_lock;
    Condition m_none;
    int32_t m_count = 0;
    int32_t m_timeoutMs;
    bool m_finished = false;
    bool m_allFinished = true;
};

}  // namespace trivane
