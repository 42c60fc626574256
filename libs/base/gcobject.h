// Intrusively reference-counted objects and the smart pointer that holds them.
#pragma once

#include <atomic>
#include <cstdint>
#include <utility>

namespace trivane::gc {

// Base of every shared object. The count starts at 0; the first Pointer that
// takes the object raises it to 1, and the release that brings it back to 0
// calls onLastRelease() exactly once, on the releasing thread.
class Object {
public:
    Object() noexcept = default;
    // A copy is a new object: it starts uncounted.
    Object(const Object&) noexcept {}
    Object& operator=(const Object&) noexcept { return *this; }

    virtual void onLastRelease() noexcept = 0;
    virtual const char* className() const noexcept = 0;
    virtual ~Object() = default;

    void acquire() noexcept { m_refs.fetch_add(1, std::memory_order_relaxed); }
    // The first reference to an object that no other thread can reach yet:
    // no locked instruction is needed.
    void adopt() noexcept { m_refs.store(1, std::memory_order_relaxed); }
    // Drops one reference; true when it was the last one. The sole holder
    // skips the locked decrement: with one reference left, no other thread
    // can take a new one, and the acquire load orders every earlier
    // release before the destruction.
    bool releaseRef() noexcept {
        if (m_refs.load(std::memory_order_acquire) == 1) {
            m_refs.store(0, std::memory_order_relaxed);
            return true;
        }
        return m_refs.fetch_sub(1, std::memory_order_acq_rel) == 1;
    }
    int32_t refCount() const noexcept { return m_refs.load(std::memory_order_acquire); }

private:
    std::atomic<int32_t> m_refs{0};
};

// Releases the reference held in `field`: the field is cleared before the
// last release runs, so the object never sees a holder pointing at it.
template <class T>
void release(T*& field) noexcept {
    T* object = field;
    field = nullptr;
    if (object && object->releaseRef()) object->onLastRelease();
}

// Destroyed at once by the thread that drops the last reference.
class ObjectDelete : public Object {
public:
    void onLastRelease() noexcept override { delete this; }
};

// Destroyed on the "recycle" event manager's thread, so that an object is
// never destroyed on a thread that may still run one of its methods.
// Counted by the process-wide DisposeGuard while alive.
class ObjectDispose : public Object {
public:
    ObjectDispose() noexcept;
    ObjectDispose(const ObjectDispose&) noexcept;
    ObjectDispose& operator=(const ObjectDispose&) noexcept { return *this; }
    void onLastRelease() noexcept override;
};

// What the recycler did with a released ObjectDispose.
enum class Disposal {
    DestroyNow,  // the caller destroys it: it is the recycle thread itself
    Handed,      // queued for the recycle thread, or refused by a stopped one
    KeptAlive,   // could not be queued: it stays alive and counted
};
// Hands a released ObjectDispose to the thread that destroys it. Without a
// recycler objects are destroyed on the releasing thread.
using Recycler = Disposal (*)(ObjectDispose* object) noexcept;
void setRecycler(Recycler recycler) noexcept;

[[noreturn]] void throwNullException();

// Holds one reference to a T (derived from Object), or nothing.
template <class T>
class Pointer {
public:
    Pointer() noexcept = default;
    Pointer(std::nullptr_t) noexcept {}
    Pointer(T* object) noexcept : m_object(object) {
        if (object) object->acquire();
    }
    Pointer(const Pointer& other) noexcept : Pointer(other.m_object) {}
    template <class U>
    Pointer(const Pointer<U>& other) noexcept : Pointer(other.get()) {}
    Pointer(Pointer&& other) noexcept : m_object(std::exchange(other.m_object, nullptr)) {}
    ~Pointer() { release(m_object); }

    // Takes the first reference to a new object no other thread can reach
    // (count 0, just created or just taken from a pool).
    static Pointer adopt(T* object) noexcept {
        Pointer p;
        p.m_object = object;
        if (object) object->adopt();
        return p;
    }

    // Acquires the new object before releasing the old one: in `p = p->next`
    // the old object may own the new one.
    Pointer& operator=(const Pointer& other) noexcept { return assign(other.m_object); }
    Pointer& operator=(T* object) noexcept { return assign(object); }
    Pointer& operator=(Pointer&& other) noexcept {
        if (this != &other) {
            T* old = std::exchange(m_object, std::exchange(other.m_object, nullptr));
            release(old);
        }
        return *this;
    }

    void reset() noexcept { release(m_object); }

    T* get() const noexcept { return m_object; }
    T* operator->() const {
        if (!m_object) [[unlikely]] throwNullException();
        return m_object;
    }
    T& operator*() const {
        if (!m_object) [[unlikely]] throwNullException();
        return *m_object;
    }
    explicit operator bool() const noexcept { return m_object != nullptr; }
    bool isNull() const noexcept { return m_object == nullptr; }

    friend bool operator==(const Pointer& a, const Pointer& b) noexcept { return a.m_object == b.m_object; }
    friend bool operator==(const Pointer& a, const T* b) noexcept { return a.m_object == b; }

private:
    Pointer& assign(T* object) noexcept {
        if (object != m_object) {
            if (object) object->acquire();
            T* old = std::exchange(m_object, object);
            release(old);
        }
        return *this;
    }

    T* m_object = nullptr;
};

}  // namespace trivane::gc
