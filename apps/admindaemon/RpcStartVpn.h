// The "startVpn" method: write the caller's OpenVPN configuration under the
// temporary directory and start OpenVPN on it as the daemon.
#pragma once

#include "AdminDaemonDatas.h"
#include "base/gcobject.h"
#include "base/mutex.h"
#include "base/string.h"
#include "xmlrpc/server.h"

namespace trivane {

class RpcStartVpn final : public gc::ObjectDelete, public xmlrpc::ServerMethod {
public:
    explicit RpcStartVpn(AdminDaemonDatas* datas) : xmlrpc::ServerMethod("startVpn"_s), m_datas(datas) {}
    const char* className() const noexcept override { return "RpcStartVpn"; }

    // Parameters: remote address, session, options, bypass address 1 and 2
    // (strings). The empty value once OpenVPN runs; "bad parameter" for a
    // text holding a control byte; "bad configuration" when the directory,
    // a file or the registry fails; "internal error" when OpenVPN cannot
    // be started.
    xmlrpc::Value execute(const xmlrpc::Value& params, IO* stream) override;
    // Without the caller's stream nobody can be named: "bad configuration".
    xmlrpc::Value execute(const xmlrpc::Value& params) override;

    // Terminates the recorded VPN unless another (non-empty) session
    // recorded it; the recorded session stays.
    void stopVpn(const String& session);

private:
    AdminDaemonDatas* m_datas;
    // From writing the files to recording the process: two overlapping
    // starts would otherwise mix their files and both launch OpenVPN.
    Mutex m_startLock;
};

}  // namespace trivane
