// A blocking bounded FIFO, safe for several producers and consumers.
#pragma once

#include "base/clock.h"
#include "base/console.h"
#include "base/linkedlist.h"
#include "base/mutex.h"
#include "base/semaphore.h"

#include <cstdint>
#include <optional>

namespace trivane {

// The caller's lock passed to push and pop is released for the whole call,
// so a caller blocked here never holds it.
template <class T>
class TFifo {
public:
    class Item : public SimpleLinkedList::Item {
    public:
        explicit Item(const T& value) : m_value(value) {}
        T m_value;
    };

    explicit TFifo(uint32_t capacity) : m_capacity(capacity) {}
    ~TFifo() {
        while (SimpleLinkedList::Item* node = m_items.popFront()) delete static_cast<Item*>(node);
    }
    TFifo(const TFifo&) = delete;
    TFifo& operator=(const TFifo&) = delete;

    // Waits while the FIFO is full.
    void push(const T& value, IMutex& callerLock) {
        Item* node = new Item(value);
        Released released(callerLock);
        Locker<InternalMutex> hold(m_lock);
        while (m_items.count() >= m_capacity) {
            log(LogTrace, "Fifo", "push2", "size: "_s + String::fromUInt(m_items.count()));
            m_notFull.wait(m_lock);
        }
        m_items.append(node);
        m_notEmpty.notify();
    }

    // Waits until an item arrives.
    T pop(IMutex& callerLock) { return *pop(-1, callerLock); }

    // Nothing when the time-out passes first.
    std::optional<T> pop(int32_t timeoutMs, IMutex& callerLock) {
        Released released(callerLock);
        Locker<InternalMutex> hold(m_lock);
        const uint64_t deadline = steadyMilliseconds() + static_cast<uint64_t>(timeoutMs < 0 ? 0 : timeoutMs);
        while (m_items.isEmpty()) {
            if (timeoutMs < 0) {
                m_notEmpty.wait(m_lock);
                continue;
            }
            const uint64_t now = steadyMilliseconds();
            if (now >= deadline || (!m_notEmpty.wait(static_cast<int32_t>(deadline - now), m_lock) && m_items.isEmpty()))
                return std::nullopt;
        }
        Item* node = static_cast<Item*>(m_items.popFront());
        m_notFull.notify();
        std::optional<T> value(std::move(node->m_value));
        delete node;
        return value;
    }

    bool isEmpty() const {
        Locker<InternalMutex> hold(m_lock);
        return m_items.isEmpty();
    }
    uint32_t count() const { return m_items.count(); }

private:
    struct Released {
        explicit Released(IMutex& lock) : m_lock(lock) { m_lock.unlock(); }
        ~Released() { m_lock.lock(); }
        IMutex& m_lock;
    };

    mutable InternalMutex m_lock;
    SimpleLinkedList m_items;
    uint32_t m_capacity;
    Condition m_notFull;
    Condition m_notEmpty;
};

}  // namespace trivane
