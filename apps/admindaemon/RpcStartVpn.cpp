// The "startVpn" method.
#include "RpcStartVpn.h"

#include "base/arch/host.h"
#include "base/console.h"
#include "base/namedpipeio.h"
#include "base/process.h"
#include "base/registry.h"
#include "base/securedir.h"
#include "tunnel/ovpnconf.h"
#include "tunnel/ovpnmanagementclientconfiguration.h"
#include "xmlrpc/faults.h"

namespace trivane {

namespace {

void trace(const char* function, const String& message) { log(LogTrace, "RpcStartVpn", function, message); }

// The executable named by the registry; false (logged) when it cannot be read.
bool readExePath(String& exePath) {
    RegistryKey key;
    if (key.open(RegistryRoot::LocalMachine, "SOFTWARE\\VelnorVPN"_s) != 0) {
        trace("execute", "can not open HKEY_LOCAL_MACHINE\\SOFTWARE\\VelnorVPN"_s);
        return false;
    }
    const String name("exe_path");
    uint32_t size = 0;
    // Data of size 0 has no terminating byte and names nothing.
    if (key.queryValue(name, nullptr, size) != 0 || size == 0) {
        trace("execute", "can not read VPN exe_path"_s);
        return false;
    }
    String data;
    char* buffer = data.reserve(size);
    if (key.queryValue(name, buffer, size) != 0 || size == 0) {
        trace("execute", "can not read VPN exe_path 2"_s);
        return false;
    }
    data.setLength(size - 1);
    exePath = data;
    return true;
}

}  // namespace

xmlrpc::Value RpcStartVpn::execute(const xmlrpc::Value&) { return xmlrpc::faultBadConfiguration; }

xmlrpc::Value RpcStartVpn::execute(const xmlrpc::Value& params, IO* stream) {
    auto* pipe = dynamic_cast<NamedPipeIO*>(stream);
    if (!pipe) return execute(params);

    tunnel::OVpnManagementClientConfiguration conf;
    const String temp = sys::temporaryDirectory();
    if (temp.isEmpty()) {
        log(LogError, "RpcStartVpn", "execute", "GetTempPath failure");
        return xmlrpc::faultBadConfiguration;
    }
    const String session = params.get(1).asString();
    const String user = pipe->clientUserName();
    conf.setVpnDir(tunnel::vpnDirectory(temp, user));
    const String remote = params.get(0).asString();
    const String options = params.get(2).asString();
    const String bypass1 = params.get(3).asString();
    const String bypass2 = params.get(4).asString();

    // OpenVPN runs what the configuration says as root: a line break in a
    // caller's text would add a directive of the caller's choice.
    for (const String* text : {&remote, &options, &bypass1, &bypass2}) {
        if (!tunnel::isSafeConfParameter(*text)) {
            trace("execute", "refused a parameter holding a control byte from user "_s + user);
            return xmlrpc::faultBadParameter;
        }
    }

    trace("launchVpn", "creating VPN conf for user "_s + user);
    Locker<Mutex> starting(m_startLock);
    bool converted = false;
    const String text = tunnel::buildConfText(conf, remote, options, bypass1, bypass2, converted);

    SecureDirectory directory;
    if (directory.open(temp, tunnel::vpnSubdirectory(user)) != 0) {
        trace("launchVpn", "can not create VPN directory : "_s + conf.vpnDir());
        return xmlrpc::faultBadConfiguration;
    }
    if (!converted || !tunnel::writeVpnFiles(directory, conf, text)) {
        trace("launchVpn", "can not write VPN conf in "_s + conf.vpnDir());
        return xmlrpc::faultBadConfiguration;
    }
    directory.close();

    stopVpn(session);

    String exePath;
    if (!readExePath(exePath)) return xmlrpc::faultBadConfiguration;

    // The program name comes first, quoted, or OpenVPN would take the
    // option for its name.
    const String arguments = "--config \""_s + conf.confFilePath() + "\"";
    Process process;
    if (process.start(exePath, "\""_s + exePath + "\" " + arguments) != 0) {
        trace("execute", "can not execute: "_s + exePath + " " + arguments);
        return xmlrpc::faultInternalError;
    }
    trace("execute", exePath + " " + arguments + " launched for session: " + traceable(session));
    Process replaced;
    {
        Locker<Mutex> hold(m_datas->lock());
        replaced = std::move(m_datas->process());
        m_datas->process() = std::move(process);
        m_datas->session() = session;
    }
    // `replaced` (another session's VPN, left running) closes its handle here.
    return xmlrpc::Value();
}

void RpcStartVpn::stopVpn(const String& session) {
    Process process;
    {
        Locker<Mutex> hold(m_datas->lock());
        const String recorded = m_datas->session();
        if (!session.isEmpty() && !recorded.isEmpty() && !(session == recorded)) return;
        process = std::move(m_datas->process());
    }
    if (process.isValid() && process.terminate() != 0) trace("stopVpn", "can not stop VPN"_s);
}

}  // namespace trivane
