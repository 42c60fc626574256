// The coarse millisecond clock and its process-wide holder.
#include "base/cosmictick.h"

#include "base/clock.h"

#include <cstdio>

namespace trivane {

// Keeps the one CosmicTick from its first use to the end of the process.
class CosmicTickHolder {
public:
    ~CosmicTickHolder() {
        m_fast.store(nullptr, std::memory_order_release);
        if (CosmicTick* tick = m_tick.get()) {
            const int32_t others = tick->refCount() - 1;
            if (others > 0)
                std::fprintf(stderr, "bug the CosmicTick is still alive, with %ld refs, killing at least the thread\n",
                             static_cast<long>(others));
            tick->shutdown();
        }
        m_tick.reset();
    }

    gc::Pointer<CosmicTick> get() {
        if (CosmicTick* tick = m_fast.load(std::memory_order_acquire)) return gc::Pointer<CosmicTick>(tick);
        Locker<Mutex> hold(m_lock);
        if (!m_tick) {
            m_tick = new CosmicTick();
            m_tick->run(false);
            m_fast.store(m_tick.get(), std::memory_order_release);
        }
        return m_tick;
    }

private:
    Mutex m_lock;
    gc::Pointer<CosmicTick> m_tick;
    std::atomic<CosmicTick*> m_fast{nullptr};
};

namespace {
CosmicTickHolder& holder() {
    static CosmicTickHolder s_holder;
    return s_holder;
}
uint32_t lowMilliseconds() { return static_cast<uint32_t>(currentMilliseconds()); }
}  // namespace

CosmicTick::CosmicTick() : Thread("CosmicTick"_s, false), m_tick(lowMilliseconds()) {}

CosmicTick::~CosmicTick() { shutdown(); }

void CosmicTick::shutdown() {
    m_running.store(false, std::memory_order_release);
    wakeUp();
    join(-1);
}

gc::Pointer<CosmicTick> CosmicTick::instance() { return holder().get(); }

void CosmicTick::main() {
    while (m_running.load(std::memory_order_acquire)) {
        m_tick.store(lowMilliseconds(), std::memory_order_seq_cst);
        wait(periodMs, NoMutex::instance());
    }
}

}  // namespace trivane
