// The OpenVPN client configuration: text, directory and files.
#include "tunnel/ovpnconf.h"

#include "base/codepage.h"
#include "tunnel/ovpnmanagementclient.h"

#include <cstring>

namespace trivane::tunnel {

namespace {

const String crlf = "\r\n"_s;

struct Address {
    String host;
    String port;
};

// Host before the first ':' (all of it without one), port after it.
Address splitAddress(const String& text) {
    const uint32_t colon = text.find(':');
    if (colon == String::npos) return {text, String()};
    return {text.mid(0, colon), text.mid(colon + 1)};
}

// The value of the key found at `pos`: from the second byte after the key
// (the byte right after it, normally '=', is skipped whatever it is) up to
// the first ';' after the key's first byte.
String valueAt(const String& options, uint32_t pos, uint32_t keyLength) {
    const uint32_t start = pos + keyLength + 1;
    if (start >= options.length()) return String();
    const uint32_t end = options.find(';', pos + 1);
    if (end == String::npos) return options.mid(start);
    return end > start ? options.mid(start, end - start) : String();
}

uint32_t findExact(const String& options, const char* key) { return options.find(key); }

uint32_t findAnyCase(const String& text, const char* lowerKey) {
    return text.findIgnoreCase(lowerKey, static_cast<uint32_t>(std::strlen(lowerKey)));
}

// Every occurrence of the key, left to right: each one is consumed with
// the byte after it, and its value runs to the next ';'.
template <class Emit>
void forEachValue(const String& options, const char* lowerKey, Emit emit) {
    const uint32_t keyLength = static_cast<uint32_t>(std::strlen(lowerKey));
    String rest = options;
    for (;;) {
        const uint32_t pos = rest.findIgnoreCase(lowerKey, keyLength);
        if (pos == String::npos) return;
        const uint32_t next = pos + keyLength + 1;
        rest = next >= rest.length() ? String() : rest.mid(next);
        const uint32_t end = rest.find(';');
        emit(end == String::npos ? rest : rest.mid(0, end));
    }
}

String forwardSlashes(const String& path) { return path.replace('\\', '/'); }

String routeLine(const String& value) {
    StringSplitter fields(value.trim(), ' ');
    const String first = fields.hasMore() ? fields.next() : String();
    const String second = fields.hasMore() ? fields.next() : String();
    const String third = fields.hasMore() ? fields.next() : String();
    String line = "route "_s + first + " " + second;
    if (!third.isEmpty()) line = line + " " + third;
    return line + crlf;
}

String header(const String& options) {
    const bool bridge = findExact(options, "bridge") != String::npos;
    const bool udp = findExact(options, "udp") != String::npos;
    return "client\r\ndev "_s + (bridge ? "tap"_s : "tun"_s) + "\r\nproto " + (udp ? "udp"_s : "tcp"_s) + crlf;
}

String body(const OVpnManagementClientConfiguration& conf, const String& remote, const String& options,
            const String& bypass1, const String& bypass2) {
    const Address server = splitAddress(remote);
    String text = "remote "_s + server.host + " " + server.port + crlf +
                  "keepalive 10 120\r\nresolv-retry infinite\r\nnobind\r\npersist-key\r\npersist-tun\r\n" +
                  "ca \"" + forwardSlashes(conf.caFilePath()) + "\"\r\n" +
                  "cert \"" + forwardSlashes(conf.certFilePath()) + "\"\r\n" +
                  "key \"" + forwardSlashes(conf.keyFilePath()) + "\"\r\n" + "auth none\r\ncipher none\r\n";

    const uint32_t verbose = findAnyCase(options, "verbose");
    const String verbosity = verbose == String::npos ? String() : valueAt(options, verbose, 7);
    text = text + (verbosity.isEmpty() ? "verb 5\r\n"_s : "verb "_s + verbosity + crlf);
    text = text + "log \"" + forwardSlashes(conf.logFilePath()) + "\"\r\n";

    if (findAnyCase(options, "fulltunnel") != String::npos) {
        const String host1 = splitAddress(bypass1).host;
        const String host2 = splitAddress(bypass2).host;
        text = text + "route " + host1 + " 255.255.255.255 net_gateway\r\n";
        if (!(host2 == host1)) text = text + "route " + host2 + " 255.255.255.255 net_gateway\r\n";
        const uint32_t gateway = findExact(options, "defaultGateway");
        if (findExact(options, "bridge") != String::npos && gateway != String::npos)
            text = text + "route-gateway " + valueAt(options, gateway, 14) + crlf;
        text = text + "redirect-gateway local def1\r\n";
    }
    forEachValue(options, "addroute", [&](const String& value) { text = text + routeLine(value); });
    forEachValue(options, "adddns",
                 [&](const String& value) { text = text + "dhcp-option DNS " + value.trim() + crlf; });
    const uint32_t suffix = findAnyCase(options, "dnssuffix");
    if (suffix != String::npos) {
        const String domain = valueAt(options, suffix, 9);
        if (!domain.isEmpty()) text = text + "dhcp-option DOMAIN " + domain + crlf;
    }
    forEachValue(options, "addwins",
                 [&](const String& value) { text = text + "dhcp-option WINS " + value.trim() + crlf; });

    const Address management = splitAddress(conf.managedHost());
    return text + "management " + management.host + " " + management.port + crlf +
           "management-hold\r\nmanagement-query-passwords\r\nauth-user-pass\r\n";
}

}  // namespace

bool isSafeConfParameter(const String& value) noexcept {
    const auto* p = reinterpret_cast<const unsigned char*>(value.data());
    for (uint32_t i = 0; i < value.length(); ++i)
        if (p[i] < 0x20 || p[i] == 0x7F) return false;
    return true;
}

String vpnSubdirectory(const String& account) {
    const char separator = nativePathSeparator();
    const String user = account.replace('@', '_').replace('/', '_').replace('\\', '_');
    const String s(&separator, 1);
    return "Velnor"_s + s + "AdminDaemon" + s + "VPN" + s + user;
}

String vpnDirectory(const String& tempDir, const String& account) {
    const char separator = nativePathSeparator();
    return tempDir + vpnSubdirectory(account) + String(&separator, 1);
}

String buildConfText(const OVpnManagementClientConfiguration& conf, const String& remote, const String& options,
                     const String& bypass1, const String& bypass2, bool& converted) {
    String utf8;
    converted = ansiToUtf8(body(conf, remote, options, bypass1, bypass2), utf8);
    return converted ? header(options) + utf8 : header(options);
}

String buildConfText(const OVpnManagementClientConfiguration& conf, const String& remote, const String& options,
                     const String& bypass1, const String& bypass2) {
    bool converted;
    return buildConfText(conf, remote, options, bypass1, bypass2, converted);
}

bool writeVpnFiles(SecureDirectory& directory, const OVpnManagementClientConfiguration& conf, const String& text) {
    // OpenVPN starts a new log; an old one that is not there is no matter.
    directory.removeFile(conf.logFileName());
    return OvpnManagementClient::writeConfFile(directory, conf.confFileName(), text) &&
           OvpnManagementClient::writeConfFile(directory, conf.caFileName(), conf.caCrt()) &&
           OvpnManagementClient::writeConfFile(directory, conf.certFileName(), conf.clientCrt()) &&
           OvpnManagementClient::writeConfFile(directory, conf.keyFileName(), conf.clientKey());
}

}  // namespace trivane::tunnel
