// The process-wide objects, built in dependency order and torn down in reverse.
#include "base/runtime.h"

#include "base/arch/host.h"
#include "base/console.h"
#include "base/disposeguard.h"
#include "base/event.h"
#include "base/thread.h"

#include <atomic>
#include <new>

namespace trivane {

namespace {

int s_users = 0;

// Placement storage: these objects live outside ordinary static
// initialisation and destruction order.
template <class T>
struct Storage {
    alignas(T) unsigned char bytes[sizeof(T)] = {};
    std::atomic<T*> object{nullptr};

    template <class... Args>
    T* build(Args&&... args) {
        T* built = new (bytes) T(static_cast<Args&&>(args)...);
        object.store(built, std::memory_order_release);
        return built;
    }
    void destroy() {
        if (T* built = object.exchange(nullptr, std::memory_order_acq_rel)) built->~T();
    }
    T* get() const noexcept { return object.load(std::memory_order_acquire); }
};

constinit Storage<Console> s_console;
constinit Storage<ThreadManager> s_threadManager;
constinit Storage<MapThread> s_mapThread;
constinit Storage<SynchroThread> s_synchroThread;
constinit Storage<gc::DisposeGuard> s_guard;
constinit Storage<EventManager> s_mainManager;
constinit Storage<EventManager> s_recycleManager;

constexpr uint32_t managerCapacity = 1000;

void startRuntime() {
    sys::ignoreBrokenPipe();
    s_console.build()->acquire();
    s_threadManager.build();
    s_mapThread.build()->acquire();
    s_synchroThread.build(5000);
    s_guard.build();
    s_mainManager.build(true, "main"_s, managerCapacity);
    s_recycleManager.build(true, "recycle"_s, managerCapacity);
    gc::setRecycler(&EventManager::recycle);
}

void stopRuntime() {
    // The recycler stays: with its manager gone it refuses like a stopped one.
    if (EventManager* recycle = s_recycleManager.get()) recycle->stop();
    s_recycleManager.destroy();
    s_mainManager.destroy();
    s_guard.destroy();
    const bool allFinished = s_synchroThread.get()->finish();
    s_synchroThread.destroy();
    // Threads still running use the registry and may log: leave both to
    // the end of the process rather than destroy them under their feet.
    if (!allFinished) return;
    s_mapThread.destroy();
    s_threadManager.destroy();
    s_console.destroy();
}

}  // namespace

Console* Console::instance() noexcept { return s_console.get(); }
gc::DisposeGuard* gc::DisposeGuard::instance() noexcept { return s_guard.get(); }
ThreadManager* ThreadManager::instance() noexcept { return s_threadManager.get(); }
MapThread* MapThread::instance() noexcept { return s_mapThread.get(); }
SynchroThread* SynchroThread::instance() noexcept { return s_synchroThread.get(); }
EventManager* EventManager::mainManager() noexcept { return s_mainManager.get(); }
EventManager* EventManager::recycleManager() noexcept { return s_recycleManager.get(); }

namespace detail {

RuntimeInit::RuntimeInit() {
    if (s_users++ == 0) startRuntime();
}

RuntimeInit::~RuntimeInit() {
    if (--s_users == 0) stopRuntime();
}

}  // namespace detail

}  // namespace trivane
