// A counting semaphore whose waits release the caller's lock, and a condition
// variable built from one.
#pragma once

#include "base/arch/sync.h"
#include "base/mutex.h"

#include <cstdint>

namespace trivane {

class Semaphore {
public:
    static constexpr int32_t maximumCount = 0x7FFFFFFF;

    explicit Semaphore(int32_t initial = 0) { sys::semaphoreInit(m_native, initial); }
    ~Semaphore() { sys::semaphoreDestroy(m_native); }
    Semaphore(const Semaphore&) = delete;
    Semaphore& operator=(const Semaphore&) = delete;

    void post(int32_t count = 1) { sys::semaphorePost(m_native, count); }
    // The caller holds `mutex`; it is released while waiting and held again
    // on return. `timeoutMs` -1 waits without limit. False on time-out.
    bool wait(int32_t timeoutMs, IMutex& mutex);
    bool wait(int32_t timeoutMs = -1);

private:
    sys::NativeSemaphore m_native;
};

// notify() wakes one thread waiting at the moment of the call, notifyAll()
// every such thread; a thread that starts waiting later is not woken by them.
class Condition {
public:
    Condition() = default;
    Condition(const Condition&) = delete;
    Condition& operator=(const Condition&) = delete;

    void notify();
    void notifyAll();
    // The caller holds `mutex`; it is released while blocked.
    void wait(IMutex& mutex);
    // True when woken by a notification, false when the time-out passed.
    bool wait(int32_t timeoutMs, IMutex& mutex);

private:
    CriticalSection m_lock;
    Semaphore m_semaphore;
    int32_t m_waiters = 0;
    int32_t m_pending = 0;
    uint32_t m_generation = 0;
};

}  // namespace trivane
