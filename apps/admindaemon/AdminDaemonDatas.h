// The state that links a VPN start to its stop: the recorded OpenVPN
// process, the session that started it, and the stop threads still pending.
#pragma once

#include "base/array.h"
#include "base/gcobject.h"
#include "base/mutex.h"
#include "base/process.h"
#include "base/semaphore.h"
#include "base/string.h"

#include <cstdint>

namespace trivane {

class StopVpnThread;

// One instance, owned by the daemon's run function. The process and the
// session are read and written under lock() only. The stop threads belong
// to it: the destructor wakes the sleeping ones (they then act no more) and
// joins every one before the recorded process is terminated, so no stop
// thread ever touches a freed instance.
class AdminDaemonDatas {
public:
    // Stop threads that may wait at once; each holds a thread and a
    // process handle, so callers must not be able to pile them up.
    static constexpr uint32_t maxPendingStops = 16;

    AdminDaemonDatas() = default;
    ~AdminDaemonDatas();
    AdminDaemonDatas(const AdminDaemonDatas&) = delete;
    AdminDaemonDatas& operator=(const AdminDaemonDatas&) = delete;

    Mutex& lock() noexcept { return m_lock; }
    // Under lock(): the recorded process (invalid for none) and its session.
    Process& process() noexcept { return m_process; }
    String& session() noexcept { return m_session; }

    // Under lock(): takes `thread` in, after reclaiming the finished ones.
    // False when maxPendingStops are pending or the instance is closing;
    // the caller then must not start the thread.
    bool addStopThread(const gc::Pointer<StopVpnThread>& thread);
    // Stop threads not yet finished (for tests and the bound).
    uint32_t pendingStops();
    // Without lock(): waits `ms` milliseconds; false as soon as the
    // instance is closing.
    bool sleep(int64_t ms);

private:
    // Under lock(): moves the finished threads out, to be released unlocked.
    Array<gc::Pointer<StopVpnThread>> takeFinished();

    Mutex m_lock;
    Process m_process;
    String m_session;
    Array<gc::Pointer<StopVpnThread>> m_stopThreads;
    Condition m_closingCondition;
    bool m_closing = false;
};

// A caller's text as it may stand in a trace line: control bytes written as
// \xNN, so that a line break in a session name cannot start a line of its own.
String traceable(const String& text);

}  // namespace trivane
