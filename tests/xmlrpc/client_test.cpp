// The XML-RPC client against canned peers on loopback TCP and against the
// toolkit's own server on a pipe: the request bytes and the results table.
#include "xmlrpc/client.h"

#include "base/logcapture.h"
#include "pipeclient.h"
#include "xmlrpc/namedpipeserver.h"
#include "xmlrpc/xml.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <cstring>
#include <thread>

using namespace trivane;
using namespace trivane::xmlrpc;
using namespace pipetest;

namespace {

// Accepts one TCP connection, records the whole request and answers it with
// fixed bytes (or, when `answer` is false, holds the connection silently
// until destroyed).
class CannedServer {
public:
    explicit CannedServer(std::string reply, const char* host = "127.0.0.1", int port = 0, bool answer = true)
        : m_reply(std::move(reply)), m_answer(answer) {
        m_listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        inet_pton(AF_INET, host, &address.sin_addr);
        if (bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(m_listener, 4) != 0)
            return;
        socklen_t length = sizeof address;
        getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { serve(); });
    }
    ~CannedServer() {
        m_release = true;
        shutdown(m_listener, SHUT_RDWR);
        if (m_thread.joinable()) m_thread.join();
        close(m_listener);
    }
    int port() const { return m_port; }
    std::string address() const { return "127.0.0.1:" + std::to_string(m_port); }
    // The request, once the client has had its answer.
    std::string request() {
        if (m_thread.joinable() && m_answer) m_thread.join();
        return m_request;
    }

private:
    void serve() {
        const int s = accept(m_listener, nullptr, nullptr);
        if (s < 0) return;
        char buffer[65536];
        size_t need = std::string::npos;
        while (m_request.size() < need) {
            const ssize_t n = recv(s, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            m_request.append(buffer, static_cast<size_t>(n));
            const size_t blank = m_request.find("\r\n\r\n");
            const size_t field = m_request.find("Content-length: ");
            if (blank != std::string::npos && field != std::string::npos)
                need = blank + 4 + std::stoul(m_request.substr(field + 16));
        }
        if (m_answer) {
            send(s, m_reply.data(), m_reply.size(), MSG_NOSIGNAL);
        } else {
            while (!m_release) usleep(5000);
        }
        close(s);
    }

    std::string m_reply;
    bool m_answer;
    std::atomic<bool> m_release{false};
    int m_listener = -1;
    int m_port = 0;
    std::string m_request;
    std::thread m_thread;
};

std::string response(const std::string& body, const std::string& status = "200 OK", bool withLength = true) {
    std::string header = "HTTP/1.1 " + status + "\r\nContent-Type: text/xml\r\n";
    if (withLength) header += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    return header + "\r\n" + body;
}

TEST(Client, TheRequestIsExactlyTheCallAndItsFraming) {
    CannedServer peer(response(str(responseXml(Value()))));
    const Client client(String(peer.address().c_str()).clone(), String());
    Value params;
    params.append(Value("vpn & co"_s));
    EXPECT_FALSE(client.execute("stopVpn"_s, params, 5000).isValid());
    const std::string body =
        "<?xml version=\"1.0\"?>\r\n<methodCall><methodName>stopVpn</methodName>\r\n"
        "<params><param><value>vpn &amp; co</value></param></params></methodCall>\r\n";
    EXPECT_EQ(peer.request(), "POST /rpc HTTP/1.1\r\nUser-Agent: Velnor-RPC v1.0\r\nHost: " + peer.address() +
                                  "\r\nContent-Type: text/xml\r\nContent-length: " + std::to_string(body.size()) +
                                  "\r\n\r\n" + body);
}

TEST(Client, AnAddressWithoutAPortMeansPort80) {
    // A loopback address of its own, so that port 80 is free there.
    CannedServer peer(response(str(responseXml(Value(5)))), "127.83.0.1", 80);
    if (peer.port() != 80) GTEST_SKIP() << "port 80 not available on 127.83.0.1";
    const Client client("127.83.0.1"_s, "/other"_s);
    EXPECT_EQ(client.execute("m"_s, Value(), 5000), Value(5));
    const std::string request = peer.request();
    EXPECT_EQ(request.substr(0, request.find("\r\nContent-Type")),
              "POST /other HTTP/1.1\r\nUser-Agent: Velnor-RPC v1.0\r\nHost: 127.83.0.1:80");
    EXPECT_NE(request.find("<methodName>m</methodName>\r\n</methodCall>\r\n"), std::string::npos)
        << "no parameters, no params element";
}

TEST(Client, RepliesBecomeValuesFaultsOrTheBadConfigurationFault) {
    const std::string good = str(responseXml(Value(42)));
    const Value badConfiguration = faultBadConfiguration;
    struct Case {
        const char* what;
        std::string reply;
        Value expected;
        const char* log;
    };
    const Case cases[] = {
        {"a value", response(good), Value(42), nullptr},
        {"status 500", response(good, "500 Internal Server Error"), Value(42), nullptr},
        {"no length", response(good, "200 OK", false), Value(42), nullptr},
        {"a fault", response(str(faultResponseXml(Value(7, "no gateway"_s)))), Value(7, "no gateway"_s), nullptr},
        {"length not a number", "HTTP/1.1 200 OK\r\nContent-Length: lots\r\n\r\n" + good, badConfiguration,
         "Invalid Content-length specified: "},
        {"no methodResponse", response("<html>busy</html>"), badConfiguration,
         "Invalid response - no methodResponse. Response: <html>busy</html>: "},
        {"neither param nor fault", response("<methodResponse><other/></methodResponse>"), badConfiguration,
         "Invalid response - no param or fault tag. Response: "},
        {"a fault that does not read", response("<methodResponse><fault><value><i4>x</value></fault></methodResponse>"),
         badConfiguration, "Invalid response value. Response: "},
        {"a value that does not read", response("<methodResponse><params><param><value><i4>"), Value(), nullptr},
        {"header beyond the limit", "HTTP/1.1 200 OK\r\nX-Filler: " + std::string(70000, 'f'), badConfiguration,
         "Reply header too long: "},
        {"announced beyond the limit", "HTTP/1.1 200 OK\r\nContent-Length: 1048577\r\n\r\n" + good, badConfiguration,
         "Reply content length beyond the limit: 1048577: "},
        {"closed without a byte", "", faultNetworkTimeout, nullptr},
    };
    for (const Case& c : cases) {
        test::LogCapture logs;
        CannedServer peer(c.reply);
        const Client client(String(peer.address().c_str()).clone(), String());
        EXPECT_EQ(client.execute("m"_s, Value(), 5000), c.expected) << c.what;
        if (c.log) {
            EXPECT_EQ(logs.lines(std::string(c.log)), 1) << c.what;
        }
    }
}

TEST(Client, AServerThatNeverAnswersGivesTheTimeoutFaultSilently) {
    test::LogCapture logs;
    CannedServer peer("", "127.0.0.1", 0, false);
    const Client client(String(peer.address().c_str()).clone(), String());
    const uint64_t before = steadyMilliseconds();
    EXPECT_EQ(client.execute("m"_s, Value(), 300), faultNetworkTimeout);
    EXPECT_GE(steadyMilliseconds() - before, 300u);
    EXPECT_EQ(logs.lines("bad xmlrpc call"), 0);
}

TEST(NamedPipeClientTest, CallsTheServerOnThePipe) {
    class Echo : public ServerMethod {
    public:
        Echo() : ServerMethod("echo"_s) {}
        using ServerMethod::execute;
        Value execute(const Value& params) override { return params.get(0); }
    } echo;
    PipeDir dir;
    NamedPipeServer server;
    server.addMethod(&echo);
    server.listen("calls"_s, 3, nullptr);
    std::atomic<bool> stop{false};
    std::thread worker([&] {
        while (!stop) server.work(50);
    });
    Value record;
    record.set("name", Value("a<b"_s));
    record.set("list", Value());
    record["list"].append(Value::ofBool(true));
    record["list"].append(Value::ofDouble(2.5));
    Value params;
    params.append(record);
    const NamedPipeClient client("calls"_s);
    EXPECT_EQ(client.execute("echo"_s, params, 5000), record);
    EXPECT_EQ(client.execute("other"_s, params, 5000), faultUnknownMethod);
    stop = true;
    worker.join();
}

TEST(NamedPipeClientTest, AMissingOrBusyPipeIsTheTimeoutFault) {
    PipeDir dir;
    ServerNamedPipeIo busy;
    busy.listen("busy"_s, 1);
    // Never accepted: the backlog fills until an open is refused.
    std::vector<gc::Pointer<NamedPipeIO>> holders;
    for (bool full = false; !full && holders.size() < 16;) {
        gc::Pointer<NamedPipeIO> holder(new NamedPipeIO());
        SocketAddress address;
        address.set(SocketAddress::HostName, "busy"_s, String());
        try {
            holder->connect(address, 0, NoMutex::instance(), String());
            holders.push_back(holder);
        } catch (const ENamedPipeIO&) {
            full = true;
        }
    }
    struct Case {
        const char* pipe;
        const char* log;
    };
    for (const Case& c : {Case{"missing", "bad xmlrpc call to 'm' e=ENamedPipeIO:namedpipeio:330(2)"},
                          Case{"busy", "bad xmlrpc call to 'm' e=ENamedPipeIO:namedpipeio:330(231)"}}) {
        test::LogCapture logs;
        EXPECT_EQ(NamedPipeClient(String(c.pipe)).execute("m"_s, Value(), 1000), faultNetworkTimeout);
        EXPECT_EQ(logs.lines(c.log), 1) << c.pipe;
        EXPECT_EQ(logs.lines("NamedPipeClient"), 1) << c.pipe;
    }
}

}  // namespace
