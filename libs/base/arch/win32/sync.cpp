// Windows mutexes, critical sections and semaphores behind the portable lock
// interface.
#include "base/arch/sync.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

namespace trivane::sys {

namespace {

static_assert(sizeof(HANDLE) <= sizeof(NativeMutex::storage));
static_assert(sizeof(CRITICAL_SECTION) <= sizeof(NativeMutex::storage));
static_assert(sizeof(HANDLE) <= sizeof(NativeSemaphore::storage));

HANDLE handleOf(const NativeMutex& m) {
    HANDLE h;
    std::memcpy(&h, m.storage, sizeof h);
    return h;
}
HANDLE handleOf(const NativeSemaphore& s) {
    HANDLE h;
    std::memcpy(&h, s.storage, sizeof h);
    return h;
}
void store(unsigned char* storage, HANDLE h) { std::memcpy(storage, &h, sizeof h); }

CRITICAL_SECTION* section(NativeMutex& m) { return reinterpret_cast<CRITICAL_SECTION*>(m.storage); }

DWORD milliseconds(int32_t timeoutMs) { return timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs); }

}  // namespace

// An unnamed mutex object, created unowned: its handle lets a semaphore wait
// release it in the same step.
void mutexInit(NativeMutex& m) {
    HANDLE h = CreateMutexA(nullptr, FALSE, nullptr);
    if (!h) std::abort();
    store(m.storage, h);
}
void mutexDestroy(NativeMutex& m) { CloseHandle(handleOf(m)); }
void mutexLock(NativeMutex& m) { WaitForSingleObject(handleOf(m), INFINITE); }
bool mutexTryLock(NativeMutex& m) {
    const DWORD rc = WaitForSingleObject(handleOf(m), 0);
    // An abandoned mutex is owned by the caller all the same.
    return rc == WAIT_OBJECT_0 || rc == WAIT_ABANDONED;
}
void mutexUnlock(NativeMutex& m) { ReleaseMutex(handleOf(m)); }
void* mutexNativeHandle(NativeMutex& m) { return handleOf(m); }

void criticalSectionInit(NativeMutex& m) { InitializeCriticalSection(section(m)); }
void criticalSectionDestroy(NativeMutex& m) { DeleteCriticalSection(section(m)); }
void criticalSectionLock(NativeMutex& m) { EnterCriticalSection(section(m)); }
bool criticalSectionTryLock(NativeMutex& m) { return TryEnterCriticalSection(section(m)) != 0; }
void criticalSectionUnlock(NativeMutex& m) { LeaveCriticalSection(section(m)); }

void semaphoreInit(NativeSemaphore& s, int32_t initial) {
    HANDLE h = CreateSemaphoreA(nullptr, initial, 0x7FFFFFFF, nullptr);
    if (!h) std::abort();
    store(s.storage, h);
}

void semaphoreDestroy(NativeSemaphore& s) { CloseHandle(handleOf(s)); }

void semaphorePost(NativeSemaphore& s, int32_t count) {
    if (count > 0) ReleaseSemaphore(handleOf(s), count, nullptr);  // fails at the maximum count
}

bool semaphoreWait(NativeSemaphore& s, int32_t timeoutMs) {
    return WaitForSingleObject(handleOf(s), milliseconds(timeoutMs)) == WAIT_OBJECT_0;
}

bool semaphoreWaitReleasing(NativeSemaphore& s, void* mutexHandle, int32_t timeoutMs) {
    return SignalObjectAndWait(static_cast<HANDLE>(mutexHandle), handleOf(s), milliseconds(timeoutMs), FALSE) ==
           WAIT_OBJECT_0;
}

void yieldProcessor() { SwitchToThread(); }

}  // namespace trivane::sys
