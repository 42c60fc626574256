// The management client driving Debian's real OpenVPN client, which a
// stand-in daemon starts through "startVpn", against a real OpenVPN server
// on loopback with a tun device.
#include "tunnel/ovpnmanagementclient.h"

#include "base/logcapture.h"
#include "openvpnserver.h"
#include "xmlrpc/client.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

using namespace trivane;
using namespace trivane::tunnel;
using namespace mgmttest;

namespace {

// Blank, quotes and a backslash: mangled unless quoted for OpenVPN's parser.
const char* const password = "p w \"q\" \\ 'x'";

class ManagementClientOpenVpnTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(access(openvpnPath, X_OK), 0) << "scripts/setup.sh installs OpenVPN";
        const std::string why = tunUnusable();
        if (!why.empty()) GTEST_SKIP() << "the tunnel test needs a tun device: " << why;
        char pattern[] = "/tmp/mgmt_openvpn_test.XXXXXX";
        temp = std::string(mkdtemp(pattern)) + "/";
        server = std::make_unique<OpenVpnServer>(temp, password);
        std::string log;
        ASSERT_TRUE(server->start(log)) << log;
        managementAddress = "127.0.0.1:" + std::to_string(freePort());
        daemon = std::make_unique<StandInDaemon>(temp, managementAddress);
    }
    void TearDown() override {
        // The client is destroyed later on the recycle thread: end its thread
        // now, while the listener and the stand-in daemon still exist.
        if (client) {
            client->requestStop();
            client->wait(15000);
        }
        client = nullptr;
        daemon.reset();
        server.reset();
        if (!temp.empty()) std::system(("rm -rf '" + temp + "'").c_str());
    }

    // "startVpn" over the pipe, then the client on OpenVPN's management port.
    void startVpn(const char* pass) {
        Array<xmlrpc::Value> params;
        for (const std::string& p : {server->remote(), std::string("session-42"), std::string(), server->remote(),
                                     server->remote()})
            params.append(xmlrpc::Value(String(p.c_str())));
        const xmlrpc::Value result =
            xmlrpc::NamedPipeClient("gate_admin_daemon"_s).execute("startVpn"_s, xmlrpc::Value(params), 5000);
        ASSERT_FALSE(result.isFault());
        OVpnManagementClientConfiguration conf;
        trivane::testing::MapReader reader(trivane::testing::Members{{"managedhost", managementAddress}});
        conf.loadConf(reader);
        client = new OvpnManagementClient(conf);
        ASSERT_TRUE(client->setCredentials("tester"_s, String(pass)));
        client->setSessionId("session-42"_s);
        client->setFallbackAddress("127.0.0.1:1"_s);
        client->addListener(&events);
        // OpenVPN opens its management port a moment after it starts.
        const auto end = Clock::now() + std::chrono::seconds(20);
        for (;;) {
            try {
                client->connect(1000);
                break;
            } catch (const IOException&) {
                ASSERT_LT(Clock::now(), end) << readFile(daemon->logPath());
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        }
        client->start();
    }

    test::LogCapture logs;
    pipetest::PipeDir pipeDir;
    std::string temp;
    std::string managementAddress;
    std::unique_ptr<OpenVpnServer> server;
    std::unique_ptr<StandInDaemon> daemon;
    EventLog events;
    gc::Pointer<OvpnManagementClient> client;
};

TEST_F(ManagementClientOpenVpnTest, ReleasesTheHoldLogsInAndReportsThePushedAddress) {
    startVpn(password);
    const std::string connected = "connected " + server->firstClientAddress();
    ASSERT_TRUE(events.waitFor(connected, 60)) << readFile(daemon->logPath()) << server->log();
    EXPECT_EQ(client->state(), OvpnManagementClient::Connected);
    EXPECT_EQ(str(client->vpnAddress()), server->firstClientAddress());
    const std::vector<std::string> seen = events.events();
    const auto authenticating = std::find(seen.begin(), seen.end(), "authenticating");
    EXPECT_EQ(seen.front(), "started");
    EXPECT_TRUE(authenticating != seen.end() && authenticating < std::find(seen.begin(), seen.end(), connected));
    EXPECT_NE(logs.text().find("got version"), std::string::npos);

    client->requestStop();
    ASSERT_TRUE(events.waitFor("stopped", 20));
    EXPECT_TRUE(daemon->waitForCall("stop session-42,10000"));
    EXPECT_TRUE(daemon->waitForExit(10000));
    EXPECT_EQ(daemon->calls().front(),
              "start session-42," + server->remote() + ",," + server->remote() + "," + server->remote());
}

TEST_F(ManagementClientOpenVpnTest, WrongPasswordReportsAuthFailedAndStops) {
    startVpn("p w \"q\" \\ 'y'");
    ASSERT_TRUE(events.waitFor("auth failed", 60)) << readFile(daemon->logPath()) << server->log();
    ASSERT_TRUE(events.waitFor("stopped", 20));
    EXPECT_EQ(client->state(), OvpnManagementClient::AuthFailed);
    EXPECT_TRUE(daemon->waitForCall("stop session-42,10000"));
    EXPECT_TRUE(daemon->waitForExit(10000));
    const std::vector<std::string> seen = events.events();
    EXPECT_TRUE(std::none_of(seen.begin(), seen.end(), [](const std::string& e) { return e.rfind("connected", 0) == 0; }));
}

}  // namespace
