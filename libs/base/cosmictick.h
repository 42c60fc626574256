// A coarse millisecond clock refreshed by a thread of its own.
#pragma once

#include "base/gcobject.h"
#include "base/thread.h"

#include <atomic>
#include <cstdint>

namespace trivane {

// One coarse wall-clock reading in milliseconds, refreshed every 100 ms by
// a thread of its own, for code that needs the approximate time often.
class CosmicTick final : public Thread, public gc::ObjectDelete {
public:
    static constexpr int32_t periodMs = 100;

    CosmicTick();
    ~CosmicTick() override;
    const char* className() const noexcept override { return "CosmicTick"; }

    // The process-wide tick, created and started by the first call.
    static gc::Pointer<CosmicTick> instance();
    // The low 32 bits of the wall clock at the last refresh.
    uint32_t tick() const noexcept { return m_tick.load(std::memory_order_acquire); }

    void main() override;

private:
    friend class CosmicTickHolder;
    void shutdown();

    std::atomic<uint32_t> m_tick;
    std::atomic<bool> m_running{true};
};

}  // namespace trivane
