#include "base/io.h"
#include "base/selectconfig.h"
#include "base/socket2.h"
#include "base/socketio.h"
#include "logcapture.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

using namespace trivane;

namespace {

std::string str(const String& s) { return std::string(s.data(), s.length()); }

IMutex& noLock() { return NoMutex::instance(); }

// A listening stream on the loopback address of one family, and a client
// connected to it with the server's side accepted.
struct Loopback {
    explicit Loopback(const char* listenText) { server.listen(SocketAddress(String(listenText)), true, 5, String()); }

    SocketAddress address() {
        SocketAddress bound;
        server.localAddress(bound);
        return bound;
    }

    void connect() {
        client = gc::Pointer<SocketIO>(new SocketIO());
        client->connect(address(), 2000, noLock(), String());
        accepted = server.accept(2000, noLock());
        ASSERT_TRUE(accepted);
    }

    SocketIO server;
    gc::Pointer<SocketIO> client;
    gc::Pointer<IO> accepted;
};

class SocketFamilyTest : public ::testing::TestWithParam<const char*> {};

INSTANTIATE_TEST_SUITE_P(Loopback, SocketFamilyTest, ::testing::Values("127.0.0.1:0", "[::1]:0"));

TEST_P(SocketFamilyTest, AcceptWithoutAClientReturnsNullAfterTheTimeout) {
    Loopback net(GetParam());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(net.server.accept(300, noLock()));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(290));
    EXPECT_LT(elapsed, std::chrono::seconds(10));
    EXPECT_TRUE(net.server.isValid());
}

TEST_P(SocketFamilyTest, AnAcceptedStreamCarriesTheDefaults) {
    Loopback net(GetParam());
    net.connect();
    Socket& accepted = static_cast<SocketIO&>(*net.accepted).socket();
    EXPECT_EQ(accepted.recvTimeout(), 90000u);
    EXPECT_EQ(accepted.sendTimeout(), 90000u);
    EXPECT_TRUE(accepted.noDelay());
    EXPECT_EQ(accepted.systemRecvTimeout(), 90000);
    EXPECT_EQ(accepted.systemSendTimeout(), 90000);
    EXPECT_EQ(accepted.systemNoDelay(), 1);
    EXPECT_EQ(net.server.socket().systemRecvTimeout(), 90000);
    EXPECT_EQ(net.accepted->protocol(), 0);
    EXPECT_EQ(str(protocolName(*net.accepted)), "TCP");
}

TEST_P(SocketFamilyTest, BytesCrossInBothDirections) {
    Loopback net(GetParam());
    net.connect();
    net.client->writeAll(Memory("GET / HTTP/1.1\r\nHost: x\r\n\r\nbody"_s), noLock());
    String line;
    net.accepted->readLine(line, 100, noLock());
    EXPECT_EQ(str(line), "GET / HTTP/1.1");
    String header;
    EXPECT_TRUE(net.accepted->readUntil(header, "\r\n\r\n"_s, 1000, noLock()));
    EXPECT_EQ(str(header), "Host: x\r\n\r\n");
    String body;
    net.accepted->readString(body, 4, noLock());
    EXPECT_EQ(str(body), "body");

    net.accepted->writeAll(Memory("reply"_s), noLock());
    char buffer[5];
    EXPECT_EQ(net.client->readFully(buffer, 5, noLock()), 5u);
    EXPECT_EQ(std::string(buffer, 5), "reply");
}

TEST_P(SocketFamilyTest, APeerThatClosesMakesTheStreamReadableAndTheReadThrow) {
    Loopback net(GetParam());
    net.connect();
    net.client->close();
    test::LogCapture logs;
    EXPECT_TRUE(net.accepted->waitReadable(2000, noLock()));
    char byte;
    try {
        net.accepted->read(&byte, 1, noLock());
        FAIL();
    } catch (const ESocketNullByteRecv& e) {
        EXPECT_EQ(str(e.message()), "ESocketNullByteRecv");
    }
    EXPECT_FALSE(net.accepted->isValid());
    EXPECT_EQ(logs.lines("TRACE Socket.recv Connection reset by peer"), 1);
}

TEST_P(SocketFamilyTest, AResetPeerRaisesConnectionResetWithItsCode) {
    Loopback net(GetParam());
    net.connect();
    net.client->setAbortiveClose();
    net.client->close();
    EXPECT_TRUE(net.accepted->waitReadable(2000, noLock()));
    char byte;
    try {
        net.accepted->read(&byte, 1, noLock());
        FAIL();
    } catch (const ESocketConnectionReset& e) {
        EXPECT_EQ(e.code(), 10054);
    }
}

TEST_P(SocketFamilyTest, ConnectWithATimeoutToAPortNobodyListensOnLeavesTheSocketClosed) {
    // A bound socket that never listens: the port is taken and refuses.
    Socket bound;
    bound.bind(SocketAddress(String(GetParam())), false);
    SocketIO client;
    test::LogCapture logs;
    EXPECT_THROW(client.connect(bound.localAddress(), 2000, noLock(), String()), ESocketConnectionReset);
    EXPECT_FALSE(client.isValid());
    EXPECT_EQ(logs.lines("TRACE Socket.connect unable to connect to server"), 1);
}

TEST_P(SocketFamilyTest, ABlockingConnectToAPortNobodyListensOnRaisesTheRefusal) {
    Socket bound;
    bound.bind(SocketAddress(String(GetParam())), false);
    SocketIO client;
    test::LogCapture logs;
    try {
        client.connect(bound.localAddress(), 0, noLock(), String());
        FAIL();
    } catch (const ESocket& e) {
        EXPECT_EQ(e.code(), 10061);
    }
    EXPECT_FALSE(client.isValid());
    EXPECT_EQ(logs.lines("error not registered: 10061"), 1);
}

TEST_P(SocketFamilyTest, AReadTimeoutRaisesTheTimedOutCode) {
    Loopback net(GetParam());
    net.connect();
    net.accepted->setReadTimeout(200);
    char byte;
    try {
        net.accepted->read(&byte, 1, noLock());
        FAIL();
    } catch (const ESocket& e) {
        EXPECT_EQ(e.code(), 10060);
    }
    EXPECT_TRUE(net.accepted->isValid());
}

TEST_P(SocketFamilyTest, DatagramsCarryTheirSenderAddress) {
    Socket receiver, sender;
    receiver.setType(Socket::Udp);
    sender.setType(Socket::Udp);
    receiver.bind(SocketAddress(String(GetParam())), true);
    sender.bind(SocketAddress(String(GetParam())), true);
    EXPECT_EQ(sender.sendto("ping", 4, receiver.localAddress(), noLock()), 4);
    SelectFlags flags;
    flags.readable = true;
    receiver.wait(flags, 2000, noLock());
    ASSERT_TRUE(flags.readable);
    char buffer[16];
    SocketAddress from;
    EXPECT_EQ(receiver.recvfrom(buffer, sizeof buffer, from, noLock()), 4);
    EXPECT_EQ(std::string(buffer, 4), "ping");
    EXPECT_EQ(str(from.text()), str(sender.localAddress().text()));
    EXPECT_GE(SocketCounters::instance().udp.load(), 2);
}

TEST(SocketTest, LookupFailuresAreLoggedAndThrown) {
    struct Case {
        const char* host;
        const char* port;
        const char* line;
    } cases[] = {
        {"", "80", "ERROR Socket.DNSLookup ip is empty"},
        {"localhost", "", "ERROR Socket.DNSLookup port is empty"},
        {"no such host.invalid", "80", "ERROR Socket.DNSLookup getaddrinfo() "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        test::LogCapture logs;
        SocketAddress address;
        address.set(3, String(c.host), String(c.port));
        Socket s;
        EXPECT_THROW(s.connect(address, 100, noLock()), ESocketLookupFailed);
        EXPECT_THROW(s.bind(address, true), ESocketLookupFailed);
        EXPECT_EQ(logs.lines(c.line), 2);
        EXPECT_FALSE(s.isValid());
    }
}

TEST(SocketTest, AnAddressInUseIsRaisedAndLeavesTheSocketClosed) {
    SocketIO first;
    first.listen(SocketAddress("127.0.0.1:0"_s), false, 5, String());
    SocketAddress taken;
    first.localAddress(taken);
    Socket second;
    EXPECT_THROW(second.bind(taken, false), ESocketAddressInUse);
    EXPECT_FALSE(second.isValid());
}

TEST(SocketTest, AZeroReceiveTimeoutKeepsTheSystemDefault) {
    Socket s;
    s.setRecvTimeout(0);
    s.bind(SocketAddress("127.0.0.1:0"_s), true);
    EXPECT_EQ(s.systemRecvTimeout(), 0);
    s.setRecvTimeout(1500);
    EXPECT_EQ(s.systemRecvTimeout(), 1500);
    s.close();
}

TEST(SocketTest, DestroyingAnOpenSocketLogsItButAStreamDoesNot) {
    test::LogCapture logs;
    {
        SocketIO stream;
        stream.listen(SocketAddress("127.0.0.1:0"_s), true, 5, String());
    }
    EXPECT_EQ(logs.lines("the socket is still valid!"), 0);
    {
        Socket s;
        s.bind(SocketAddress("127.0.0.1:0"_s), true);
    }
    EXPECT_EQ(logs.lines("TRACE Socket.~Socket the socket is still valid!"), 1);
}

// Each test is a process of its own under CTest: this one's socket is the
// only one alive.
TEST(SocketTest, CountersAreLoggedWhenTheTcpCountIsAMultipleOfFifty) {
    test::LogCapture logs;
    {
        SocketIO stream;
        stream.listen(SocketAddress("127.0.0.1:0"_s), true, 5, String());
        EXPECT_GE(SocketCounters::instance().tcp.load(), 1);
        stream.close();
    }
    EXPECT_GE(logs.lines("TRACE Socket.incrCounters 0 UDP, 0 TCP, "), 1);
}

TEST(SocketTest, ASelectWaitSplitsItsTimeoutIntoSecondsAndMicroseconds) {
    Loopback net("127.0.0.1:0");
    // A pending client makes the listener readable: the wait returns at once.
    SocketIO client;
    client.connect(net.address(), 2000, noLock(), String());
    Select1 selector(net.server.socket());
    SelectFlags flags;
    flags.readable = true;
    selector.prepare(flags);
    EXPECT_EQ(selector.wait(flags, 1500), 1);
    EXPECT_EQ(selector.timeoutSeconds(), 1);
    EXPECT_EQ(selector.timeoutMicroseconds(), 500000);
    selector.result(flags);
    EXPECT_TRUE(flags.readable);
}

// Fills the descriptor numbers below `floor` so that the next socket gets a
// number above it; released when the holder goes.
class HighDescriptors {
public:
    explicit HighDescriptors(int floor) {
        rlimit limit;
        getrlimit(RLIMIT_NOFILE, &limit);
        if (limit.rlim_cur < static_cast<rlim_t>(floor) + 64) {
            limit.rlim_cur = static_cast<rlim_t>(floor) + 64;
            if (limit.rlim_max < limit.rlim_cur) limit.rlim_max = limit.rlim_cur;
            setrlimit(RLIMIT_NOFILE, &limit);
        }
        for (;;) {
            const int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
            if (fd < 0) break;
            m_fds.push_back(fd);
            if (fd >= floor) break;
        }
    }
    ~HighDescriptors() {
        for (int fd : m_fds) ::close(fd);
    }

private:
    std::vector<int> m_fds;
};

TEST(SocketTest, PollWaitsOnADescriptorAboveTheSelectLimit) {
    HighDescriptors fill(1100);
    Loopback net("127.0.0.1:0");
    net.connect();
    ASSERT_GT(net.accepted->handle(), 1024);
    EXPECT_FALSE(net.accepted->waitReadable(50, noLock()));
    net.client->writeAll(Memory("x"_s), noLock());
    EXPECT_TRUE(net.accepted->waitReadable(2000, noLock()));
}

TEST(SocketTest, SelectRefusesADescriptorItsSetsCannotHold) {
    HighDescriptors fill(1100);
    Loopback net("127.0.0.1:0");
    SocketIO client;
    client.connect(net.address(), 2000, noLock(), String());
    // Only the accepted stream waits with select().
    SelectConfig::instance().setMethod(SelectMethod::Select);
    gc::Pointer<IO> accepted = net.server.accept(2000, noLock());
    ASSERT_TRUE(accepted);
    ASSERT_GT(accepted->handle(), 1024);
    test::LogCapture logs;
    try {
        accepted->waitReadable(50, noLock());
        FAIL();
    } catch (const ESocketInvalid& e) {
        EXPECT_EQ(e.code(), 10022);
    }
    EXPECT_EQ(logs.lines("TRACE Socket.select poll error"), 1);
    SelectConfig::instance().setMethod(SelectMethod::Poll);
}

TEST(SocketTest, SelectStillServesLowDescriptors) {
    SelectConfig::instance().setMethod(SelectMethod::Select);
    Loopback net("127.0.0.1:0");
    net.connect();
    EXPECT_FALSE(net.accepted->waitReadable(50, noLock()));
    net.client->writeAll(Memory("x"_s), noLock());
    EXPECT_TRUE(net.accepted->waitReadable(2000, noLock()));
    SelectConfig::instance().setMethod(SelectMethod::Poll);
}

}  // namespace
