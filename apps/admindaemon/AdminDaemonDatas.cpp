// The shared VPN state and the lifetime of the stop threads.
#include "AdminDaemonDatas.h"

#include "RpcStopVpn.h"
#include "base/clock.h"
#include "base/console.h"

namespace trivane {

AdminDaemonDatas::~AdminDaemonDatas() {
    Array<gc::Pointer<StopVpnThread>> threads;
    {
        Locker<Mutex> hold(m_lock);
        m_closing = true;
        m_closingCondition.notifyAll();
        threads = m_stopThreads;
        m_stopThreads = Array<gc::Pointer<StopVpnThread>>();
    }
    for (uint32_t i = 0; i < threads.count(); ++i) threads.at(i)->join();
    threads = Array<gc::Pointer<StopVpnThread>>();
    if (m_process.isValid() && m_process.terminate() != 0)
        log(LogTrace, "AdminDaemonDatas", "~AdminDaemonDatas", "cannot stop VPN");
    m_process.close();
}

Array<gc::Pointer<StopVpnThread>> AdminDaemonDatas::takeFinished() {
    Array<gc::Pointer<StopVpnThread>> finished;
    for (uint32_t i = m_stopThreads.count(); i-- > 0;) {
        if (!m_stopThreads.at(i)->join(0)) continue;
        finished.append(m_stopThreads.at(i));
        m_stopThreads.removeAt(i);
    }
    return finished;
}

bool AdminDaemonDatas::addStopThread(const gc::Pointer<StopVpnThread>& thread) {
    // The finished threads are released here, under the lock: their bodies
    // have returned, so the release does not wait on anything that needs it.
    Array<gc::Pointer<StopVpnThread>> finished = takeFinished();
    if (m_closing || m_stopThreads.count() >= maxPendingStops) return false;
    m_stopThreads.append(thread);
    return true;
}

uint32_t AdminDaemonDatas::pendingStops() {
    Locker<Mutex> hold(m_lock);
    Array<gc::Pointer<StopVpnThread>> finished = takeFinished();
    return m_stopThreads.count();
}

bool AdminDaemonDatas::sleep(int64_t ms) {
    const uint64_t deadline = steadyMilliseconds() + static_cast<uint64_t>(ms < 0 ? 0 : ms);
    Locker<Mutex> hold(m_lock);
    while (!m_closing) {
        const uint64_t now = steadyMilliseconds();
        if (now >= deadline) return true;
        m_closingCondition.wait(static_cast<int32_t>(deadline - now), m_lock);
    }
    return false;
}

String traceable(const String& text) {
    bool clean = true;
    for (uint32_t i = 0; i < text.length() && clean; ++i) {
        const unsigned char c = static_cast<unsigned char>(text.data()[i]);
        clean = c >= 0x20 && c != 0x7F;
    }
    if (clean) return text;
    static const char digits[] = "0123456789abcdef";
    String out;
    for (uint32_t i = 0; i < text.length(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text.data()[i]);
        if (c >= 0x20 && c != 0x7F) {
            out.append(static_cast<char>(c));
        } else {
            const char escaped[4] = {'\\', 'x', digits[c >> 4], digits[c & 15]};
            out.append(escaped, 4);
        }
    }
    return out;
}

}  // namespace trivane
