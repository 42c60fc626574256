// The XML-RPC server on a real pipe: request framing, the exact reply bytes,
// the bad requests it leaves unanswered, its limits, and its lifecycle.
#include "xmlrpc/namedpipeserver.h"

#include "base/clock.h"
#include "base/logcapture.h"
#include "pipeclient.h"
#include "xmlrpc/xml.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

using namespace trivane;
using namespace trivane::xmlrpc;
using namespace pipetest;

namespace {

class EchoMethod : public ServerMethod {
public:
    EchoMethod() : ServerMethod("echo"_s) {}
    using ServerMethod::execute;
    Value execute(const Value& params) override { return params; }
};

// The kind code of each parameter.
class TypesMethod : public ServerMethod {
public:
    TypesMethod() : ServerMethod("types"_s) {}
    using ServerMethod::execute;
    Value execute(const Value& params) override {
        Value kinds;
        for (int32_t i = 0; i < params.size(); ++i) kinds.append(Value(params.get(i).type()));
        return kinds;
    }
};

class FixedMethod : public ServerMethod {
public:
    FixedMethod(const char* name, const Value& result, uint32_t delayMs = 0)
        : ServerMethod(String(name)), m_result(result), m_delayMs(delayMs) {}
    using ServerMethod::execute;
    Value execute(const Value&) override {
        if (m_delayMs) sleepMilliseconds(m_delayMs);
        return m_result;
    }

private:
    Value m_result;
    uint32_t m_delayMs;
};

class ThrowingMethod : public ServerMethod {
public:
    ThrowingMethod() : ServerMethod("throws"_s) {}
    using ServerMethod::execute;
    Value execute(const Value&) override { TRIVANE_THROW(EBadItem); }
};

// A server on its own pipe directory, worked by a thread of the test's.
class ServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (ServerMethod* m : methods()) server->addMethod(m);
        server->listen("rpc"_s, 3, nullptr);
        stop = false;
        worker = std::thread([this] {
            while (!stop) server->work(50);
        });
    }
    void TearDown() override { stopServer(); }
    void stopServer() {
        stop = true;
        if (worker.joinable()) worker.join();
        server.reset();
    }
    std::vector<ServerMethod*> methods() { return {&echo, &types, &none, &fault4, &slow, &throws}; }
    std::string call(const std::vector<std::string>& pieces, int gapMs = 0) {
        return exchange("rpc"_s, pieces, gapMs);
    }

    test::LogCapture logs;
    PipeDir dir;
    EchoMethod echo;
    TypesMethod types;
    FixedMethod none{"none", Value()};
    FixedMethod fault4{"fault4", faultBadConfiguration};
    FixedMethod slow{"slow", Value(), 300};
    ThrowingMethod throws;
    std::unique_ptr<NamedPipeServer> server = std::make_unique<NamedPipeServer>();
    std::atomic<bool> stop{false};
    std::thread worker;
};

TEST_F(ServerTest, RepliesCarryTheExactHeaderAndEnvelope) {
    const std::string emptyResult =
        "<?xml version=\"1.0\"?>\r\n<methodResponse><params><param>\r\n\t\r\n</param></params></methodResponse>\r\n";
    const std::string badConfiguration =
        "<?xml version=\"1.0\"?>\r\n<methodResponse><fault>\r\n\t<value><struct><member><name>faultCode</name>"
        "<value><i4>4</i4></value></member><member><name>faultString</name><value>bad configuration</value>"
        "</member></struct></value>\r\n</fault></methodResponse>\r\n";
    struct Case {
        const char* method;
        std::string body;
    };
    const Case cases[] = {
        {"none", emptyResult},
        {"fault4", badConfiguration},
        {"nosuch", str(faultResponseXml(Value(1, "unknown method name"_s)))},
    };
    for (const Case& c : cases) {
        const std::string expected = "HTTP/1.1 200 OK\r\nServer: Velnor-RPC v1.0\r\nConnection: close\r\n"
                                     "Content-Type: text/xml\r\nContent-length: " +
                                     std::to_string(c.body.size()) + "\r\n\r\n" + c.body;
        EXPECT_EQ(call({httpRequest(callXml(c.method))}), expected) << c.method;
    }
    EXPECT_EQ(logs.lines("not found: nosuch"), 1);
}

TEST_F(ServerTest, ARequestInOneReadOrSplitOverSeveralGetsTheSameReply) {
    const std::string request = httpRequest(callXml("echo", "<param><value><i4>1</i4></value></param>"
                                                            "<param><value><string>two</string></value></param>"));
    Value params;
    params.append(Value(1));
    params.append(Value("two"_s));
    const std::string expected = replyOf(responseXml(params));
    const size_t blank = request.find("\r\n\r\n");
    EXPECT_EQ(call({request}), expected);
    EXPECT_EQ(call({request.substr(0, 10), request.substr(10, blank - 8), request.substr(blank + 2, 20),
                    request.substr(blank + 22, 30), request.substr(blank + 52)},
                   30),
              expected);
}

TEST_F(ServerTest, WhatTheRequestLineSaysDoesNotMatter) {
    const std::string body = callXml("none");
    const std::string expected = replyOf(responseXml(Value()));
    EXPECT_EQ(call({httpRequest(body, "GET /anything/else HTTP/1.0")}), expected);
    EXPECT_EQ(call({"GET / HTTP/1.0\nContent-Length: " + std::to_string(body.size()) + "\n\n" + body}), expected);
}

TEST_F(ServerTest, AnEmptyBodyCallsTheEmptyName) {
    EXPECT_EQ(call({"POST /rpc HTTP/1.1\r\nContent-Length: 0\r\n\r\n"}),
              replyOf(faultResponseXml(faultUnknownMethod)));
}

TEST_F(ServerTest, AParameterThatDoesNotReadArrivesInvalid) {
    const std::string reply =
        call({httpRequest(callXml("types", "<param><value><i4>7</i4></value></param>"
                                           "<param><value><quaternion>1</quaternion></value></param>"))});
    Value kinds;
    kinds.append(Value(TypeInteger));
    kinds.append(Value(TypeInvalid));
    EXPECT_EQ(reply, replyOf(responseXml(kinds)));
}

TEST_F(ServerTest, BadRequestsGetNoReplyAndALogLine) {
    struct Case {
        const char* what;
        std::string request;
        const char* log;
    };
    const std::string body = callXml("none");
    const Case cases[] = {
        {"no length", "POST /rpc HTTP/1.1\r\nHost: x\r\n\r\n" + body, "invalid Content-length specified"},
        {"length not a number", "POST /rpc HTTP/1.1\r\nContent-Length: many\r\n\r\n" + body,
         "invalid Content-length specified"},
        {"announced beyond the limit", "POST /rpc HTTP/1.1\r\nContent-Length: 1048577\r\n\r\n" + body,
         "content length beyond the limit: 1048577"},
        {"header beyond the limit", "POST /rpc HTTP/1.1\r\nX-Filler: " + std::string(70000, 'f'), "header too long"},
        {"method throws", httpRequest(callXml("throws")), "EBadItem:server_test:"},
    };
    for (const Case& c : cases) {
        const int before = logs.lines(c.log);
        EXPECT_EQ(call({c.request}), "") << c.what;
        EXPECT_TRUE(eventually([&] { return logs.lines(c.log) == before + 1; })) << c.what;
    }
    // The limit itself is served.
    const std::string atLimit = "POST /rpc HTTP/1.1\r\nContent-Length: 1048576\r\n\r\n" + body;
    EXPECT_EQ(call({atLimit + std::string(1048576 - body.size(), ' ')}), replyOf(responseXml(Value())));
}

TEST_F(ServerTest, ABodyThatStopsShortEndsWithoutReply) {
    NamedPipeIO pipe;
    openRetrying(pipe, "rpc"_s);
    const std::string request = "POST /rpc HTTP/1.1\r\nContent-Length: 500\r\n\r\n<methodCall>";
    pipe.writeAll(request.data(), static_cast<uint32_t>(request.size()), NoMutex::instance());
    pipe.close();
    EXPECT_TRUE(eventually([&] { return logs.lines("ENamedPipeIO:namedpipeio:200(109) -> serverconnection:70") == 1; }));
}

TEST_F(ServerTest, AClientGoneBeforeItsReplyEndsOnlyItsConnection) {
    {
        NamedPipeIO pipe;
        openRetrying(pipe, "rpc"_s);
        const std::string request = httpRequest(callXml("slow"));
        pipe.writeAll(request.data(), static_cast<uint32_t>(request.size()), NoMutex::instance());
    }
    EXPECT_TRUE(eventually([&] { return logs.lines("ENamedPipeIO:namedpipeio:121(232) -> serverconnection:70") == 1; }));
    EXPECT_EQ(call({httpRequest(callXml("none"))}), replyOf(responseXml(Value())));
}

TEST_F(ServerTest, ARequestSlowerThanItsDeadlineEndsLikeATimeOut) {
    stopServer();
    server = std::make_unique<NamedPipeServer>();
    server->setRequestDeadline(600);
    SetUp();
    NamedPipeIO pipe;
    openRetrying(pipe, "rpc"_s);
    // One byte every 100 ms never trips the read time-out, only the deadline.
    const std::string request = httpRequest(callXml("none"));
    bool closed = false;
    for (size_t i = 0; i < request.size() && !closed; ++i) {
        try {
            pipe.writeAll(request.data() + i, 1, NoMutex::instance());
        } catch (const ENamedPipeIO&) {
            closed = true;
        }
        usleep(100000);
    }
    EXPECT_TRUE(closed);
    EXPECT_EQ(logs.lines("bad connection"), 1);
}

TEST_F(ServerTest, ASilentClientIsDisconnectedWithoutALogLine) {
    NamedPipeIO pipe;
    openRetrying(pipe, "rpc"_s);
    EXPECT_EQ(readToEnd(pipe, 15000), "");
    EXPECT_EQ(logs.lines("xmlrpc::ServerConnection"), 0);
    EXPECT_EQ(logs.lines("Exception"), 0);
}

TEST_F(ServerTest, EveryTenthLiveConnectionIsLogged) {
    NamedPipeIO idle[10];
    for (NamedPipeIO& pipe : idle) openRetrying(pipe, "rpc"_s);
    EXPECT_TRUE(eventually([&] { return logs.lines("10 connections opened") == 1; }));
}

TEST_F(ServerTest, DestructionEndsAConnectionThatWaitsForItsClient) {
    NamedPipeIO pipe;
    openRetrying(pipe, "rpc"_s);
    const std::string part = "POST /rpc HTTP/1.1\r\nContent-Le";
    pipe.writeAll(part.data(), static_cast<uint32_t>(part.size()), NoMutex::instance());
    ASSERT_TRUE(eventually([&] { return server->connectionCount() == 1; }));
    const uint64_t before = steadyMilliseconds();
    stopServer();
    // Woken at once, not after its 10 s read time-out.
    EXPECT_LT(steadyMilliseconds() - before, 5000u);
    EXPECT_EQ(readToEnd(pipe, 1000), "");
    EXPECT_EQ(logs.lines("ENamedPipeIO:namedpipeio:200(109) -> serverconnection:70"), 1);
}

TEST(ServerWork, WithoutAPipeWorkReturnsAtOnce) {
    test::LogCapture logs;
    NamedPipeServer server;
    const uint64_t before = steadyMilliseconds();
    server.work(2000);
    EXPECT_LT(steadyMilliseconds() - before, 1000u);
    EXPECT_EQ(logs.lines("socket not valid!"), 1);
}

TEST(ServerWork, WithoutClientsWorkUsesItsWholeBudget) {
    PipeDir dir;
    NamedPipeServer server;
    server.listen("idle"_s, 3, nullptr);
    const uint64_t before = steadyMilliseconds();
    server.work(300);
    EXPECT_GE(steadyMilliseconds() - before, 300u);
}

TEST(ServerMethods, ALaterMethodOfTheSameNameReplacesTheFirst) {
    test::LogCapture logs;
    NamedPipeServer server;
    FixedMethod first{"m", Value(1)};
    FixedMethod second{"m", Value(2)};
    server.addMethod(&first);
    server.addMethod(&second);
    EXPECT_EQ(server.callMethod("m"_s, Value(), nullptr).asInt(), 2);
    const Value unknown = server.callMethod(String(), Value(), nullptr);
    EXPECT_EQ(unknown, Value(1, "unknown method name"_s));
    EXPECT_EQ(logs.lines("not found: "), 1);
}

}  // namespace
