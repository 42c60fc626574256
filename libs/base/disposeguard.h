// Counts the live ObjectDispose objects and gives them up to ten seconds to
// be destroyed when the process ends.
#pragma once

#include "base/semaphore.h"

#include <atomic>
#include <cstdint>

namespace trivane::gc {

class DisposeGuard {
public:
    static constexpr int32_t waitSeconds = 10;

    DisposeGuard() = default;
    ~DisposeGuard();
    DisposeGuard(const DisposeGuard&) = delete;
    DisposeGuard& operator=(const DisposeGuard&) = delete;

    // The process-wide guard; null before start-up and after tear-down.
    static DisposeGuard* instance() noexcept;

    void add() noexcept { m_count.fetch_add(1, std::memory_order_relaxed); }
    void remove() noexcept;
    int32_t count() const noexcept { return m_count.load(std::memory_order_acquire); }

private:
    std::atomic<int32_t> m_count{0};
    std::atomic<bool> m_waiting{false};
    Semaphore m_semaphore;
};

}  // namespace trivane::gc
