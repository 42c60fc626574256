// The intrusive lists.
#include "base/linkedlist.h"

#include "base/assert.h"
#include "base/console.h"

namespace trivane {

SimpleLinkedList::Item::~Item() {
    if (m_next) log(LogTrace, "SimpleLinkedList.Item", "~Item", "the node is not removed from the list");
}

void SimpleLinkedList::append(Item* node) {
    TRIVANE_ASSERT(node->m_next == 0);
    if (m_head) {
        TRIVANE_ASSERT(m_tail);
        m_tail->m_next = node;
    } else {
        m_head = node;
    }
    m_tail = node;
    m_count.fetch_add(1, std::memory_order_acq_rel);
}

SimpleLinkedList::Item* SimpleLinkedList::popFront() {
    Item* node = m_head;
    if (!node) return nullptr;
    m_head = node->m_next;
    if (!m_head) m_tail = nullptr;
    node->m_next = nullptr;
    m_count.fetch_sub(1, std::memory_order_acq_rel);
    return node;
}

DoubleLinkedList::Item::~Item() {
    if (m_next || m_previous) log(LogTrace, "DoubleLinkedList.Item", "~Item", "the node is not removed from the list");
}

DoubleLinkedList::~DoubleLinkedList() {
    if (m_head) log(LogTrace, "DoubleLinkedList", "~DoubleLinkedList", "the list is not empty");
}

void DoubleLinkedList::insertFront(Item* node) {
    node->m_previous = nullptr;
    node->m_next = m_head;
    if (m_head) m_head->m_previous = node;
    m_head = m_cursor = m_start = node;
    ++m_count;
}

void DoubleLinkedList::remove(Item* node) {
    if (!node->m_next && !node->m_previous && node != m_head) {
        log(LogTrace, "DoubleLinkedList", "remove", "the node is not in the list");
        return;
    }
    Item* const after = node->m_next;
    if (node->m_previous) node->m_previous->m_next = after;
    if (after) after->m_previous = node->m_previous;
    if (m_head == node) m_head = after;
    // A cursor or start on the removed item moves on, wrapping to the head;
    // an emptied list has neither.
    Item* const successor = after ? after : m_head;
    if (m_cursor == node) m_cursor = successor;
    if (m_start == node) m_start = successor;
    node->m_next = node->m_previous = nullptr;
    --m_count;
}

DoubleLinkedList::Item* DoubleLinkedList::first() {
    if (!m_cursor) m_cursor = m_head;
    m_start = m_cursor;
    return m_cursor;
}

DoubleLinkedList::Item* DoubleLinkedList::next() {
    if (!m_cursor) return nullptr;
    m_cursor = m_cursor->m_next ? m_cursor->m_next : m_head;
    return m_cursor == m_start ? nullptr : m_cursor;
}

}  // namespace trivane
