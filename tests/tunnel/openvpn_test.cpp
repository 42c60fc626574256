// The written configuration against Debian's real OpenVPN: the client reads
// it, waits on its management interface, and a server holding a certificate
// of the built-in CA accepts the built-in client.
#include "base/process.h"
#include "base/securedir.h"
#include "confreader.h"
#include "tunnel/ovpnconf.h"
#include "tunnel/ovpnmanagementclientconfiguration.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace trivane;
using namespace trivane::tunnel;
using trivane::testing::MapReader;
using trivane::testing::Members;

namespace {

using Clock = std::chrono::steady_clock;

const char* const openvpn = "/usr/sbin/openvpn";

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// A loopback port nobody listens on at the moment.
int freePort() {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t length = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &length);
    close(s);
    return ntohs(a.sin_port);
}

bool waitForText(const std::string& path, const std::string& text, int seconds) {
    const auto end = Clock::now() + std::chrono::seconds(seconds);
    while (Clock::now() < end) {
        if (readFile(path).find(text) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

// A line-based connection to OpenVPN's management interface.
class Management {
public:
    bool connect(int port, int seconds) {
        const auto end = Clock::now() + std::chrono::seconds(seconds);
        while (Clock::now() < end) {
            m_socket = socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(static_cast<uint16_t>(port));
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (::connect(m_socket, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return true;
            close(m_socket);
            m_socket = -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }
    ~Management() {
        if (m_socket >= 0) close(m_socket);
    }
    // The next line without its CR LF; false when none came in time.
    bool readLine(std::string& line, Clock::time_point end) {
        for (;;) {
            const size_t lf = m_buffer.find('\n');
            if (lf != std::string::npos) {
                line = m_buffer.substr(0, lf);
                if (!line.empty() && line.back() == '\r') line.pop_back();
                m_buffer.erase(0, lf + 1);
                return true;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
            pollfd p{m_socket, POLLIN, 0};
            if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) return false;
            char chunk[4096];
            const ssize_t n = recv(m_socket, chunk, sizeof chunk, 0);
            if (n <= 0) return false;
            m_buffer.append(chunk, static_cast<size_t>(n));
        }
    }
    void send(const std::string& line) { ::send(m_socket, line.data(), line.size(), MSG_NOSIGNAL); }

private:
    int m_socket = -1;
    std::string m_buffer;
};

class OpenVpnTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(access(openvpn, X_OK), 0) << "scripts/setup.sh installs OpenVPN";
        char pattern[] = "/tmp/openvpn_test.XXXXXX";
        temp = mkdtemp(pattern);
    }
    void TearDown() override {
        client.terminate();
        server.terminate();
        std::system(("rm -rf '" + temp + "'").c_str());
    }
    std::string temp;
    Process server, client;
};

TEST_F(OpenVpnTest, ServerOfTheBuiltInCaAcceptsTheBuiltInClient) {
    const int serverPort = freePort(), managementPort = freePort();
    const std::string data = TRIVANE_TUNNEL_TEST_DATA;
    const std::string serverConf = temp + "/server.conf", serverLog = temp + "/server.log";
    std::ofstream(serverConf) << "dev null\nproto tcp-server\nlocal 127.0.0.1\nport " << serverPort
                              << "\ntls-server\nca " << data << "/ca.crt\ncert " << data << "/server.crt\nkey "
                              << data << "/server.key\ndh " << data
                              << "/dh.pem\nverify-client-cert require\nverb 3\nlog " << serverLog << "\n";
    ASSERT_EQ(server.start(String(openvpn), String(("openvpn --config \"" + serverConf + "\"").c_str())), 0u);
    ASSERT_TRUE(waitForText(serverLog, "Listening for incoming TCP connection", 20)) << readFile(serverLog);

    SecureDirectory directory;
    ASSERT_EQ(directory.open(String((temp + "/").c_str()), vpnSubdirectory("tester@host"_s)), 0u);
    OVpnManagementClientConfiguration conf;
    MapReader reader(Members{{"managedhost", "127.0.0.1:" + std::to_string(managementPort)}});
    conf.loadConf(reader);
    conf.setVpnDir(directory.path());
    bool converted = false;
    const String text = buildConfText(conf, String(("127.0.0.1:" + std::to_string(serverPort)).c_str()), ""_s,
                                      ""_s, ""_s, converted);
    ASSERT_TRUE(converted);
    ASSERT_TRUE(writeVpnFiles(directory, conf, text));
    ASSERT_EQ(client.start(String(openvpn), "\""_s + openvpn + "\" --config \"" + conf.confFilePath() + "\""), 0u);

    Management management;
    ASSERT_TRUE(management.connect(managementPort, 20));
    const auto end = Clock::now() + std::chrono::seconds(30);
    std::string line;
    ASSERT_TRUE(management.readLine(line, end));
    EXPECT_EQ(line.rfind(">INFO:OpenVPN Management Interface Version", 0), 0u) << line;
    const std::string clientLog = trivane::testing::str(conf.logFilePath());
    bool released = false;
    while (Clock::now() < end && readFile(clientLog).find("Peer Connection Initiated") == std::string::npos) {
        if (!management.readLine(line, std::min(end, Clock::now() + std::chrono::milliseconds(100)))) continue;
        if (line.rfind(">HOLD:Waiting for hold release", 0) == 0 && !released) {
            management.send("hold release\n");
            released = true;
        } else if (line == ">PASSWORD:Need 'Auth' username/password") {
            management.send("username \"Auth\" tester\npassword \"Auth\" secret\n");
        }
    }
    EXPECT_TRUE(released);
    EXPECT_TRUE(waitForText(clientLog, "[velnor-server] Peer Connection Initiated", 10)) << readFile(clientLog);
    EXPECT_TRUE(waitForText(serverLog, "[velnor-client] Peer Connection Initiated", 10)) << readFile(serverLog);

    EXPECT_EQ(client.terminate(), 0u);
    EXPECT_TRUE(client.wait(5000));
}

}  // namespace
