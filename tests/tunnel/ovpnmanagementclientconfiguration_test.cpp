#include "tunnel/ovpnmanagementclientconfiguration.h"

#include "base/confhelper.h"
#include "base/console.h"
#include "base/exception.h"
#include "base/process.h"
#include "base/securedir.h"
#include "base/testutil.h"
#include "confreader.h"
#include "support/platform.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>


using namespace trivane;
using namespace trivane::tunnel;

namespace {

using trivane::testing::str;
using trivane::testing::MapReader;
using trivane::testing::Members;

// The ERROR lines logged while it lives.
class ErrorLog {
public:
    ErrorLog() : m_path(m_dir.path("errors.log")) {
        Console::instance()->setOutput(LogError, String(m_path.c_str()));
    }
    ~ErrorLog() { Console::instance()->setOutput(LogError, "stdout"_s); }
    std::string text() const {
        std::ifstream in(m_path);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

private:
    testutil::ScratchDir m_dir;
    std::string m_path;
};

void expectDefaultsExceptKey(const OVpnManagementClientConfiguration& conf) {
    const OVpnManagementClientConfiguration defaults;
    EXPECT_EQ(str(conf.caCrt()), str(defaults.caCrt()));
    EXPECT_EQ(str(conf.clientCrt()), str(defaults.clientCrt()));
    EXPECT_EQ(str(conf.vpnDir()), "");
    EXPECT_EQ(str(conf.managedHost()), "127.0.0.1:1195");
    EXPECT_EQ(str(conf.linuxCmd()), "pkexec openvpn %c");
}

TEST(OVpnManagementClientConfigurationTest, DefaultsAndPaths) {
    OVpnManagementClientConfiguration conf;
    EXPECT_EQ(str(conf.confFilePath()), "velnor.ovpn");
    EXPECT_EQ(str(conf.managedHost()), "127.0.0.1:1195");
    EXPECT_EQ(str(conf.linuxCmd()), "pkexec openvpn %c");
    conf.setVpnDir("C:\\Temp\\Velnor\\AdminDaemon\\VPN\\alice_CORP\\"_s);
    const std::string dir = "C:\\Temp\\Velnor\\AdminDaemon\\VPN\\alice_CORP\\";
    EXPECT_EQ(str(conf.confFilePath()), dir + "velnor.ovpn");
    EXPECT_EQ(str(conf.caFilePath()), dir + "ca.crt");
    EXPECT_EQ(str(conf.certFilePath()), dir + "client.crt");
    EXPECT_EQ(str(conf.keyFilePath()), dir + "client.key");
    EXPECT_EQ(str(conf.logFilePath()), dir + "openvpn.log");
}

TEST(OVpnManagementClientConfigurationTest, ACopyIsIndependent) {
    OVpnManagementClientConfiguration source;
    source.setVpnDir("/a/"_s);
    OVpnManagementClientConfiguration copy(source);
    copy.setVpnDir("/b/"_s);
    EXPECT_EQ(str(source.confFilePath()), "/a/velnor.ovpn");
    EXPECT_EQ(str(copy.confFilePath()), "/b/velnor.ovpn");
    EXPECT_EQ(str(copy.clientKey()), str(source.clientKey()));
}

// Each PEM text: one block of the given label, CR LF line ends, base64
// lines of 64 characters but the last.
TEST(OVpnManagementClientConfigurationTest, BuiltInPemTextsHaveTheirForm) {
    const OVpnManagementClientConfiguration conf;
    const std::vector<std::pair<std::string, std::string>> texts = {
        {str(conf.caCrt()), "CERTIFICATE"}, {str(conf.clientCrt()), "CERTIFICATE"}, {str(conf.clientKey()), "PRIVATE KEY"}};
    for (const auto& [pem, label] : texts) {
        SCOPED_TRACE(label);
        std::vector<std::string> lines;
        size_t start = 0;
        for (size_t end; (end = pem.find("\r\n", start)) != std::string::npos; start = end + 2)
            lines.push_back(pem.substr(start, end - start));
        EXPECT_EQ(start, pem.size()) << "text after the last CR LF";
        EXPECT_EQ(pem.find('\n'), pem.find("\r\n") + 1);
        ASSERT_GE(lines.size(), 3u);
        EXPECT_EQ(lines.front(), "-----BEGIN " + label + "-----");
        EXPECT_EQ(lines.back(), "-----END " + label + "-----");
        for (size_t i = 1; i + 2 < lines.size(); ++i) EXPECT_EQ(lines[i].size(), 64u) << "line " << i;
        EXPECT_LE(lines[lines.size() - 2].size(), 64u);
        EXPECT_EQ(std::count(pem.begin(), pem.end(), '\n'), std::count(pem.begin(), pem.end(), '\r'));
    }
}

// openssl itself checks that the CA signed the client certificate and the
// server certificate kept beside the tests, and that the key is the
// client's.
TEST(OVpnManagementClientConfigurationTest, BuiltInCredentialsBelongTogether) {
    if (test::windowsTarget) GTEST_SKIP() << "the check runs openssl through /bin/sh, which Windows lacks";
    const testutil::ScratchDir scratch;
    const std::string dir = scratch.path();
    SecureDirectory directory;
    ASSERT_EQ(directory.open(String(dir.c_str()), ""_s), 0u);
    const OVpnManagementClientConfiguration conf;
    ASSERT_EQ(directory.writeFile("ca.crt"_s, conf.caCrt()), 0u);
    ASSERT_EQ(directory.writeFile("client.crt"_s, conf.clientCrt()), 0u);
    ASSERT_EQ(directory.writeFile("client.key"_s, conf.clientKey()), 0u);
    const std::string data = TRIVANE_TUNNEL_TEST_DATA;
    const std::string script =
        "cd '" + dir + "' && openssl verify -CAfile ca.crt client.crt '" + data + "/server.crt' >/dev/null && "
        "openssl x509 -in client.crt -noout -pubkey > cert.pub && openssl pkey -in client.key -pubout > key.pub && "
        "cmp -s cert.pub key.pub && "
        "openssl pkey -in client.key -noout -text | grep -q 'Private-Key' && "
        "grep -q 'BEGIN PRIVATE KEY' client.key";
    Process check;
    ASSERT_EQ(check.start("/bin/sh"_s, String(("sh -c \"" + script + "\"").c_str())), 0u);
    ASSERT_TRUE(check.wait(30000));
    EXPECT_EQ(check.exitCode(), 0);
}

TEST(OVpnManagementClientConfigurationTest, LoadingOnlyTheClientKeyChangesNothingElse) {
    MapReader reader(Members{{"clientkey", "KEY"}});
    OVpnManagementClientConfiguration conf;
    conf.loadConf(reader);
    EXPECT_EQ(str(conf.clientKey()), "KEY");
    expectDefaultsExceptKey(conf);
}

TEST(OVpnManagementClientConfigurationTest, LoadingEveryKey) {
    MapReader reader(Members{{"cacrt", "CA"}, {"clientcrt", "CRT"}, {"clientkey", "KEY"}, {"vpndir", "/v/"},
                      {"managedhost", "localhost:7505"}, {"linuxcmd", "openvpn %c"}});
    OVpnManagementClientConfiguration conf;
    conf.loadConf(reader);
    EXPECT_EQ(str(conf.caCrt()), "CA");
    EXPECT_EQ(str(conf.clientCrt()), "CRT");
    EXPECT_EQ(str(conf.clientKey()), "KEY");
    EXPECT_EQ(str(conf.keyFilePath()), "/v/client.key");
    EXPECT_EQ(str(conf.managedHost()), "localhost:7505");
    EXPECT_EQ(str(conf.linuxCmd()), "openvpn %c");
    EXPECT_EQ(reader.fetched,
              (std::vector<std::string>{"cacrt", "clientcrt", "clientkey", "vpndir", "managedhost", "linuxcmd"}));
}

TEST(OVpnManagementClientConfigurationTest, ManagementAddressNeedsAUsablePort) {
    const std::vector<std::pair<std::string, bool>> cases = {
        {"127.0.0.1:1195", true}, {"127.0.0.1:00", true},  {"host:0:extra", false}, {"host:1195:extra", true},
        {"[::1]:1195", true},     {"127.0.0.1:0", false},  {"127.0.0.1", false},    {"127.0.0.1:", false},
        {"host::x", false},       {"[]:1195", false},      {"[::1]", false},        {"a[b:1", false},
        {":1195", true},
    };
    for (const auto& [address, accepted] : cases) {
        SCOPED_TRACE(address);
        EXPECT_EQ(isUsableManagementAddress(String(address.c_str())), accepted);
        MapReader reader(Members{{"vpndir", "/v/"}, {"managedhost", address}, {"linuxcmd", "x"}});
        OVpnManagementClientConfiguration conf;
        if (accepted) {
            conf.loadConf(reader);
            EXPECT_EQ(str(conf.linuxCmd()), "x");
        } else {
            try {
                conf.loadConf(reader);
                ADD_FAILURE() << "accepted";
            } catch (const EConfBadValue& e) {
                EXPECT_EQ(str(e.message()), "EConfBadValue");
                EXPECT_EQ(str(e.file()), "ovpnmanagementclientconfiguration");
            }
            // What was read before stays, the rejected text is kept, the rest is not read.
            EXPECT_EQ(str(conf.vpnDir()), "/v/");
            EXPECT_EQ(str(conf.linuxCmd()), "pkexec openvpn %c");
        }
        EXPECT_EQ(str(conf.managedHost()), address);
    }
}

TEST(OVpnManagementClientConfigurationTest, UnreadableKeyIsLoggedAndSkipped) {
    ErrorLog errors;
    MapReader reader(Members{{"clientcrt", "CRT"}, {"vpndir", "/v/"}}, "clientcrt");
    OVpnManagementClientConfiguration conf;
    conf.loadConf(reader);
    EXPECT_EQ(str(conf.clientCrt()), str(OVpnManagementClientConfiguration().clientCrt()));
    EXPECT_EQ(str(conf.vpnDir()), "/v/");
    EXPECT_NE(errors.text().find("ERROR ConfReadHelper.readKey Error while reading key: \"clientcrt\"\n"),
              std::string::npos);
}

TEST(OVpnManagementClientConfigurationTest, StreamsAreNotImplemented) {
    struct NoReader : IReader {
        void read(void*, uint32_t) override { ADD_FAILURE() << "read"; }
    } reader;
    struct NoWriter : IWriter, IConfWriter {
        void write(const void*, uint32_t) override { ADD_FAILURE() << "write"; }
        IConfWriter& member(const String&) override { return *this; }
        void writeInt(int32_t) override {}
        void writeBool(bool) override {}
        void writeString(const String&) override { ADD_FAILURE() << "writeString"; }
    } writer;
    OVpnManagementClientConfiguration conf;
    EXPECT_THROW(conf.loadStream(reader), ENotImplemented);
    EXPECT_THROW(conf.saveConf(writer), ENotImplemented);
    EXPECT_THROW(conf.saveStream(writer), ENotImplemented);
}

TEST(ConfReadHelperTest, MandatoryAndOptionalKeys) {
    ErrorLog errors;
    MapReader reader(Members{{"present", "value"}, {"broken", "x"}}, "broken");
    String out = "untouched"_s;
    EXPECT_TRUE(ConfReadHelper::readKey(reader, "present", out, true));
    EXPECT_EQ(str(out), "value");
    out = "untouched"_s;
    EXPECT_FALSE(ConfReadHelper::readKey(reader, "absent", out, false));
    EXPECT_FALSE(ConfReadHelper::readKey(reader, "broken", out, false));
    EXPECT_EQ(str(out), "untouched");
    EXPECT_THROW(ConfReadHelper::readKey(reader, "absent", out, true), EConfMissingKey);
    EXPECT_THROW(ConfReadHelper::readKey(reader, "broken", out, true), EConfMissingKey);
    EXPECT_EQ(str(out), "untouched");
    const std::string log = errors.text();
    EXPECT_NE(log.find("ERROR ConfReadHelper.readKey Missing tag: <absent>\n"), std::string::npos);
    EXPECT_NE(log.find("ERROR ConfReadHelper.readKey Error while reading key: \"broken\"\n"), std::string::npos);
}

}  // namespace
