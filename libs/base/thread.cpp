// Thread start and end, the registry and the count of running threads.
#include "base/thread.h"

#include "base/arch/thread.h"
#include "base/clock.h"
#include "base/console.h"
#include "base/exception.h"

#include <cstdio>

namespace trivane {

// A thread runs from a successful run() until the end of its entry routine:
// `created` covers that whole span, `started` the part after the new thread
// began. Everything here is guarded by `lock`.
class ThreadPrivate {
public:
    Mutex lock;
    bool created = false;
    bool started = false;
    // Set once the new thread is registered and counted: run() waits for
    // it, so a thread that run() returned for is always counted.
    bool announced = false;
    bool finished = false;
    // Set when the Thread is destroyed before its thread began: the body
    // must not run on a destroyed object.
    bool cancelled = false;
    uint32_t id = 0;
    Condition wakeUp;
    Condition startedCondition;
    Condition finishedCondition;
    std::size_t stackSize = 0;
};

namespace {

thread_local Thread* t_current = nullptr;
// The calling thread's name while it is listed in MapThread.
thread_local const String* t_listedName = nullptr;

uint32_t currentId() { return static_cast<uint32_t>(sys::currentThreadId()); }

}  // namespace

Thread::Thread(const String& name, bool synchro) : m_name(name), m_synchro(synchro), m_private(new ThreadPrivate) {}

Thread::~Thread() {
    {
        Locker<Mutex> hold(m_private->lock);
        if (m_private->created && !(m_private->started && m_private->id == currentId())) {
            if (!m_private->started) m_private->cancelled = true;
            while (m_private->created) m_private->finishedCondition.wait(m_private->lock);
        }
    }
    delete m_private;
}

void Thread::run(bool noWait) {
    Locker<Mutex> hold(m_private->lock);
    if (m_private->created) return;
    m_private->finished = false;
    m_private->cancelled = false;
    m_private->announced = false;
    if (!sys::threadCreate(m_private->stackSize, &Thread::entry, this)) {
        log(LogError, "Thread", "run", "unable to create the Thread");
        return;
    }
    m_private->created = true;
    if (noWait) return;
    while (!m_private->announced && m_private->created) m_private->startedCondition.wait(m_private->lock);
}

void Thread::entry(void* self) {
    Thread* thread = static_cast<Thread*>(self);
    ThreadPrivate* state = thread->m_private;
    const uint32_t id = currentId();
    {
        Locker<Mutex> hold(state->lock);
        if (state->cancelled) {
            state->created = false;
            state->finished = true;
            state->finishedCondition.notifyAll();
            return;
        }
        state->started = true;
        state->finished = false;
        state->id = id;
    }
    t_current = thread;
    if (ThreadManager* manager = ThreadManager::instance()) manager->addCurrentThread(id, thread);
    if (thread->m_synchro) {
        if (SynchroThread* synchro = SynchroThread::instance()) synchro->add();
        if (MapThread* map = MapThread::instance()) map->add(id, LiveThread{thread->m_name, thread});
        t_listedName = &thread->m_name;
    }
    {
        Locker<Mutex> hold(state->lock);
        state->announced = true;
        state->startedCondition.notifyAll();
    }
    {
        String name = thread->m_name;
        sys::threadSetName(name.cStr());
    }
    try {
        thread->main();
    } catch (...) {
        String name = thread->m_name;
        std::fprintf(stderr, "caught an exception in main of Thread %s\n", name.cStr());
        std::fflush(stderr);
    }
    if (ThreadManager* manager = ThreadManager::instance()) manager->removeCurrentThread(id);
    t_current = nullptr;
    t_listedName = nullptr;

    Locker<Mutex> hold(state->lock);
    state->started = false;
    state->finished = true;
    state->id = 0;
    state->created = false;
    if (thread->m_synchro) {
        if (MapThread* map = MapThread::instance()) map->remove(id);
        if (SynchroThread* synchro = SynchroThread::instance()) synchro->remove();
    }
    state->finishedCondition.notifyAll();
}

bool Thread::join(int32_t timeoutMs) {
    Locker<Mutex> hold(m_private->lock);
    if (m_private->started && m_private->id == currentId()) return false;
    const uint64_t deadline = steadyMilliseconds() + static_cast<uint64_t>(timeoutMs < 0 ? 0 : timeoutMs);
    while (m_private->created) {
        if (timeoutMs < 0) {
            m_private->finishedCondition.wait(m_private->lock);
            continue;
        }
        const uint64_t now = steadyMilliseconds();
        if (now >= deadline) return false;
        m_private->finishedCondition.wait(static_cast<int32_t>(deadline - now), m_private->lock);
    }
    return true;
}

bool Thread::isMyThread() const {
    Locker<Mutex> hold(m_private->lock);
    return m_private->started && m_private->id == currentId();
}

bool Thread::wait(int32_t timeoutMs, IMutex& mutex) { return m_private->wakeUp.wait(timeoutMs, mutex); }

void Thread::wakeUp() { m_private->wakeUp.notifyAll(); }

void Thread::sleep(int32_t timeoutMs, IMutex& mutex) {
    mutex.unlock();
    if (timeoutMs > 0) sleepMilliseconds(static_cast<uint32_t>(timeoutMs));
    mutex.lock();
}

String Thread::currentThreadName() {
    if (t_listedName) return *t_listedName;
    return String::fromUInt64(sys::currentThreadId());
}

std::string_view Thread::currentThreadLabel() noexcept {
    if (t_listedName) return t_listedName->view();
    thread_local uint64_t idOfText = 0;
    thread_local char idText[24];
    thread_local uint32_t idLength = 0;
    const uint64_t id = sys::currentThreadId();
    if (id != idOfText) {
        idLength = static_cast<uint32_t>(std::snprintf(idText, sizeof idText, "%llu", static_cast<unsigned long long>(id)));
        idOfText = id;
    }
    return {idText, idLength};
}

Thread* Thread::currentThread() noexcept { return t_current; }

void MainThread::main() { log(LogError, "MainThread", "main", "NEVER CALL ME"); }

void ThreadManager::addCurrentThread(uint32_t id, Thread* thread) {
    Locker<CriticalSection> hold(m_lock);
    m_threads.item(id) = thread;
}

void ThreadManager::removeCurrentThread(uint32_t id) {
    Locker<CriticalSection> hold(m_lock);
    if (!m_threads.remove(id)) {
        std::printf("ThreadManager::removeCurrentThread(): unable to retrieve thread %lld\n", static_cast<long long>(id));
    }
}

Thread* ThreadManager::thread(uint32_t id) {
    Locker<CriticalSection> hold(m_lock);
    const uint32_t i = m_threads.find(id);
    return i == m_threads.count() ? nullptr : m_threads.itemAt(i).value;
}

void MapThread::add(uint32_t id, const LiveThread& live) {
    Locker<InternalMutex> hold(m_lock);
    m_threads.item(id) = live;
}

void MapThread::remove(uint32_t id) {
    Locker<InternalMutex> hold(m_lock);
    m_threads.remove(id);
}

Array<String> MapThread::names() {
    Locker<InternalMutex> hold(m_lock);
    Array<String> names;
    for (uint32_t i = 0; i < m_threads.count(); ++i) names.append(m_threads.itemAt(i).value.name);
    return names;
}

void SynchroThread::add() {
    Locker<InternalMutex> hold(m_lock);
    ++m_count;
}

void SynchroThread::remove() {
    Locker<InternalMutex> hold(m_lock);
    if (--m_count == 0) m_none.notifyAll();
}

int32_t SynchroThread::count() {
    Locker<InternalMutex> hold(m_lock);
    return m_count;
}

bool SynchroThread::waitAll(int32_t timeoutMs) {
    try {
        Locker<InternalMutex> hold(m_lock);
        const uint64_t deadline = steadyMilliseconds() + static_cast<uint64_t>(timeoutMs < 0 ? 0 : timeoutMs);
        while (m_count > 0) {
            if (timeoutMs < 0) {
                m_none.wait(m_lock);
                continue;
            }
            const uint64_t now = steadyMilliseconds();
            if (now >= deadline) return false;
            m_none.wait(static_cast<int32_t>(deadline - now), m_lock);
        }
        return true;
    } catch (const Exception& e) {
        TRIVANE_LOG_CAUGHT(e);
        return false;
    }
}

bool SynchroThread::finish() {
    if (m_finished) return m_allFinished;
    m_finished = true;
    try {
        if (waitAll(m_timeoutMs)) return m_allFinished = true;
        m_allFinished = false;
        std::fprintf(stderr, "SynchroThread::~SynchroThread\tcannot wait for all threads termination for: %ds\n",
                     m_timeoutMs / 1000);
        std::fprintf(stderr, "got %d remaining threads\nSurvivors:\n", count());
        if (MapThread* map = MapThread::instance()) {
            Array<String> names = map->names();
            for (uint32_t i = 0; i < names.count(); ++i) {
                String name = names.at(i);
                std::fprintf(stderr, " * %s\n", name.cStr());
            }
        }
        std::fflush(stderr);
    } catch (const Exception&) {
        std::fprintf(stderr, "execption caught during SynchroThread::~SynchroThread()\n");
    }
    return m_allFinished;
}

SynchroThread::~SynchroThread() { finish(); }

}  // namespace trivane
