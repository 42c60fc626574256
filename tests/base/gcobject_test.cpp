#include "base/gcobject.h"

#include "base/exception.h"

#include <gtest/gtest.h>

#include <string>

using namespace trivane;

namespace {

// Records every count change and the destruction, so that a test can assert
// the exact sequence of ownership events.
struct Tracked final : gc::ObjectDelete {
    explicit Tracked(std::string& log, const char* name = "t") : m_log(log), m_name(name) {}
    ~Tracked() override { m_log += std::string("~") + m_name + ";"; }
    const char* className() const noexcept override { return "Tracked"; }
    gc::Pointer<Tracked> next;
    std::string& m_log;
    const char* m_name;
};

TEST(GcObjectTest, CountStartsAtZeroAndTheLastReleaseDestroysOnce) {
    std::string log;
    Tracked* raw = new Tracked(log);
    EXPECT_EQ(raw->refCount(), 0);
    {
        gc::Pointer<Tracked> a(raw);
        EXPECT_EQ(raw->refCount(), 1);
        gc::Pointer<Tracked> b = a;
        EXPECT_EQ(raw->refCount(), 2);
        b = a;  // same object: unchanged
        gc::Pointer<Tracked>& alias = a;
        a = alias;
        EXPECT_EQ(raw->refCount(), 2);
        b.reset();
        EXPECT_EQ(log, "");
    }
    EXPECT_EQ(log, "~t;");
}

TEST(GcObjectTest, AssigningAPointerHeldByItsOwnTargetKeepsTheNewTarget) {
    std::string log;
    gc::Pointer<Tracked> p(new Tracked(log, "first"));
    p->next = new Tracked(log, "second");
    p = p->next;  // the first object owns the second
    EXPECT_EQ(log, "~first;");
    EXPECT_STREQ(p->m_name, "second");
    EXPECT_EQ(p->refCount(), 1);
}

TEST(GcObjectTest, NullDereferenceThrowsNullException) {
    gc::Pointer<Tracked> p;
    try {
        (void)p->m_name;
        FAIL();
    } catch (const NullException& e) {
        EXPECT_EQ(std::string(e.message().data(), e.message().length()), "trivane::NullException");
        EXPECT_EQ(std::string(e.file().data(), e.file().length()), "gcobject");
    }
}

}  // namespace
