// The management client against a scripted peer on loopback TCP: the peer
// plays OpenVPN's side line by line and checks every line the client sends;
// "stopVpn" goes to XML-RPC servers on the daemon's pipe and on TCP.
#include "tunnel/ovpnmanagementclient.h"

#include "base/logcapture.h"
#include "confreader.h"
#include "managementsupport.h"
#include "support/pipedir.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

using namespace trivane;
using namespace trivane::tunnel;
using namespace mgmttest;
using trivane::testing::MapReader;
using trivane::testing::Members;

namespace {

// OpenVPN's end of the management connection: listens on a loopback port,
// accepts the client, sends lines and reads the client's lines.
class ScriptedPeer {
public:
    ScriptedPeer() {
        m_listener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(m_listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
        listen(m_listener, 1);
        socklen_t length = sizeof a;
        getsockname(m_listener, reinterpret_cast<sockaddr*>(&a), &length);
        m_port = ntohs(a.sin_port);
    }
    ~ScriptedPeer() {
        closeConnection();
        close(m_listener);
    }
    std::string address() const { return "127.0.0.1:" + std::to_string(m_port); }
    bool accept(int ms = 5000) {
        pollfd p{m_listener, POLLIN, 0};
        if (poll(&p, 1, ms) != 1) return false;
        m_socket = ::accept(m_listener, nullptr, nullptr);
        return m_socket >= 0;
    }
    void send(const std::string& text) {
        size_t done = 0;
        while (done < text.size()) {
            const ssize_t n = ::send(m_socket, text.data() + done, text.size() - done, MSG_NOSIGNAL);
            if (n <= 0) return;
            done += size_t(n);
        }
    }
    void line(const std::string& text) { send(text + "\r\n"); }
    // The client's next line without its LF, or "<none>" after `ms`.
    std::string next(int ms = 5000) {
        const auto end = Clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            const size_t lf = m_buffer.find('\n');
            if (lf != std::string::npos) {
                std::string l = m_buffer.substr(0, lf);
                m_buffer.erase(0, lf + 1);
                return l;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
            pollfd p{m_socket, POLLIN, 0};
            if (left <= 0 || poll(&p, 1, int(left)) != 1) return "<none>";
            char chunk[4096];
            const ssize_t n = recv(m_socket, chunk, sizeof chunk, 0);
            if (n <= 0) return "<closed>";
            m_buffer.append(chunk, size_t(n));
        }
    }
    void closeConnection() {
        if (m_socket >= 0) close(m_socket);
        m_socket = -1;
    }

private:
    int m_listener = -1;
    int m_socket = -1;
    int m_port = 0;
    std::string m_buffer;
};

OVpnManagementClientConfiguration configurationFor(const std::string& managementAddress) {
    OVpnManagementClientConfiguration conf;
    MapReader reader(Members{{"managedhost", managementAddress}});
    conf.loadConf(reader);
    return conf;
}

class ManagementClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        pipeServer.addMethod(&pipeStop);
        pipeServer.listen("gate_admin_daemon"_s, 3, pipetest::everyoneMayConnect());
        pipeRunner = std::make_unique<ServerRunner>(pipeServer);
        client = new OvpnManagementClient(configurationFor(peer.address()));
        client->setSessionId("session-7"_s);
        client->addListener(&events);
    }
    void TearDown() override {
        // The client is destroyed later on the recycle thread: end its thread
        // now, while the listener and the peers it talks to still exist.
        if (client) {
            client->requestStop();
            client->wait(15000);
        }
        client = nullptr;
        pipeRunner.reset();
    }
    // Connects, starts, and plays the peer's side up to the "hold off" line.
    void connectAndLogIn(const char* password = "secret") {
        ASSERT_TRUE(client->setCredentials("tester"_s, String(password)));
        client->connect(5000);
        client->start();
        ASSERT_TRUE(peer.accept());
        peer.line(">INFO:OpenVPN Management Interface Version 5 -- type 'help' for more info");
        peer.line(">HOLD:Waiting for hold release:0");
        ASSERT_EQ(peer.next(), "hold release");
        ASSERT_EQ(peer.next(), "state on");
        peer.line("SUCCESS: hold release succeeded");
        peer.line("SUCCESS: real-time state notification set to ON");
        peer.line(">PASSWORD:Need 'Auth' username/password");
        ASSERT_EQ(peer.next(), "username \"Auth\" tester");
        peer.line("SUCCESS: 'Auth' username entered, but not yet verified");
        ASSERT_EQ(peer.next(), "password \"Auth\" " + str(OvpnManagementClient::quoteArgument(String(password))));
    }

    test::LogCapture logs;
    pipetest::PipeDir pipeDir;
    ScriptedPeer peer;
    xmlrpc::NamedPipeServer pipeServer;
    StopVpnMethod pipeStop;
    std::unique_ptr<ServerRunner> pipeRunner;
    EventLog events;
    gc::Pointer<OvpnManagementClient> client;
};

TEST_F(ManagementClientTest, ExampleExchangeFromBannerToConnectedAndStop) {
    connectAndLogIn();
    EXPECT_EQ(client->state(), OvpnManagementClient::UserNameSent);
    peer.line("SUCCESS: 'Auth' password entered, but not yet verified");
    EXPECT_EQ(peer.next(), "hold off");
    peer.line("SUCCESS: hold flag set to OFF");
    peer.line(">STATE:1765400000,AUTH,,,,,,");
    ASSERT_TRUE(events.waitFor("authenticating"));
    // More than five fields: the last group takes the rest of the line.
    peer.line(">STATE:1765400001,CONNECTED,SUCCESS,10.8.0.6,127.0.0.1,1194,,,");
    ASSERT_TRUE(events.waitFor("connected 10.8.0.6"));
    EXPECT_EQ(client->state(), OvpnManagementClient::Connected);
    EXPECT_EQ(str(client->vpnAddress()), "10.8.0.6");
    EXPECT_EQ(str(client->authType()), "Auth");

    client->requestStop();
    EXPECT_EQ(peer.next(), "signal SIGTERM");
    ASSERT_TRUE(client->wait(10000));
    EXPECT_EQ(events.events(),
              (std::vector<std::string>{"started", "authenticating", "connected 10.8.0.6", "stopped"}));
    EXPECT_EQ(pipeStop.calls(), std::vector<std::string>{"session-7,10000"});
    const std::string log = logs.text();
    for (const char* expected : {"got version 5", "Auth: Auth", "Message: AUTH", "Status: SUCCESS", "IP: 10.8.0.6",
                                 "send SIGTERM to VPN Process", "VPN stop request sent to admin daemon"})
        EXPECT_NE(log.find(expected), std::string::npos) << expected;
    // The protocol lines received are logged as they came.
    EXPECT_NE(log.find(">HOLD:Waiting for hold release:0"), std::string::npos);
}

// Lines that must not trigger anything but the log: after each one the peer
// sends an AUTH state line, so the events show exactly what the line did.
TEST_F(ManagementClientTest, NotificationsAndRepliesThatOnlyLogOrReport) {
    struct Case {
        const char* line;
        const char* event;  // the event the line causes, or ""
        const char* logged;
    };
    const Case cases[] = {
        {">STATE:1,CONNECTED,ERROR,10.8.0.9,1.2.3.4", "", "Status: ERROR"},
        {">STATE:1,RECONNECTING,ping-restart,,", "reconnecting ping-restart", "Message: RECONNECTING"},
        {">STATE:1,WAIT,,,", "", "Message: WAIT"},
        {">STATE:no fields", "", ">STATE:no fields"},
        {">LOG:1,I,something", "", "Unhandled command line:>LOG:1,I,something"},
        {">PASSWORD:Verification Failed: 'Auth'", "", "Unhandled command line:>PASSWORD:Verification Failed"},
        {"SUCCESS: 'Auth' password entered, but not yet verified", "", "SUCCESS: 'Auth' password entered"},
        {"ERROR: unknown command, enter 'help' for more options", "", "ERROR: unknown command"},
        {"plain text", "", "plain text"},
        {"", "", ""},
    };
    ASSERT_TRUE(client->setCredentials("tester"_s, "secret"_s));
    client->connect(5000);
    client->start();
    ASSERT_TRUE(peer.accept());
    ASSERT_TRUE(events.waitFor("started"));
    size_t seen = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        peer.line(c.line);
        peer.line(">STATE:2,AUTH,,,");
        std::vector<std::string> expected = events.events();
        expected.resize(seen);
        if (*c.event) expected.push_back(c.event);
        expected.push_back("authenticating");
        events.waitForSize(expected.size());
        EXPECT_EQ(events.events(), expected);
        seen = expected.size();
        EXPECT_NE(logs.text().find(c.logged), std::string::npos) << c.logged;
    }
    EXPECT_EQ(client->state(), OvpnManagementClient::Started);
    EXPECT_EQ(str(client->vpnAddress()), "");
    // Nothing was sent for any of them.
    EXPECT_EQ(peer.next(200), "<none>");
}

TEST_F(ManagementClientTest, SecondPasswordRequestNamesTheAuthTypeAnswered) {
    ASSERT_TRUE(client->setCredentials("tester"_s, "secret"_s));
    client->connect(5000);
    client->start();
    ASSERT_TRUE(peer.accept());
    peer.line(">PASSWORD:Need 'Auth' username/password");
    EXPECT_EQ(peer.next(), "username \"Auth\" tester");
    peer.line(">PASSWORD:Need 'HTTP Proxy' username/password");
    EXPECT_EQ(peer.next(), "username \"HTTP Proxy\" tester");
    // The first auth type's reply no longer leads to a password.
    peer.line("SUCCESS: 'Auth' username entered, but not yet verified");
    peer.line("SUCCESS: 'HTTP Proxy' username entered, but not yet verified");
    EXPECT_EQ(peer.next(), "password \"HTTP Proxy\" secret");
    peer.line("SUCCESS: 'HTTP Proxy' password entered, but not yet verified");
    EXPECT_EQ(peer.next(), "hold off");
}

// The auth type is OpenVPN's text, taken literally inside the patterns.
TEST_F(ManagementClientTest, AuthTypeWithPatternCharactersIsTakenLiterally) {
    ASSERT_TRUE(client->setCredentials("tester"_s, "secret"_s));
    client->connect(5000);
    client->start();
    ASSERT_TRUE(peer.accept());
    peer.line(">PASSWORD:Need 'A.th (x)\\E+[\"' username/password");
    // Inside the command's quotes the backslash and the quote are escaped.
    EXPECT_EQ(peer.next(), "username \"A.th (x)\\\\E+[\\\"\" tester");
    peer.line("SUCCESS: 'Axth (x)\\E+[\"' username entered,");
    peer.line("SUCCESS: 'A.th x\\E+[\"' username entered,");
    peer.line("SUCCESS: 'A.th (x)\\E+[\"' username entered,");
    EXPECT_EQ(peer.next(), "password \"A.th (x)\\\\E+[\\\"\" secret");
    peer.line(">PASSWORD:Verification Failed: 'A.th (x)\\E+[\"'");
    ASSERT_TRUE(events.waitFor("auth failed"));
}

TEST_F(ManagementClientTest, RejectedPasswordReportsAuthFailedAndStops) {
    connectAndLogIn("p w \"q\" \\");
    peer.line(">PASSWORD:Verification Failed: 'Auth'");
    EXPECT_EQ(peer.next(), "signal SIGTERM");
    ASSERT_TRUE(client->wait(10000));
    EXPECT_EQ(client->state(), OvpnManagementClient::AuthFailed);
    EXPECT_FALSE(client->isRunning());
    EXPECT_EQ(events.events(), (std::vector<std::string>{"started", "auth failed", "stopped"}));
    EXPECT_EQ(pipeStop.calls(), std::vector<std::string>{"session-7,10000"});
}

TEST_F(ManagementClientTest, CredentialsAreQuotedForOpenVpnsParser) {
    struct Case {
        const char* value;
        const char* sent;
    };
    const Case cases[] = {
        {"tester", "tester"},
        {"p@ss:w0rd!", "p@ss:w0rd!"},
        {"\xc3\xa9t\xc3\xa9", "\xc3\xa9t\xc3\xa9"},
        {"two words", "\"two words\""},
        {"tab\there", "\"tab\there\""},
        {"say \"hi\"", "\"say \\\"hi\\\"\""},
        {"back\\slash", "\"back\\\\slash\""},
        {"it's", "\"it's\""},
        {"", "\"\""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(str(OvpnManagementClient::quoteArgument(String(c.value))), c.sent) << c.value;
}

TEST_F(ManagementClientTest, LineBreaksInCredentialsAreRefused) {
    ASSERT_TRUE(client->setCredentials("tester"_s, "secret"_s));
    for (const char* bad : {"a\nb", "a\rb", "\n"}) {
        EXPECT_FALSE(client->setCredentials(String(bad), "x"_s)) << bad;
        EXPECT_FALSE(client->setCredentials("x"_s, String(bad))) << bad;
    }
    // The accepted pair is kept.
    client->connect(5000);
    client->start();
    ASSERT_TRUE(peer.accept());
    peer.line(">PASSWORD:Need 'Auth' username/password");
    EXPECT_EQ(peer.next(), "username \"Auth\" tester");
    peer.line("SUCCESS: 'Auth' username entered, but not yet verified");
    EXPECT_EQ(peer.next(), "password \"Auth\" secret");
}

// The client's thread reads lines up to 1 MiB and applies its patterns to
// them; one byte more ends the loop through stop.
TEST_F(ManagementClientTest, LongestLineIsMatchedAndALongerOneStops) {
    client->connect(5000);
    client->start();
    ASSERT_TRUE(peer.accept());
    const std::string head = ">STATE:1,CONNECTED,SUCCESS,10.8.0.6,";
    peer.line(head + std::string(OvpnManagementClient::maxLineLength - head.size(), 'x'));
    ASSERT_TRUE(events.waitFor("connected 10.8.0.6", 60));
    peer.send(std::string(OvpnManagementClient::maxLineLength + 1, 'y'));
    EXPECT_EQ(peer.next(60000), "signal SIGTERM");
    ASSERT_TRUE(client->wait(60000));
    EXPECT_EQ(events.events().back(), "stopped");
}

TEST_F(ManagementClientTest, StalledLineDoesNotHoldOffAStop) {
    client->connect(5000);
    client->start();
    ASSERT_TRUE(peer.accept());
    // The thread handles the whole line, then waits in the unfinished one.
    peer.send(">STATE:1,AUTH,,,\r\n>STATE:1,CONNECTED,SUCC");
    ASSERT_TRUE(events.waitFor("authenticating"));
    client->requestStop();
    EXPECT_EQ(peer.next(int(OvpnManagementClient::lineTimeoutMs) + 5000), "signal SIGTERM");
    ASSERT_TRUE(client->wait(10000));
    EXPECT_EQ(events.events(), (std::vector<std::string>{"started", "authenticating", "stopped"}));
}

TEST_F(ManagementClientTest, PeerClosingTheConnectionStops) {
    client->connect(5000);
    client->start();
    ASSERT_TRUE(peer.accept());
    ASSERT_TRUE(events.waitFor("started"));
    peer.closeConnection();
    ASSERT_TRUE(events.waitFor("stopped"));
    EXPECT_EQ(pipeStop.calls(), std::vector<std::string>{"session-7,10000"});
}

TEST_F(ManagementClientTest, StopFromAnotherThreadRunsTheProcedureOnce) {
    client->connect(5000);
    client->start();
    ASSERT_TRUE(peer.accept());
    ASSERT_TRUE(events.waitFor("started"));
    client->stop();
    EXPECT_EQ(peer.next(), "signal SIGTERM");
    EXPECT_EQ(peer.next(300), "<none>");
    EXPECT_EQ(events.events(), (std::vector<std::string>{"started", "stopped"}));
    EXPECT_EQ(pipeStop.calls(), std::vector<std::string>{"session-7,10000"});
}

TEST_F(ManagementClientTest, StopRequestedRightAfterTheStartIsNotLost) {
    client->connect(5000);
    client->start();
    client->requestStop();
    ASSERT_TRUE(peer.accept());
    EXPECT_EQ(peer.next(), "signal SIGTERM");
    ASSERT_TRUE(client->wait(10000));
    EXPECT_EQ(events.events(), (std::vector<std::string>{"started", "stopped"}));
}

TEST_F(ManagementClientTest, DestroyingARunningClientStopsItsThread) {
    client->connect(5000);
    client->start();
    ASSERT_TRUE(peer.accept());
    ASSERT_TRUE(events.waitFor("started"));
    client = nullptr;
    EXPECT_EQ(peer.next(), "signal SIGTERM");
    ASSERT_TRUE(pipeStop.waitForCall());
    EXPECT_NE(logs.text().find("thread is running"), std::string::npos);
    // The listeners were let go first.
    EXPECT_EQ(events.events(), std::vector<std::string>{"started"});
    EXPECT_EQ(pipeStop.calls(), std::vector<std::string>{"session-7,10000"});
}

TEST_F(ManagementClientTest, ConnectWithoutPeerThrows) {
    gc::Pointer<OvpnManagementClient> lonely = new OvpnManagementClient(configurationFor("127.0.0.1:1"));
    EXPECT_THROW(lonely->connect(2000), IOException);
}

// Without a stream stop sends no SIGTERM but still asks the daemon: over its
// pipe, over HTTP only when the pipe call failed.
TEST(ManagementClientStopTest, WithoutStreamAsksThePipeThenTheFallBack) {
    struct Case {
        bool pipe;
        bool http;
        const char* pipeCalls;
        const char* httpCalls;
        bool successLogged;
    };
    const Case cases[] = {
        {true, true, "session-1,10000", "", true},
        {false, true, "", "session-1,10000", true},
        {false, false, "", "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.pipe) + std::to_string(c.http));
        test::LogCapture logs;
        pipetest::PipeDir pipeDir;
        xmlrpc::NamedPipeServer pipeServer;
        StopVpnMethod pipeStop, httpStop;
        TcpServer httpServer;
        pipeServer.addMethod(&pipeStop);
        httpServer.addMethod(&httpStop);
        if (c.pipe) pipeServer.listen("gate_admin_daemon"_s, 3, pipetest::everyoneMayConnect());
        const int port = httpServer.listen();
        std::unique_ptr<ServerRunner> pipeRunner, httpRunner;
        if (c.pipe) pipeRunner = std::make_unique<ServerRunner>(pipeServer);
        if (c.http) httpRunner = std::make_unique<ServerRunner>(httpServer);
        EventLog events;
        {
            gc::Pointer<OvpnManagementClient> client = new OvpnManagementClient(configurationFor("127.0.0.1:1195"));
            client->setSessionId("session-1"_s);
            // Nobody serves the fall-back port in the last case.
            client->setFallbackAddress(String(("127.0.0.1:" + std::to_string(c.http ? port : 1)).c_str()));
            client->addListener(&events);
            client->stop();
            EXPECT_EQ(events.events(), std::vector<std::string>{"stopped"});
        }
        const auto calls = [](StopVpnMethod& m) {
            const auto v = m.calls();
            return v.empty() ? std::string() : v.front();
        };
        EXPECT_EQ(calls(pipeStop), c.pipeCalls);
        EXPECT_EQ(calls(httpStop), c.httpCalls);
        const std::string log = logs.text();
        EXPECT_EQ(log.find("send SIGTERM"), std::string::npos);
        EXPECT_EQ(log.find("VPN stop request sent to admin daemon") != std::string::npos, c.successLogged);
    }
}

TEST(ManagementClientStopTest, ThrowingListenerDoesNotStopTheOthers) {
    struct Thrower : EventLog {
        void onStopped() override { TRIVANE_THROW(EBadItem); }
    } thrower;
    EventLog after;
    test::LogCapture logs;
    pipetest::PipeDir pipeDir;
    gc::Pointer<OvpnManagementClient> client = new OvpnManagementClient(configurationFor("127.0.0.1:1195"));
    client->setFallbackAddress("127.0.0.1:1"_s);
    client->addListener(&thrower);
    client->addListener(&after);
    client->stop();
    EXPECT_EQ(after.events(), std::vector<std::string>{"stopped"});
    EXPECT_NE(logs.text().find("EBadItem"), std::string::npos);
}

TEST(ManagementClientStopTest, ResetLetsGoOfListenersAndAuthType) {
    EventLog events;
    pipetest::PipeDir pipeDir;
    gc::Pointer<OvpnManagementClient> client = new OvpnManagementClient(configurationFor("127.0.0.1:1195"));
    client->setFallbackAddress("127.0.0.1:1"_s);
    EXPECT_EQ(client->state(), OvpnManagementClient::Idle);
    client->addListener(&events);
    client->reset();
    client->stop();
    EXPECT_TRUE(events.events().empty());
    EXPECT_EQ(client->state(), OvpnManagementClient::Idle);
}

}  // namespace
