// Priority lists, event queues and the event manager's thread.
#include "base/event.h"

#include "base/clock.h"
#include "base/console.h"
#include "base/exception.h"

#include <cstdio>
#include <new>

namespace trivane {

PrioList::Item::~Item() {
    if (m_linked) log(LogTrace, "PrioList.Item", "~Item", "the node is not removed from the list");
}

PrioList::~PrioList() {
    if (m_size != 0) log(LogTrace, "PrioList", "~PrioList", "the list is not empty");
}

void PrioList::insert(Item* item, uint8_t priority) {
    item->m_priority = priority;
    Item* ahead = m_backItem;
    // Every item the newcomer overtakes ages by one step.
    while (ahead && ahead->m_priority < priority) {
        ++ahead->m_priority;
        ahead = ahead->m_front;
    }
    item->m_front = ahead;
    item->m_back = ahead ? ahead->m_back : m_frontItem;
    if (item->m_back) item->m_back->m_front = item;
    else m_backItem = item;
    if (ahead) ahead->m_back = item;
    else m_frontItem = item;
    item->m_linked = true;
    ++m_size;
}

PrioList::Item* PrioList::pop() {
    TRIVANE_ASSERT(m_size);
    Item* item = m_frontItem;
    m_frontItem = item->m_back;
    if (m_frontItem) m_frontItem->m_front = nullptr;
    else m_backItem = nullptr;
    item->m_front = item->m_back = nullptr;
    item->m_linked = false;
    --m_size;
    return item;
}

void RecycleEvent::run() {
    gc::ObjectDispose* target = m_target;
    m_target = nullptr;
    delete target;
}

namespace {

// Time left of a budget, or -1 for none.
int32_t remainingMs(int32_t timeoutMs, uint64_t deadline) {
    if (timeoutMs < 0) return -1;
    const uint64_t now = steadyMilliseconds();
    return now >= deadline ? 0 : static_cast<int32_t>(deadline - now);
}

uint64_t deadlineOf(int32_t timeoutMs) {
    return steadyMilliseconds() + static_cast<uint64_t>(timeoutMs < 0 ? 0 : timeoutMs);
}

void refuse(const char* name, Event* event) {
    std::fprintf(stderr, "posting event %s but the eventManager has been stopped", name);
    std::fflush(stderr);
    event->release();
}

}  // namespace

bool EventManager::Queue::put(Event* event, uint8_t priority, int32_t timeoutMs) {
    Locker<InternalMutex> hold(m_lock);
    const uint64_t deadline = deadlineOf(timeoutMs);
    while (m_running) {
        if (m_list.count() < m_capacity) {
            m_list.insert(event, priority);
            m_notEmpty.notify();
            return true;
        }
        const int32_t left = remainingMs(timeoutMs, deadline);
        if (left == 0) return false;
        m_notFull.wait(left, m_lock);
    }
    return false;
}

Event* EventManager::Queue::get(int32_t timeoutMs) {
    Locker<InternalMutex> hold(m_lock);
    const uint64_t deadline = deadlineOf(timeoutMs);
    for (;;) {
        if (!m_list.isEmpty()) {
            Event* event = static_cast<Event*>(m_list.pop());
            m_notFull.notify();
            return event;
        }
        if (!m_running) return nullptr;
        if (m_kicked) {
            m_kicked = false;
            return nullptr;
        }
        const int32_t left = remainingMs(timeoutMs, deadline);
        if (left == 0) return nullptr;
        m_notEmpty.wait(left, m_lock);
    }
}

bool EventManager::Queue::isEmpty() {
    Locker<InternalMutex> hold(m_lock);
    return m_list.isEmpty();
}

void EventManager::Queue::stopQueue() {
    Locker<InternalMutex> hold(m_lock);
    m_running = false;
    m_notFull.notifyAll();
    m_notEmpty.notifyAll();
}

void EventManager::Queue::kick() {
    Locker<InternalMutex> hold(m_lock);
    m_kicked = true;
    m_notEmpty.notifyAll();
}

EventManager::EventManager(bool timing, const String& name, uint32_t capacity)
    : Thread(name, true), m_queue(capacity), m_timing(timing) {}

EventManager::~EventManager() { stop(); }

bool EventManager::post(const char* name, Event* event) {
    TRIVANE_ASSERT(!isMyThread());
    TRIVANE_ASSERT(event);
    if (isStopped()) {
        refuse(name, event);
        return false;
    }
    event->m_name = name;
    run(false);
    if (m_queue.put(event, PrioList::Item::defaultPriority, postTimeoutMs)) return true;
    if (isStopped()) {
        refuse(name, event);
        return false;
    }
    log(LogTrace, "EventManage", "post", "problem cannot post any event in main thread in 20 seconds");
    TRIVANE_THROW(EEventManager);
}

void EventManager::stop() {
    if (!m_stopped.exchange(true, std::memory_order_acq_rel)) m_queue.stopQueue();
    join(-1);
    while (Event* event = m_queue.get(0)) event->release();
}

void EventManager::addTimer(TimerItem* timer) {
    {
        Locker<Mutex> hold(m_timerLock);
        timer->m_due = steadyMilliseconds() + timer->m_periodMs;
        m_timers.insertFront(timer);
    }
    if (isStopped()) return;
    run(false);
    m_queue.kick();
}

void EventManager::removeTimer(TimerItem* timer) {
    Locker<Mutex> hold(m_timerLock);
    m_timers.remove(timer);
}

int32_t EventManager::fireTimers() {
    const uint64_t now = steadyMilliseconds();
    Locker<Mutex> hold(m_timerLock);
    uint64_t budget = 30000;
    for (DoubleLinkedList::Item* item = m_timers.first(); item; item = m_timers.next()) {
        TimerItem* timer = static_cast<TimerItem*>(item);
        uint64_t left = 0;
        if (timer->m_due > now) {
            left = timer->m_due - now;
        } else {
            timer->fire();
            timer->m_due = steadyMilliseconds() + timer->m_periodMs;
            left = timer->m_periodMs;
        }
        if (left < budget) budget = left;
    }
    return static_cast<int32_t>(budget);
}

void EventManager::execute(Event* event) {
    const uint64_t start = m_timing ? steadyMilliseconds() : 0;
    try {
        event->run();
    } catch (const Exception& e) {
        TRIVANE_LOG_CAUGHT(e);
    }
    if (!m_timing) return;
    const uint64_t elapsed = steadyMilliseconds() - start;
    if (elapsed > slowEventMs)
        log(LogTrace, "EventManager", "execute",
            "after: "_s + String(event->name()) + " (" + String::fromUInt64(elapsed) + " ms)");
}

void EventManager::main() {
    while (!isStopped()) {
        try {
            const int32_t budget = fireTimers();
            if (Event* event = m_queue.get(budget)) {
                execute(event);
                event->release();
            }
        } catch (const Exception& e) {
            TRIVANE_LOG_CAUGHT(e);
        }
    }
}

gc::Disposal EventManager::recycle(gc::ObjectDispose* object) noexcept {
    EventManager* manager = recycleManager();
    if (!manager) {
        std::fprintf(stderr, "posting event %s but the eventManager has been stopped", "dispose");
        return gc::Disposal::Handed;
    }
    if (manager->isMyThread()) return gc::Disposal::DestroyNow;
    RecycleEvent* event = new (std::nothrow) RecycleEvent(object);
    try {
        if (event) {
            manager->post("dispose", event);
            return gc::Disposal::Handed;
        }
    } catch (const Exception& e) {
        TRIVANE_LOG_CAUGHT(e);
        delete event;
    }
    // Destroying it here could run its destructor inside one of its own
    // methods, and throwing would leave a release half done.
    log(LogError, "EventManager", "recycle",
        "cannot hand a released object to the recycle thread, it stays alive: "_s + String(object->className()));
    return gc::Disposal::KeptAlive;
}

}  // namespace trivane
