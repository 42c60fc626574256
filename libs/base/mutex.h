// The lock interface and its four implementations, all recursive but NoMutex.
#pragma once

#include "base/arch/sync.h"

namespace trivane {

class IMutex {
public:
    virtual ~IMutex() = default;
    virtual void lock() = 0;
    virtual bool tryLock() = 0;
    virtual void unlock() = 0;
    // The handle a wait may release atomically with the wait, or null.
    virtual void* nativeHandle() { return nullptr; }
};

class Mutex : public IMutex {
public:
    Mutex() { sys::mutexInit(m_native); }
    ~Mutex() override { sys::mutexDestroy(m_native); }
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    void lock() override { sys::mutexLock(m_native); }
    bool tryLock() override { return sys::mutexTryLock(m_native); }
    void unlock() override { sys::mutexUnlock(m_native); }
    void* nativeHandle() override { return sys::mutexNativeHandle(m_native); }

private:
    sys::NativeMutex m_native;
};

// The lock of toolkit containers and registries.
class InternalMutex : public Mutex {
public:
    // A container copied with its lock gets a lock of its own.
    InternalMutex() = default;
    InternalMutex(const InternalMutex&) : Mutex() {}
    InternalMutex& operator=(const InternalMutex&) { return *this; }
};

class CriticalSection : public IMutex {
public:
    CriticalSection() { sys::criticalSectionInit(m_native); }
    ~CriticalSection() override { sys::criticalSectionDestroy(m_native); }
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    void lock() override { sys::criticalSectionLock(m_native); }
    bool tryLock() override { return sys::criticalSectionTryLock(m_native); }
    void unlock() override { sys::criticalSectionUnlock(m_native); }

private:
    sys::NativeMutex m_native;
};

// For data that is not shared: locking does nothing.
class NoMutex : public IMutex {
public:
    void lock() override {}
    bool tryLock() override { return false; }
    void unlock() override {}

    // The instance passed wherever a wait needs no lock of the caller's.
    static NoMutex& instance() noexcept;
};

// Holds a lock for a scope.
template <class Lock>
class Locker {
public:
    explicit Locker(Lock& lock) : m_lock(lock) { m_lock.lock(); }
    ~Locker() { m_lock.unlock(); }
    Locker(const Locker&) = delete;
    Locker& operator=(const Locker&) = delete;

private:
    Lock& m_lock;
};

}  // namespace trivane
