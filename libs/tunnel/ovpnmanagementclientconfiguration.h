// The description of one OpenVPN client set-up: file names, VPN directory,
// management address and the three PEM texts written beside the configuration.
#pragma once

#include "base/serialize.h"
#include "base/string.h"

namespace trivane::tunnel {

// A value type: copies are independent (their strings share buffers).
class OVpnManagementClientConfiguration : public ISerialize {
public:
    OVpnManagementClientConfiguration();
    OVpnManagementClientConfiguration(const OVpnManagementClientConfiguration&) = default;
    OVpnManagementClientConfiguration& operator=(const OVpnManagementClientConfiguration&) = default;
    ~OVpnManagementClientConfiguration() override = default;

    // Joined to the file names as it is, so it ends with a path separator.
    void setVpnDir(const String& directory) { m_vpnDir = directory; }

    String confFilePath() const { return m_vpnDir + m_confFileName; }
    String caFilePath() const { return m_vpnDir + m_caFileName; }
    String certFilePath() const { return m_vpnDir + m_certFileName; }
    String keyFilePath() const { return m_vpnDir + m_keyFileName; }
    String logFilePath() const { return m_vpnDir + m_logFileName; }

    const String& confFileName() const { return m_confFileName; }
    const String& caFileName() const { return m_caFileName; }
    const String& certFileName() const { return m_certFileName; }
    const String& keyFileName() const { return m_keyFileName; }
    const String& logFileName() const { return m_logFileName; }
    const String& vpnDir() const { return m_vpnDir; }
    // "host:port" of OpenVPN's management interface.
    const String& managedHost() const { return m_managedHost; }
    // Carried and loadable; nothing here runs it.
    const String& linuxCmd() const { return m_linuxCmd; }
    const String& caCrt() const { return m_caCrt; }
    const String& clientCrt() const { return m_clientCrt; }
    const String& clientKey() const { return m_clientKey; }

    // Every key is optional: "cacrt", "clientcrt", "clientkey", "vpndir",
    // "managedhost", "linuxcmd". A management address without a usable port
    // (or with port "0") throws EConfBadValue, keeping the keys read before
    // it and the rejected text.
    void loadConf(IConfReader& reader) override;
    // Not implemented: each throws ENotImplemented.
    void loadStream(IReader& reader) override;
    void saveConf(IConfWriter& writer) override;
    void saveStream(IWriter& writer) override;

private:
    String m_confFileName;
    String m_caFileName;
    String m_certFileName;
    String m_keyFileName;
    String m_logFileName;
    String m_vpnDir;
    String m_managedHost;
    String m_linuxCmd;
    String m_caCrt;
    String m_clientCrt;
    String m_clientKey;
};

// Whether `text` is an address with a port a connection could use: host,
// ":", a non-empty port other than "0", optionally ":" and more; an IPv6
// host is written between brackets.
bool isUsableManagementAddress(const String& text);

}  // namespace trivane::tunnel
