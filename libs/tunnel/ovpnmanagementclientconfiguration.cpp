// The VPN client configuration: defaults and loading from named members.
#include "tunnel/ovpnmanagementclientconfiguration.h"

#include "base/confhelper.h"
#include "base/exception.h"
#include "tunnel/builtinpem.h"

namespace trivane::tunnel {

OVpnManagementClientConfiguration::OVpnManagementClientConfiguration()
    : m_confFileName("velnor.ovpn"_s),
      m_caFileName("ca.crt"_s),
      m_certFileName("client.crt"_s),
      m_keyFileName("client.key"_s),
      m_logFileName("openvpn.log"_s),
      m_managedHost("127.0.0.1:1195"_s),
      m_linuxCmd("pkexec openvpn %c"_s),
      m_caCrt(builtinCaCertificate),
      m_clientCrt(builtinClientCertificate),
      m_clientKey(builtinClientKey) {}

void OVpnManagementClientConfiguration::loadConf(IConfReader& reader) {
    ConfReadHelper::readKey(reader, "cacrt", m_caCrt, false);
    ConfReadHelper::readKey(reader, "clientcrt", m_clientCrt, false);
    ConfReadHelper::readKey(reader, "clientkey", m_clientKey, false);
    ConfReadHelper::readKey(reader, "vpndir", m_vpnDir, false);
    if (ConfReadHelper::readKey(reader, "managedhost", m_managedHost, false) &&
        !isUsableManagementAddress(m_managedHost))
        TRIVANE_THROW(EConfBadValue);
    ConfReadHelper::readKey(reader, "linuxcmd", m_linuxCmd, false);
}

void OVpnManagementClientConfiguration::loadStream(IReader&) { TRIVANE_THROW(ENotImplemented); }
void OVpnManagementClientConfiguration::saveConf(IConfWriter&) { TRIVANE_THROW(ENotImplemented); }
void OVpnManagementClientConfiguration::saveStream(IWriter&) { TRIVANE_THROW(ENotImplemented); }

bool isUsableManagementAddress(const String& text) {
    uint32_t colon;
    if (text.length() > 0 && text.charAt(0) == '[') {
        const uint32_t close = text.find(']');
        if (close == String::npos || close == 1) return false;
        colon = close + 1;
        if (colon >= text.length() || text.charAt(colon) != ':') return false;
    } else {
        if (text.find('[') != String::npos) return false;
        colon = text.find(':');
        if (colon == String::npos) return false;
    }
    const uint32_t end = text.find(':', colon + 1);
    const String port = end == String::npos ? text.mid(colon + 1) : text.mid(colon + 1, end - colon - 1);
    return !port.isEmpty() && !(port == "0"_s);
}

}  // namespace trivane::tunnel
