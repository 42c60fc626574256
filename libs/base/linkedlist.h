// Two intrusive lists that do not own their items; their owners lock them.
#pragma once

#include <atomic>
#include <cstdint>

namespace trivane {

// A FIFO of items linked through their own next pointer.
class SimpleLinkedList {
public:
    class Item {
    public:
        Item() = default;
        Item(const Item&) {}
        Item& operator=(const Item&) { return *this; }
        virtual ~Item();

    private:
        friend class SimpleLinkedList;
        Item* m_next = nullptr;
    };

    // The item must not be in a list.
    void append(Item* node);
    // The first item, unlinked, or null.
    Item* popFront();
    uint32_t count() const { return m_count.load(std::memory_order_acquire); }
    bool isEmpty() const { return m_head == nullptr; }

private:
    Item* m_head = nullptr;
    Item* m_tail = nullptr;
    std::atomic<uint32_t> m_count{0};
};

// A ring of items with a cursor: iteration starts where the previous one
// stopped and visits every item once.
class DoubleLinkedList {
public:
    class Item {
    public:
        Item() = default;
        Item(const Item&) {}
        Item& operator=(const Item&) { return *this; }
        virtual ~Item();

    private:
        friend class DoubleLinkedList;
        Item* m_next = nullptr;
        Item* m_previous = nullptr;
    };

    DoubleLinkedList() = default;
    DoubleLinkedList(const DoubleLinkedList&) = delete;
    DoubleLinkedList& operator=(const DoubleLinkedList&) = delete;
    ~DoubleLinkedList();

    void insertFront(Item* node);
    // Unlinks the item; an item that is not in the list is logged and left.
    void remove(Item* node);
    // The item at the cursor, which becomes where this iteration started.
    Item* first();
    // The item after the cursor, wrapping at the end; null once back at the start.
    Item* next();
    uint32_t count() const { return m_count; }
    Item* head() const { return m_head; }

private:
    Item* m_head = nullptr;
    Item* m_cursor = nullptr;
    Item* m_start = nullptr;
    uint32_t m_count = 0;
};

}  // namespace trivane
