#include "tunnel/ovpnconf.h"

#include "base/console.h"
#include "base/securedir.h"
#include "tunnel/ovpnmanagementclient.h"
#include "tunnel/ovpnmanagementclientconfiguration.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

using namespace trivane;
using namespace trivane::tunnel;

namespace {

std::string str(const String& s) { return std::string(s.data(), s.length()); }
String text(const std::string& s) { return String(s.data(), static_cast<uint32_t>(s.size())).clone(); }

std::string lines(const std::vector<std::string>& list) {
    std::string out;
    for (const std::string& line : list) out += line + "\r\n";
    return out;
}

OVpnManagementClientConfiguration confIn(const char* directory) {
    OVpnManagementClientConfiguration conf;
    conf.setVpnDir(String(directory));
    return conf;
}

// The text for the VPN directory C:\T\u\ with everything between the
// verbosity line and the management lines given.
std::string expected(const std::string& device, const std::string& proto, const std::string& remote,
                     const std::string& verb, const std::vector<std::string>& middle) {
    std::vector<std::string> all = {"client", "dev " + device, "proto " + proto, remote,
                                    "keepalive 10 120", "resolv-retry infinite", "nobind", "persist-key",
                                    "persist-tun", "ca \"C:/T/u/ca.crt\"", "cert \"C:/T/u/client.crt\"",
                                    "key \"C:/T/u/client.key\"", "auth none", "cipher none", verb,
                                    "log \"C:/T/u/openvpn.log\""};
    all.insert(all.end(), middle.begin(), middle.end());
    for (const char* tail : {"management 127.0.0.1 1195", "management-hold", "management-query-passwords",
                             "auth-user-pass"})
        all.push_back(tail);
    return lines(all);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/ovpnconf_test.XXXXXX";
        m_path = mkdtemp(pattern);
    }
    ~TempDir() { std::system(("rm -rf '" + m_path + "'").c_str()); }
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

TEST(OvpnConfTest, WorkedExampleByteForByte) {
    const String conf = buildConfText(confIn("C:\\T\\u\\"), "10.1.2.3:1194"_s, "udp;fulltunnel;adddns=10.0.0.1;verbose=3"_s,
                                      "10.1.2.3:443"_s, "10.1.2.9:443"_s);
    EXPECT_EQ(str(conf), expected("tun", "udp", "remote 10.1.2.3 1194", "verb 3",
                                  {"route 10.1.2.3 255.255.255.255 net_gateway",
                                   "route 10.1.2.9 255.255.255.255 net_gateway", "redirect-gateway local def1",
                                   "dhcp-option DNS 10.0.0.1"}));
}

struct TextCase {
    const char* name;
    const char* remote;
    const char* options;
    const char* bypass1;
    const char* bypass2;
    const char* device;
    const char* proto;
    const char* remoteLine;
    const char* verb;
    std::vector<std::string> middle;
};

TEST(OvpnConfTest, OptionsGiveTheirLines) {
    const std::vector<TextCase> cases = {
        {"empty options", "vpn.example:443", "", "", "", "tun", "tcp", "remote vpn.example 443", "verb 5", {}},
        {"verbose ignores case", "h:1", "Verbose=4", "", "", "tun", "tcp", "remote h 1", "verb 4", {}},
        {"verbose without a value", "h:1", "udp;verbose=", "", "", "tun", "udp", "remote h 1", "verb 5", {}},
        {"verbose followed by ;", "h:1", "verbose;udp", "", "", "tun", "udp", "remote h 1", "verb 5", {}},
        {"remote without colon", "h", "", "", "", "tun", "tcp", "remote h ", "verb 5", {}},
        {"bridge alone", "h:1", "bridge;defaultGateway=10.0.0.1", "", "", "tap", "tcp", "remote h 1", "verb 5", {}},
        {"bridge and udp", "h:1", "bridge;udp", "", "", "tap", "udp", "remote h 1", "verb 5", {}},
        {"full tunnel bridge without gateway", "h:1", "bridge;fulltunnel", "a:1", "b:2", "tap", "tcp", "remote h 1",
         "verb 5",
         {"route a 255.255.255.255 net_gateway", "route b 255.255.255.255 net_gateway",
          "redirect-gateway local def1"}},
        {"full tunnel bridge with gateway", "h:1", "bridge;FullTunnel;defaultGateway=192.168.1.1", "a:1", "b:2", "tap",
         "tcp", "remote h 1", "verb 5",
         {"route a 255.255.255.255 net_gateway", "route b 255.255.255.255 net_gateway",
          "route-gateway 192.168.1.1", "redirect-gateway local def1"}},
        {"full tunnel gateway without bridge", "h:1", "fulltunnel;defaultGateway=1.1.1.1", "a:1", "b:2", "tun", "tcp",
         "remote h 1", "verb 5",
         {"route a 255.255.255.255 net_gateway", "route b 255.255.255.255 net_gateway",
          "redirect-gateway local def1"}},
        {"empty gateway value still written", "h:1", "bridge;fulltunnel;defaultGateway=", "a:1", "b:2", "tap", "tcp",
         "remote h 1", "verb 5",
         {"route a 255.255.255.255 net_gateway", "route b 255.255.255.255 net_gateway", "route-gateway ",
          "redirect-gateway local def1"}},
        {"equal bypass hosts", "h:1", "fulltunnel", "10.0.0.5:443", "10.0.0.5:80", "tun", "tcp", "remote h 1",
         "verb 5", {"route 10.0.0.5 255.255.255.255 net_gateway", "redirect-gateway local def1"}},
        {"addroute fields", "h:1", "addroute=10.8.0.0 255.255.0.0;ADDROUTE=10.9.0.0 255.255.0.0 10.0.0.1 x", "", "",
         "tun", "tcp", "remote h 1", "verb 5",
         {"route 10.8.0.0 255.255.0.0", "route 10.9.0.0 255.255.0.0 10.0.0.1"}},
        {"addroute double blank gives an empty field", "h:1", "addroute= 10.8.0.0  255.0.0.0 ", "", "", "tun", "tcp",
         "remote h 1", "verb 5", {"route 10.8.0.0  255.0.0.0"}},
        {"two adddns in order, the last without value", "h:1", "adddns=1.1.1.1;adddns= 8.8.8.8 ;adddns", "", "",
         "tun", "tcp", "remote h 1", "verb 5",
         {"dhcp-option DNS 1.1.1.1", "dhcp-option DNS 8.8.8.8", "dhcp-option DNS "}},
        {"dnssuffix keeps its blanks", "h:1", "dnssuffix= corp.example ", "", "", "tun", "tcp", "remote h 1",
         "verb 5", {"dhcp-option DOMAIN  corp.example "}},
        {"empty dnssuffix gives nothing", "h:1", "dnssuffix=;addwins=10.0.0.2", "", "", "tun", "tcp", "remote h 1",
         "verb 5", {"dhcp-option WINS 10.0.0.2"}},
        {"order of the option lines", "h:1", "addwins=w;dnssuffix=d;adddns=n;addroute=r m", "", "", "tun", "tcp",
         "remote h 1", "verb 5",
         {"route r m", "dhcp-option DNS n", "dhcp-option DOMAIN d", "dhcp-option WINS w"}},
        {"keys found inside other words", "h:1", "x=udpbridge", "", "", "tap", "udp", "remote h 1", "verb 5", {}},
    };
    for (const TextCase& c : cases) {
        SCOPED_TRACE(c.name);
        const String conf = buildConfText(confIn("C:\\T\\u\\"), String(c.remote), String(c.options),
                                          String(c.bypass1), String(c.bypass2));
        EXPECT_EQ(str(conf),
                  expected(c.device, c.proto, c.remoteLine, c.verb, c.middle));
    }
}

TEST(OvpnConfTest, NonAsciiDirectoryIsWrittenInUtf8WithForwardSlashes) {
    OVpnManagementClientConfiguration conf = confIn("/tmp/J\xc3\xb6rg\\x/");
    bool converted = false;
    const std::string t = str(buildConfText(conf, "h:1"_s, ""_s, ""_s, ""_s, converted));
    EXPECT_TRUE(converted);
    EXPECT_NE(t.find("\r\nca \"/tmp/J\xc3\xb6rg/x/ca.crt\"\r\n"), std::string::npos);
    EXPECT_NE(t.find("\r\nlog \"/tmp/J\xc3\xb6rg/x/openvpn.log\"\r\n"), std::string::npos);
}

TEST(OvpnConfTest, TextThatCannotBeConvertedLeavesOnlyTheHeader) {
    bool converted = true;
    const String t = buildConfText(confIn("/tmp/\xff/"), "h:1"_s, "udp"_s, ""_s, ""_s, converted);
    EXPECT_FALSE(converted);
    EXPECT_EQ(str(t), "client\r\ndev tun\r\nproto udp\r\n");
}

TEST(OvpnConfTest, TextEndsWithTheLastLine) {
    const std::string t = str(buildConfText(OVpnManagementClientConfiguration(), "h:1"_s, ""_s, ""_s, ""_s));
    const std::string tail = "\r\nmanagement 127.0.0.1 1195\r\nmanagement-hold\r\nmanagement-query-passwords\r\nauth-user-pass\r\n";
    ASSERT_GE(t.size(), tail.size());
    EXPECT_EQ(t.substr(t.size() - tail.size()), tail);
    EXPECT_NE(t.find("\r\nca \"ca.crt\"\r\n"), std::string::npos);
}

TEST(OvpnConfTest, ControlBytesMakeAParameterUnsafe) {
    struct Case {
        std::string value;
        bool safe;
    };
    const std::vector<Case> cases = {
        {"", true},
        {"udp;fulltunnel;adddns=10.0.0.1;dnssuffix= a b ", true},
        {"vpn.example:443", true},
        {"J\xc3\xb6rg", true},
        {"udp\nscript-security 2", false},
        {"udp\r", false},
        {"a\tb", false},
        {std::string("a\0b", 3), false},
        {"a\x1b", false},
        {"a\x7f", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(isSafeConfParameter(text(c.value)), c.safe);
    }
}

TEST(OvpnConfTest, VpnDirectoryOfAnAccount) {
    EXPECT_EQ(str(vpnDirectory("/tmp/"_s, "alice@CORP"_s)), "/tmp/Velnor/AdminDaemon/VPN/alice_CORP/");
    EXPECT_EQ(str(vpnSubdirectory("a/b\\c@d"_s)), "Velnor/AdminDaemon/VPN/a_b_c_d");
}

TEST(OvpnConfTest, FilesAreWrittenPrivatelyWithTheirExactContents) {
    TempDir temp;
    const std::string vpn = temp.path() + "/Velnor/AdminDaemon/VPN/alice_host";
    ASSERT_EQ(std::system(("mkdir -p '" + vpn + "' && chmod -R 700 '" + temp.path() + "/Velnor' && echo old > '" + vpn +
                           "/openvpn.log' && echo longer-old-contents > '" + vpn + "/velnor.ovpn' && chmod 644 '" +
                           vpn + "/velnor.ovpn'")
                              .c_str()),
              0);
    SecureDirectory directory;
    ASSERT_EQ(directory.open(text(temp.path() + "/"), vpnSubdirectory("alice@host"_s)), 0u);
    OVpnManagementClientConfiguration conf;
    conf.setVpnDir(directory.path());
    EXPECT_EQ(str(directory.path()), vpn + "/");
    const String confText = buildConfText(conf, "h:1"_s, ""_s, ""_s, ""_s);

    ASSERT_TRUE(writeVpnFiles(directory, conf, confText));
    EXPECT_NE(access((vpn + "/openvpn.log").c_str(), F_OK), 0);
    const std::vector<std::pair<std::string, String>> files = {
        {"velnor.ovpn", confText}, {"ca.crt", conf.caCrt()}, {"client.crt", conf.clientCrt()},
        {"client.key", conf.clientKey()}};
    for (const auto& [name, contents] : files) {
        SCOPED_TRACE(name);
        EXPECT_EQ(readFile(vpn + "/" + name), str(contents));
        struct stat s;
        ASSERT_EQ(stat((vpn + "/" + name).c_str(), &s), 0);
        EXPECT_EQ(s.st_mode & 07777, 0600u);
    }
    EXPECT_NE(readFile(vpn + "/velnor.ovpn").find("key \"" + vpn + "/client.key\"\r\n"), std::string::npos);
}

// A file that cannot be written is logged and reported; the next one is
// not attempted.
TEST(OvpnConfTest, AFileThatCannotBeWrittenStopsTheWriting) {
    TempDir temp;
    const std::string log = temp.path() + "/errors";
    Console::instance()->setOutput(LogError, text(log));
    const std::string missing = temp.path() + "/missing/velnor.ovpn";
    EXPECT_FALSE(OvpnManagementClient::writeConfFile(text(missing), "x"_s));

    SecureDirectory directory;
    ASSERT_EQ(directory.open(text(temp.path()), "vpn"_s), 0u);
    ASSERT_EQ(std::system(("mkdir '" + temp.path() + "/vpn/ca.crt'").c_str()), 0);
    OVpnManagementClientConfiguration conf;
    conf.setVpnDir(directory.path());
    EXPECT_FALSE(writeVpnFiles(directory, conf, "conf"_s));
    Console::instance()->setOutput(LogError, "stdout"_s);

    EXPECT_EQ(readFile(temp.path() + "/vpn/velnor.ovpn"), "conf");
    EXPECT_NE(access((temp.path() + "/vpn/client.crt").c_str(), F_OK), 0);
    const std::string errors = readFile(log);
    EXPECT_NE(errors.find("ERROR OvpnManagementClient.writeConfFile Error opening file" + missing + "\n"),
              std::string::npos);
    EXPECT_NE(errors.find("ERROR OvpnManagementClient.writeConfFile Error opening file" + temp.path() + "/vpn/ca.crt\n"),
              std::string::npos);
}

}  // namespace
