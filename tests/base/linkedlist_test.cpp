#include "base/linkedlist.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace trivane;

namespace {

struct Node : DoubleLinkedList::Item {
    explicit Node(int v) : value(v) {}
    int value;
};

struct Link : SimpleLinkedList::Item {
    explicit Link(int v) : value(v) {}
    int value;
};

std::string walk(DoubleLinkedList& list, int limit = 100) {
    std::string seen;
    for (auto* item = list.first(); item && limit-- > 0; item = list.next()) seen += std::to_string(static_cast<Node*>(item)->value);
    return seen;
}

TEST(LinkedListTest, SimpleListIsFirstInFirstOut) {
    SimpleLinkedList list;
    Link a(1), b(2);
    list.append(&a);
    list.append(&b);
    EXPECT_EQ(list.count(), 2u);
    EXPECT_EQ(static_cast<Link*>(list.popFront())->value, 1);
    EXPECT_EQ(static_cast<Link*>(list.popFront())->value, 2);
    EXPECT_EQ(list.popFront(), nullptr);
    list.append(&a);  // unlinked items can be appended again
    EXPECT_EQ(list.popFront(), &a);
}

TEST(LinkedListTest, IterationRestartsWhereThePreviousOneStopped) {
    DoubleLinkedList list;
    Node n1(1), n2(2), n3(3), n4(4);
    for (Node* n : {&n4, &n3, &n2, &n1}) list.insertFront(n);
    EXPECT_EQ(walk(list), "1234");
    // Stop after two items; the next walk starts at the cursor and still
    // visits every item once.
    list.first();
    list.next();
    EXPECT_EQ(walk(list), "2341");
    for (Node* n : {&n1, &n2, &n3, &n4}) list.remove(n);
}

TEST(LinkedListTest, RemovingTheOnlyItemEmptiesTheList) {
    DoubleLinkedList list;
    Node only(1);
    list.insertFront(&only);
    list.remove(&only);
    EXPECT_EQ(list.count(), 0u);
    EXPECT_EQ(list.head(), nullptr);
    EXPECT_EQ(list.first(), nullptr);
    EXPECT_EQ(list.next(), nullptr);
    Node again(2);
    list.insertFront(&again);
    EXPECT_EQ(walk(list), "2");
    list.remove(&again);
}

TEST(LinkedListTest, ACursorOnTheRemovedLastItemWrapsToTheHead) {
    DoubleLinkedList list;
    Node n1(1), n2(2), n3(3);
    for (Node* n : {&n3, &n2, &n1}) list.insertFront(n);
    list.first();
    list.next();
    list.next();  // cursor on 3
    list.remove(&n3);
    EXPECT_EQ(walk(list), "12");
    list.remove(&n1);
    EXPECT_EQ(walk(list), "2");
    list.remove(&n2);
}

TEST(LinkedListTest, MisuseIsLoggedNotThrown) {
    DoubleLinkedList list;
    Node inList(1), stranger(2);
    list.insertFront(&inList);
    testing::internal::CaptureStdout();
    list.remove(&stranger);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("TRACE DoubleLinkedList.remove the node is not in the list"), std::string::npos) << out;
    EXPECT_EQ(list.count(), 1u);
    testing::internal::CaptureStdout();
    {
        DoubleLinkedList other;
        Node left(3), right(4);
        other.insertFront(&right);
        other.insertFront(&left);
    }
    const std::string destroyed = testing::internal::GetCapturedStdout();
    EXPECT_NE(destroyed.find("DoubleLinkedList.~DoubleLinkedList the list is not empty"), std::string::npos);
    EXPECT_NE(destroyed.find("DoubleLinkedList.Item.~Item the node is not removed from the list"), std::string::npos);
    list.remove(&inList);
}

}  // namespace
