// Semaphore waits that release a lock, and the generation-counted condition.
#include "base/semaphore.h"

#include "base/clock.h"

namespace trivane {

NoMutex& NoMutex::instance() noexcept {
    // Never destroyed, so nothing is registered for the exit: a thread that
    // first asks for it while the process is exiting would otherwise wait
    // for the exit, which (on Windows) may be waiting for that thread.
    static NoMutex* const none = new NoMutex;
    return *none;
}

bool Semaphore::wait(int32_t timeoutMs) { return sys::semaphoreWait(m_native, timeoutMs); }

bool Semaphore::wait(int32_t timeoutMs, IMutex& mutex) {
    bool signalled;
    if (void* handle = mutex.nativeHandle()) {
        signalled = sys::semaphoreWaitReleasing(m_native, handle, timeoutMs);
    } else {
        // Without an atomic release-and-wait the count keeps a post made
        // between the two steps.
        mutex.unlock();
        signalled = sys::semaphoreWait(m_native, timeoutMs);
    }
    mutex.lock();
    return signalled;
}

void Condition::notifyAll() {
    int32_t wake = 0;
    m_lock.lock();
    if (m_waiters > m_pending) {
        wake = m_waiters - m_pending;
        m_pending = m_waiters;
        ++m_generation;
    }
    m_lock.unlock();
    if (wake > 0) m_semaphore.post(wake);
}

void Condition::notify() {
    m_lock.lock();
    if (m_pending >= m_waiters) {
        m_lock.unlock();
        return;
    }
    ++m_pending;
    ++m_generation;
    m_lock.unlock();
    m_semaphore.post();
}

void Condition::wait(IMutex& mutex) { wait(-1, mutex); }

bool Condition::wait(int32_t timeoutMs, IMutex& mutex) {
    m_lock.lock();
    ++m_waiters;
    const uint32_t generation = m_generation;
    m_lock.unlock();
    mutex.unlock();

    const uint64_t deadline = timeoutMs < 0 ? 0 : steadyMilliseconds() + static_cast<uint64_t>(timeoutMs);
    for (;;) {
        int32_t remaining = -1;
        if (timeoutMs >= 0) {
            const uint64_t now = steadyMilliseconds();
            remaining = now >= deadline ? 0 : static_cast<int32_t>(deadline - now);
        }
        const bool signalled = m_semaphore.wait(remaining);
        m_lock.lock();
        if (m_pending > 0 && m_generation != generation) {
            --m_pending;
            --m_waiters;
            m_lock.unlock();
            mutex.lock();
            return true;
        }
        if (!signalled) break;
        const bool earlierWakeUp = m_pending > 0;
        m_lock.unlock();
        // A wake-up released before this thread began waiting belongs to an
        // earlier waiter: give it back and let that thread run first.
        if (earlierWakeUp) {
            m_semaphore.post();
            sys::yieldProcessor();
        }
    }
    --m_waiters;
    m_lock.unlock();
    mutex.lock();
    return false;
}

}  // namespace trivane
