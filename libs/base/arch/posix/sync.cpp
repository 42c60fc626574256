// pthread mutexes and POSIX semaphores behind the portable lock interface.
#include "base/arch/sync.h"

#include <pthread.h>
#include <sched.h>
#include <semaphore.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define TRIVANE_TSAN 1
#endif
#endif
#if defined(__SANITIZE_THREAD__)
#define TRIVANE_TSAN 1
#endif

#ifdef TRIVANE_TSAN
#include <sanitizer/tsan_interface.h>
#endif

namespace trivane::sys {

namespace {

// The thread sanitizer does not see the ordering of a post and a timed
// wait (sem_clockwait): tell it.
#ifdef TRIVANE_TSAN
void releaseFor(NativeSemaphore& s) { __tsan_release(&s); }
bool acquiredFrom(NativeSemaphore& s) {
    __tsan_acquire(&s);
    return true;
}
#else
void releaseFor(NativeSemaphore&) {}
bool acquiredFrom(NativeSemaphore&) { return true; }
#endif

pthread_mutex_t* native(NativeMutex& m) { return reinterpret_cast<pthread_mutex_t*>(m.storage); }
sem_t* native(NativeSemaphore& s) { return reinterpret_cast<sem_t*>(s.storage); }

static_assert(sizeof(pthread_mutex_t) <= sizeof(NativeMutex::storage));
static_assert(sizeof(sem_t) <= sizeof(NativeSemaphore::storage));

void initRecursive(NativeMutex& m) {
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    if (pthread_mutex_init(native(m), &attr) != 0) std::abort();
    pthread_mutexattr_destroy(&attr);
}

}  // namespace

void mutexInit(NativeMutex& m) { initRecursive(m); }
void mutexDestroy(NativeMutex& m) { pthread_mutex_destroy(native(m)); }
void mutexLock(NativeMutex& m) { pthread_mutex_lock(native(m)); }
bool mutexTryLock(NativeMutex& m) { return pthread_mutex_trylock(native(m)) == 0; }
void mutexUnlock(NativeMutex& m) { pthread_mutex_unlock(native(m)); }
// Linux has no wait that releases a mutex and waits on a semaphore in one
// step; the semaphore's count makes the two-step form safe.
void* mutexNativeHandle(NativeMutex&) { return nullptr; }

void criticalSectionInit(NativeMutex& m) { initRecursive(m); }
void criticalSectionDestroy(NativeMutex& m) { pthread_mutex_destroy(native(m)); }
void criticalSectionLock(NativeMutex& m) { pthread_mutex_lock(native(m)); }
bool criticalSectionTryLock(NativeMutex& m) { return pthread_mutex_trylock(native(m)) == 0; }
void criticalSectionUnlock(NativeMutex& m) { pthread_mutex_unlock(native(m)); }

void semaphoreInit(NativeSemaphore& s, int32_t initial) {
    if (sem_init(native(s), 0, static_cast<unsigned>(initial)) != 0) std::abort();
}

void semaphoreDestroy(NativeSemaphore& s) { sem_destroy(native(s)); }

void semaphorePost(NativeSemaphore& s, int32_t count) {
    releaseFor(s);
    for (int32_t i = 0; i < count; ++i) {
        if (sem_post(native(s)) != 0) break;  // EOVERFLOW at the maximum count
    }
}

bool semaphoreWait(NativeSemaphore& s, int32_t timeoutMs) {
    if (timeoutMs < 0) {
        while (sem_wait(native(s)) != 0) {
            if (errno != EINTR) return false;
        }
        return acquiredFrom(s);
    }
    timespec deadline;
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += timeoutMs / 1000;
    deadline.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    while (sem_clockwait(native(s), CLOCK_MONOTONIC, &deadline) != 0) {
        if (errno != EINTR) return false;
    }
    return acquiredFrom(s);
}

// No mutex here has a handle (mutexNativeHandle gives null), so no caller
// can reach this.
bool semaphoreWaitReleasing(NativeSemaphore&, void*, int32_t) { std::abort(); }

void yieldProcessor() { sched_yield(); }

}  // namespace trivane::sys
