// The pipe server under load: many concurrent callers, idle clients holding
// connections, and more idle clients than the server keeps connections for.
#include "xmlrpc/namedpipeserver.h"

#include "base/console.h"
#include "pipeclient.h"
#include "xmlrpc/xml.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <memory>
#include <thread>
#include <vector>

using namespace trivane;
using namespace trivane::xmlrpc;
using namespace pipetest;

namespace {

class NoValue : public ServerMethod {
public:
    NoValue() : ServerMethod("none"_s) {}
    using ServerMethod::execute;
    Value execute(const Value&) override { return Value(); }
};

int processThreads() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("Threads:", 0) == 0) return std::stoi(line.substr(8));
    return -1;
}

class LoadTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Thousands of connections: their trace lines are not what is tested.
        for (int level = 0; level < Console::levels; ++level) Console::instance()->setOutput(level, "null"_s);
        server.addMethod(&method);
        server.listen("load"_s, 3, nullptr);
        worker = std::thread([this] {
            while (!stop) server.work(50);
        });
    }
    void TearDown() override {
        stop = true;
        worker.join();
        for (int level = 0; level < Console::levels; ++level) Console::instance()->setOutput(level, "stdout"_s);
    }
    bool answered() { return exchange("load"_s, {request}) == expected; }
    // Opens idle clients until `count` are open or opens stay busy.
    std::vector<std::unique_ptr<NamedPipeIO>> idleClients(size_t count) {
        std::vector<std::unique_ptr<NamedPipeIO>> idle;
        SocketAddress address;
        address.set(SocketAddress::HostName, "load"_s, String());
        uint64_t busySince = 0;
        while (idle.size() < count) {
            auto pipe = std::make_unique<NamedPipeIO>();
            try {
                pipe->connect(address, 0, NoMutex::instance(), String());
                idle.push_back(std::move(pipe));
                busySince = 0;
            } catch (const ENamedPipeIO& e) {
                EXPECT_EQ(e.code(), 231);
                if (busySince == 0) busySince = steadyMilliseconds();
                if (steadyMilliseconds() - busySince > 1000) break;
                usleep(1000);
            }
        }
        return idle;
    }

    PipeDir dir;
    NoValue method;
    NamedPipeServer server;
    std::atomic<bool> stop{false};
    std::thread worker;
    const std::string request = httpRequest(callXml("none"));
    const std::string expected = replyOf(responseXml(Value()));
};

TEST_F(LoadTest, EveryRequestOfManyConcurrentCallersIsAnswered) {
    constexpr int clients = 32;
    constexpr int requests = 1000;
    std::atomic<int> unanswered{0};
    std::vector<std::thread> callers;
    for (int c = 0; c < clients; ++c)
        callers.emplace_back([&] {
            for (int i = 0; i < requests; ++i)
                if (!answered()) ++unanswered;
        });
    for (std::thread& t : callers) t.join();
    EXPECT_EQ(unanswered.load(), 0);
}

TEST_F(LoadTest, IdleClientsDoNotKeepOthersFromBeingServed) {
    const auto idle = idleClients(200);
    ASSERT_EQ(idle.size(), 200u);
    ASSERT_TRUE(eventually([&] { return server.connectionCount() >= 200; }));
    for (int i = 0; i < 200; ++i) EXPECT_TRUE(answered()) << i;
}

TEST_F(LoadTest, MoreIdleClientsThanTheLimitLeaveTheServerBoundedUntilTheyGo) {
    const int before = processThreads();
    auto idle = idleClients(Server::maxConnections + 100);
    // The server holds its limit; the rest wait in the backlog or found it busy.
    EXPECT_GE(idle.size(), Server::maxConnections);
    EXPECT_LT(idle.size(), Server::maxConnections + 100);
    ASSERT_TRUE(eventually([&] { return server.connectionCount() == Server::maxConnections; }));
    EXPECT_LE(processThreads(), before + static_cast<int>(Server::maxConnections) + 1);
    idle.clear();
    for (int i = 0; i < 20; ++i) EXPECT_TRUE(answered()) << i;
}

}  // namespace
