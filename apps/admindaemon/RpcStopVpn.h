// The "stopVpn" method: after the caller's delay, terminate the OpenVPN
// process that "startVpn" recorded, unless another session started it.
#pragma once

#include "AdminDaemonDatas.h"
#include "base/gcobject.h"
#include "base/process.h"
#include "base/string.h"
#include "base/thread.h"
#include "xmlrpc/server.h"

#include <cstdint>

namespace trivane {

// Works on its own copies, taken together under the AdminDaemonDatas lock
// when the request arrived: a duplicate of the recorded process handle
// (closed with the thread) and the session recorded with it. Owned by the
// AdminDaemonDatas, which reclaims it once its body has returned.
class StopVpnThread final : public gc::ObjectDelete, public Thread {
public:
    StopVpnThread(const String& session, int64_t delayMs, AdminDaemonDatas* datas, Process process,
                  const String& recordedSession);
    ~StopVpnThread() override;
    const char* className() const noexcept override { return "StopVpnThread"; }

    void main() override;

private:
    void stop();

    String m_session;
    int64_t m_delayMs;
    AdminDaemonDatas* m_datas;
    Process m_process;
    String m_recordedSession;
};

class RpcStopVpn final : public gc::ObjectDelete, public xmlrpc::ServerMethod {
public:
    // The delay a caller may ask for at most; the system's own caller asks
    // for 10 s.
    static constexpr int64_t maxDelayMs = 60000;

    explicit RpcStopVpn(AdminDaemonDatas* datas) : xmlrpc::ServerMethod("stopVpn"_s), m_datas(datas) {}
    const char* className() const noexcept override { return "RpcStopVpn"; }

    // The delay a stop thread sleeps for the one asked: a negative one
    // (which would sleep without end) is 0, a longer one maxDelayMs.
    static int64_t effectiveDelay(int64_t askedMs) noexcept {
        return askedMs < 0 ? 0 : (askedMs > maxDelayMs ? maxDelayMs : askedMs);
    }

    using xmlrpc::ServerMethod::execute;
    // Parameters: session (string), delay in ms (int). Answers at once: the
    // empty value, or "internal error" when too many stops are pending.
    xmlrpc::Value execute(const xmlrpc::Value& params) override;

private:
    AdminDaemonDatas* m_datas;
};

}  // namespace trivane
