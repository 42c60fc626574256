// A thread whose body is a member operation of its owner.
#pragma once

#include "base/gcobject.h"
#include "base/thread.h"

namespace trivane {

template <class T>
class Task : public Thread {
public:
    using Body = void (T::*)();

    Task(const String& name, bool synchro, T* owner, Body body)
        : Thread(name, synchro), m_owner(owner), m_body(body) {}
    // Thread's destructor waits for a body still returning; an owner whose
    // members the body uses joins earlier, in its own destructor.
    ~Task() override = default;

    void main() override { (m_owner->*m_body)(); }

private:
    gc::Pointer<gc::Object> m_keep;  // kept empty: the owner holds the task
    T* m_owner;
    Body m_body;
};

}  // namespace trivane
