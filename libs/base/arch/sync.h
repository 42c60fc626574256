// The platform's locks and semaphores, behind opaque storage of fixed size.
#pragma once

#include <cstdint>

namespace trivane::sys {

// Large enough for every supported platform's native object; each platform
// file checks its own type fits.
struct NativeMutex {
    alignas(16) unsigned char storage[64];
};
struct NativeSemaphore {
    alignas(16) unsigned char storage[64];
};

// Recursive mutex. `mutexNativeHandle` is the handle a wait may release
// atomically with the wait, or null where the platform has no such wait.
void mutexInit(NativeMutex& m);
void mutexDestroy(NativeMutex& m);
void mutexLock(NativeMutex& m);
bool mutexTryLock(NativeMutex& m);
void mutexUnlock(NativeMutex& m);
void* mutexNativeHandle(NativeMutex& m);

// Recursive critical section, with no handle: a lock of the process's own
// that may be cheaper than the mutex.
void criticalSectionInit(NativeMutex& m);
void criticalSectionDestroy(NativeMutex& m);
void criticalSectionLock(NativeMutex& m);
bool criticalSectionTryLock(NativeMutex& m);
void criticalSectionUnlock(NativeMutex& m);

// Counting semaphore with a maximum count of 0x7FFFFFFF. `timeoutMs` -1
// waits without limit; returns false on time-out.
void semaphoreInit(NativeSemaphore& s, int32_t initial);
void semaphoreDestroy(NativeSemaphore& s);
void semaphorePost(NativeSemaphore& s, int32_t count);
bool semaphoreWait(NativeSemaphore& s, int32_t timeoutMs);
// Releases the mutex of `mutexHandle` (from mutexNativeHandle) and waits in
// one step; the caller locks the mutex again.
bool semaphoreWaitReleasing(NativeSemaphore& s, void* mutexHandle, int32_t timeoutMs);

// Lets another thread run on this processor.
void yieldProcessor();

}  // namespace trivane::sys
