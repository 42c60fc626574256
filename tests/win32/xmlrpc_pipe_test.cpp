// The XML-RPC server and client over the system's named pipes: calls with
// their results and faults, the caller's identity in a method, concurrent
// callers, and a server that goes away under a connected client.
#include "xmlrpc/client.h"
#include "xmlrpc/faults.h"
#include "xmlrpc/namedpipeserver.h"

#include "base/clock.h"
#include "base/namedpipeio.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace trivane;
using namespace trivane::xmlrpc;

namespace {

std::string str(const String& s) { return std::string(s.data(), s.length()); }
std::string unique(const char* name) { return std::string("trivane_") + name + "_" + std::to_string(GetCurrentProcessId()); }

class EchoMethod : public ServerMethod {
public:
    EchoMethod() : ServerMethod("echo"_s) {}
    using ServerMethod::execute;
    Value execute(const Value& params) override { return params; }
};

// Who called, as the daemon's methods ask it.
class WhoMethod : public ServerMethod {
public:
    WhoMethod() : ServerMethod("who"_s) {}
    Value execute(const Value&) override { return Value(); }
    Value execute(const Value&, IO* stream) override {
        auto* pipe = dynamic_cast<NamedPipeIO*>(stream);
        if (!pipe) return Value(9, "no pipe"_s);
        Value answer;
        answer.append(Value(pipe->clientUserName()));
        answer.append(Value(pipe->isClientElevated() ? 1 : 0));
        return answer;
    }
};

class PipeServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        server->addMethod(&echo);
        server->addMethod(&who);
        server->listen(String(name.c_str()), 3, nullptr);
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

    std::string name = unique("rpc");
    EchoMethod echo;
    WhoMethod who;
    std::unique_ptr<NamedPipeServer> server = std::make_unique<NamedPipeServer>();
    std::atomic<bool> stop{false};
    std::thread worker;
};

}  // namespace

TEST_F(PipeServerTest, CallsGiveTheirResultsAndFaults) {
    NamedPipeClient client(String(name.c_str()));
    Value params;
    params.append(Value("text with <markup> & more"_s));
    params.append(Value(-42));
    Value nested;
    nested.append(Value(std::string(30000, 'x').c_str()));
    params.append(nested);
    EXPECT_EQ(client.execute("echo"_s, params, 10000), params);

    const Value unknown = client.execute("nothing"_s, Value(), 10000);
    ASSERT_TRUE(unknown.isFault());
    EXPECT_EQ(unknown, faultUnknownMethod);

    NamedPipeClient absent(String(unique("absent").c_str()));
    EXPECT_EQ(absent.execute("echo"_s, params, 2000), faultNetworkTimeout);
}

// Wine runs every process as one user with a full token; the refusal of
// other callers is shown on Linux.
TEST_F(PipeServerTest, AMethodLearnsWhoCalls) {
    char user[257];
    DWORD length = sizeof user;
    ASSERT_TRUE(GetUserNameA(user, &length));
    const Value answer = NamedPipeClient(String(name.c_str())).execute("who"_s, Value(), 10000);
    ASSERT_FALSE(answer.isFault()) << str(answer.get(1).asString());
    const std::string caller = str(answer.get(0).asString());
    EXPECT_EQ(caller.substr(0, caller.find('@')), user);
    EXPECT_NE(caller.find('@'), std::string::npos);
    EXPECT_EQ(answer.get(1).asInt(), 1);
}

TEST_F(PipeServerTest, ConcurrentCallersAreAllAnswered) {
    constexpr int callers = 8;
    constexpr int calls = 40;
    std::atomic<int> answered{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < callers; ++t) {
        threads.emplace_back([&, t] {
            NamedPipeClient client(String(name.c_str()));
            for (int i = 0; i < calls; ++i) {
                Value params;
                params.append(Value(t * 1000 + i));
                // Every instance may be taken for a moment: a busy pipe is retried.
                for (int attempt = 0; attempt < 200; ++attempt) {
                    const Value result = client.execute("echo"_s, params, 10000);
                    if (result == params) {
                        ++answered;
                        break;
                    }
                    sleepMilliseconds(5);
                }
            }
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(answered, callers * calls);
}

TEST_F(PipeServerTest, DestroyingTheServerEndsAConnectionWaitingForItsClient) {
    NamedPipeIO idle;
    SocketAddress address;
    address.set(SocketAddress::HostName, String(name.c_str()), String());
    idle.connect(address, 0, NoMutex::instance(), String());
    // The connection now waits for a request that never comes.
    const uint64_t start = steadyMilliseconds();
    while (server->connectionCount() == 0 && steadyMilliseconds() - start < 5000) sleepMilliseconds(10);
    ASSERT_EQ(server->connectionCount(), 1u);
    stopServer();
    char byte = 0;
    idle.setReadTimeout(5000);
    EXPECT_THROW(idle.read(&byte, 1, NoMutex::instance()), ENamedPipeIO);
    EXPECT_LT(steadyMilliseconds() - start, 5000u);
}
