// The "stopVpn" method and its delayed stop thread.
#include "RpcStopVpn.h"

#include "base/console.h"
#include "base/exception.h"
#include "xmlrpc/faults.h"

namespace trivane {

namespace {

void trace(const String& message) { log(LogTrace, "RpcStopVpn", "execute", message); }

}  // namespace

StopVpnThread::StopVpnThread(const String& session, int64_t delayMs, AdminDaemonDatas* datas, Process process,
                             const String& recordedSession)
    : Thread("stopvpnthread"_s, true),
      m_session(session),
      m_delayMs(delayMs),
      m_datas(datas),
      m_process(std::move(process)),
      m_recordedSession(recordedSession) {}

// The body uses the members: it must be over before they go.
StopVpnThread::~StopVpnThread() { join(); }

void StopVpnThread::main() {
    // A daemon that ends while the thread sleeps terminates the recorded VPN
    // itself; the thread then leaves everything alone.
    if (!m_datas->sleep(m_delayMs)) return;
    stop();
    m_process.close();
}

void StopVpnThread::stop() {
    if (!m_session.isEmpty() && !m_recordedSession.isEmpty() && !(m_session == m_recordedSession)) {
        trace(traceable(m_session) + " did not launched the VPN");
        return;
    }
    const uint32_t error = m_process.terminate();
    if (error != 0) {
        trace("can not stop VPN. Error: "_s + String::fromUInt(error));
        return;
    }
    trace(traceable(m_session) + " stopped VPN");
    Locker<Mutex> hold(m_datas->lock());
    if (m_datas->process().sameProcess(m_process)) {
        m_datas->process().close();
        m_datas->session() = String();
    }
}

xmlrpc::Value RpcStopVpn::execute(const xmlrpc::Value& params) {
    String session;
    int64_t delayMs = 0;
    try {
        session = params.get(0).asString();
        if (params.size() > 1) delayMs = params.get(1).asInt();
    } catch (const Exception& e) {
        TRIVANE_LOG_CAUGHT(e);
        delayMs = 0;
    }
    delayMs = effectiveDelay(delayMs);

    gc::Pointer<StopVpnThread> thread;
    {
        Locker<Mutex> hold(m_datas->lock());
        thread = new StopVpnThread(session, delayMs, m_datas, m_datas->process().duplicate(), m_datas->session());
        if (!m_datas->addStopThread(thread)) {
            trace("too many VPN stops pending"_s);
            return xmlrpc::faultInternalError;
        }
        // Started before the lock goes: a thread not yet started reads as
        // finished, and another call would release it under the lock while
        // its body, started afterwards, waits for that lock.
        thread->run();
    }
    return xmlrpc::Value();
}

}  // namespace trivane
