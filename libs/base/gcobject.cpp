// Deferred destruction of disposable objects and the exit-time guard.
#include "base/gcobject.h"

#include "base/console.h"
#include "base/disposeguard.h"
#include "base/exception.h"

#include <atomic>

namespace trivane::gc {

namespace {
std::atomic<Recycler> s_recycler{nullptr};
}  // namespace

void setRecycler(Recycler recycler) noexcept { s_recycler.store(recycler, std::memory_order_release); }

void throwNullException() { TRIVANE_THROW(trivane::NullException); }

ObjectDispose::ObjectDispose() noexcept {
    if (DisposeGuard* guard = DisposeGuard::instance()) guard->add();
}

ObjectDispose::ObjectDispose(const ObjectDispose&) noexcept : ObjectDispose() {}

void ObjectDispose::onLastRelease() noexcept {
    const Recycler recycler = s_recycler.load(std::memory_order_acquire);
    const Disposal disposal = recycler ? recycler(this) : Disposal::DestroyNow;
    if (disposal == Disposal::KeptAlive) return;
    DisposeGuard* guard = DisposeGuard::instance();
    if (disposal == Disposal::DestroyNow) delete this;
    if (guard) guard->remove();
}

void DisposeGuard::remove() noexcept {
    if (m_count.fetch_sub(1, std::memory_order_acq_rel) == 1 && m_waiting.load(std::memory_order_acquire))
        m_semaphore.post();
}

DisposeGuard::~DisposeGuard() {
    m_waiting.store(true, std::memory_order_release);
    if (count() <= 0) return;
    log(LogTrace, "DisposeGuard", "~DisposeGuard",
        "wait for "_s + String::fromInt(count()) + " refs for " + String::fromInt(waitSeconds) + " seconds");
    if (!m_semaphore.wait(waitSeconds * 1000))
        log(LogError, "DisposeGuard", "~DisposeGuard",
            String::fromInt(count()) + " refs still active, continuing anyway");
}

}  // namespace trivane::gc
