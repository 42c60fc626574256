// Event managers: a thread that runs posted events one at a time by
// priority, and can fire periodic timers.
#pragma once

#include "base/gcobject.h"
#include "base/linkedlist.h"
#include "base/mutex.h"
#include "base/semaphore.h"
#include "base/thread.h"

#include <atomic>
#include <cstdint>

namespace trivane {

// A priority list: the front holds the highest priority, equal priorities
// keep their order, and an item overtaken by a newcomer gains one step.
class PrioList {
public:
    class Item {
    public:
        static constexpr uint8_t defaultPriority = 128;
        Item() = default;
        Item(const Item&) = delete;
        Item& operator=(const Item&) = delete;
        virtual ~Item();
        uint8_t priority() const noexcept { return m_priority; }

    private:
        friend class PrioList;
        uint8_t m_priority = defaultPriority;
        bool m_linked = false;
        Item* m_front = nullptr;  // towards the front
        Item* m_back = nullptr;   // towards the back
    };

    PrioList() = default;
    PrioList(const PrioList&) = delete;
    PrioList& operator=(const PrioList&) = delete;
    ~PrioList();

    void insert(Item* item, uint8_t priority);
    // The front item, unlinked; the list must not be empty.
    Item* pop();
    uint32_t count() const noexcept { return m_size; }
    bool isEmpty() const noexcept { return m_size == 0; }
    Item* front() const noexcept { return m_frontItem; }

private:
    Item* m_frontItem = nullptr;
    Item* m_backItem = nullptr;
    uint32_t m_size = 0;
};

// Work for an event manager's thread. The name is set by the post and must
// outlive the event.
class Event : public PrioList::Item {
public:
    ~Event() override = default;
    virtual void run() = 0;
    // Called once the event ran or was discarded.
    virtual void release() { delete this; }
    virtual const char* className() const noexcept = 0;
    const char* name() const noexcept { return m_name; }

private:
    friend class EventManager;
    const char* m_name = "";
};

// A periodic timer; the manager's thread calls fire() every `periodMs`.
// The owner removes it from the manager before destroying it.
class TimerItem : public DoubleLinkedList::Item {
public:
    explicit TimerItem(uint64_t periodMs) : m_periodMs(periodMs) {}
    virtual void fire() = 0;
    uint64_t periodMs() const noexcept { return m_periodMs; }

private:
    friend class EventManager;
    uint64_t m_periodMs;
    uint64_t m_due = 0;
};

// Destroys a released ObjectDispose on the recycle thread.
class RecycleEvent final : public Event {
public:
    explicit RecycleEvent(gc::ObjectDispose* target) noexcept : m_target(target) {}
    void run() override;
    const char* className() const noexcept override { return "RecycleEvent"; }

private:
    gc::ObjectDispose* m_target;
};

// Events run on the manager's own thread, started by the first post, in
// priority order, never two at once. Timers fire with the timer lock held,
// events run with no lock of the manager's held.
class EventManager : public Thread {
public:
    static constexpr int32_t postTimeoutMs = 20000;
    static constexpr uint64_t slowEventMs = 100;

    EventManager(bool timing, const String& name, uint32_t capacity);
    ~EventManager() override;

    // Queues the event, which the manager then owns, at the default
    // priority; waits up to 20 s while the queue is full, then throws
    // EEventManager and leaves the event with the caller. A stopped
    // manager refuses it: a message on standard error, the event released
    // unrun and false returned.
    bool post(const char* name, Event* event);
    // Stops the thread after the running event and releases what is still
    // queued without running it.
    void stop();
    bool isStopped() const noexcept { return m_stopped.load(std::memory_order_acquire); }

    void addTimer(TimerItem* timer);
    void removeTimer(TimerItem* timer);

    void main() override;

    // The two process-wide managers, or null outside their lifetime.
    static EventManager* mainManager() noexcept;
    static EventManager* recycleManager() noexcept;
    // The recycler of ObjectDispose objects that the "recycle" manager
    // serves: destroyed at once on its own thread, otherwise posted there.
    static gc::Disposal recycle(gc::ObjectDispose* object) noexcept;

private:
    class Queue {
    public:
        explicit Queue(uint32_t capacity) : m_capacity(capacity) {}
        bool put(Event* event, uint8_t priority, int32_t timeoutMs);
        // Null on time-out, on a stopped empty queue, or when kicked.
        Event* get(int32_t timeoutMs);
        bool isEmpty();
        void stopQueue();
        // Makes a waiting get() return, so that the timers are looked at.
        void kick();

    private:
        InternalMutex m_lock;
        bool m_running = true;
        bool m_kicked = false;
        PrioList m_list;
        uint32_t m_capacity;
        Condition m_notFull;
        Condition m_notEmpty;
    };

    int32_t fireTimers();
    void execute(Event* event);

    Queue m_queue;
    std::atomic<bool> m_stopped{false};
    bool m_timing;
    DoubleLinkedList m_timers;
    Mutex m_timerLock;
};

}  // namespace trivane
