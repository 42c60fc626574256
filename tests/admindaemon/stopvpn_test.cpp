// The shared VPN state and "stopVpn" on real child processes: sessions,
// delays, the bound on pending stops, reclaiming finished stop threads, and
// a tear-down while stop threads sleep.
#include "AdminDaemonDatas.h"
#include "RpcManageService.h"
#include "RpcStopVpn.h"
#include "base/logcapture.h"
#include "base/process.h"
#include "xmlrpc/faults.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

using namespace trivane;

namespace {

xmlrpc::Value params(std::initializer_list<xmlrpc::Value> values) {
    Array<xmlrpc::Value> elements;
    for (const xmlrpc::Value& v : values) elements.append(v);
    return xmlrpc::Value(elements);
}

Process sleeper() {
    Process p;
    EXPECT_EQ(p.start("/bin/sleep"_s, "sleep 300"_s), 0u);
    return p;
}

void record(AdminDaemonDatas& datas, Process process, const char* session) {
    Locker<Mutex> hold(datas.lock());
    datas.process() = std::move(process);
    datas.session() = String(session);
}

// Whether the recorded process is still the one of `watch`, and it runs.
bool runs(const Process& watch) {
    Process probe = watch.duplicate();
    return !probe.wait(0);
}

bool waitUntil(const std::function<bool()>& done, int ms = 10000) {
    for (int i = 0; i < ms / 10 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return done();
}

}  // namespace

TEST(StopVpnTest, SessionRulesDecideWhetherTheRecordedVpnEnds) {
    struct Case {
        const char* recorded;
        const char* asked;
        bool stops;
    };
    const Case cases[] = {{"A", "A", true}, {"A", "", true}, {"", "B", true}, {"A", "B", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.recorded) + "/" + c.asked);
        test::LogCapture log;
        AdminDaemonDatas datas;
        Process vpn = sleeper();
        Process watch = vpn.duplicate();
        record(datas, std::move(vpn), c.recorded);
        RpcStopVpn method(&datas);
        EXPECT_FALSE(method.execute(params({String(c.asked), 0})).isValid());
        ASSERT_TRUE(waitUntil([&] { return datas.pendingStops() == 0; }));
        EXPECT_EQ(!runs(watch), c.stops);
        Locker<Mutex> hold(datas.lock());
        EXPECT_EQ(datas.process().isValid(), !c.stops) << "a stopped VPN is no longer recorded";
        if (!c.stops) {
            EXPECT_EQ(log.lines(std::string(c.asked) + " did not launched the VPN"), 1);
        }
    }
}

TEST(StopVpnTest, AVpnRecordedDuringTheDelayIsNotTheOneStopped) {
    test::LogCapture log;
    AdminDaemonDatas datas;
    Process first = sleeper();
    Process firstWatch = first.duplicate();
    record(datas, std::move(first), "A");
    RpcStopVpn method(&datas);
    method.execute(params({"A"_s, 300}));
    Process second = sleeper();
    Process secondWatch = second.duplicate();
    record(datas, std::move(second), "B");
    ASSERT_TRUE(waitUntil([&] { return !runs(firstWatch); }));
    ASSERT_TRUE(waitUntil([&] { return datas.pendingStops() == 0; }));
    EXPECT_TRUE(runs(secondWatch));
    Locker<Mutex> hold(datas.lock());
    EXPECT_TRUE(datas.process().sameProcess(secondWatch));
    EXPECT_EQ(std::string(datas.session().view()), "B");
    secondWatch.terminate();
}

TEST(StopVpnTest, PendingStopsAreBoundedAndEndWithTheState) {
    test::LogCapture log;
    auto datas = std::make_unique<AdminDaemonDatas>();
    Process vpn = sleeper();
    Process watch = vpn.duplicate();
    record(*datas, std::move(vpn), "A");
    RpcStopVpn method(datas.get());
    for (uint32_t i = 0; i < AdminDaemonDatas::maxPendingStops; ++i)
        EXPECT_FALSE(method.execute(params({"other"_s, 60000})).isValid());
    const xmlrpc::Value refused = method.execute(params({"A"_s, 0}));
    EXPECT_EQ(refused, xmlrpc::faultInternalError);
    EXPECT_EQ(datas->pendingStops(), AdminDaemonDatas::maxPendingStops);
    // The sleepers end with the state, which terminates the recorded VPN.
    datas.reset();
    EXPECT_FALSE(runs(watch));
}

TEST(StopVpnTest, ManyCallsOnManyThreadsLeaveNothingBehind) {
    test::LogCapture log;
    AdminDaemonDatas datas;
    RpcStopVpn method(&datas);
    std::atomic<int> answered{0};
    std::vector<Process> started;
    std::vector<std::thread> callers;
    for (int t = 0; t < 4; ++t) {
        callers.emplace_back([&, t] {
            for (int i = 0; i < 25; ++i) {
                if (t == 0 && i % 5 == 0) {
                    Process vpn = sleeper();
                    started.push_back(vpn.duplicate());
                    record(datas, std::move(vpn), "A");
                }
                const xmlrpc::Value result = method.execute(params({(i % 2 ? "A"_s : "B"_s), i % 3 - 1}));
                if (!result.isValid() || result == xmlrpc::faultInternalError) ++answered;
            }
        });
    }
    for (std::thread& t : callers) t.join();
    EXPECT_EQ(answered.load(), 100);
    EXPECT_TRUE(waitUntil([&] { return datas.pendingStops() == 0; }));
    for (Process& p : started) p.terminate();
}

TEST(StopVpnTest, DelaysAreKeptBetweenNothingAndAMinute) {
    const int64_t cases[][2] = {{-1, 0}, {INT32_MIN, 0}, {0, 0}, {10000, 10000}, {60000, 60000}, {60001, 60000},
                                {INT32_MAX, 60000}};
    for (const auto& c : cases) EXPECT_EQ(RpcStopVpn::effectiveDelay(c[0]), c[1]) << c[0];
}

TEST(ManageServiceTest, OnlyTheSuitesServicesAreManaged) {
    struct Case {
        const char* name;
        bool managed;
    };
    const Case cases[] = {{"velnor agent", true},     {"VELNOR AGENT", true},      {"velnor agent2", false},
                          {"velnor gateway", true},   {"Velnor Gateway 3", true},  {"velnor gatewa", false},
                          {"velnor", false},          {"", false},                 {"my velnor agent", false}};
    for (const Case& c : cases) EXPECT_EQ(RpcManageService::isManaged(String(c.name)), c.managed) << c.name;
    const std::string longest = "velnor gateway" + std::string(RpcManageService::maxTextLength - 14, 'x');
    EXPECT_TRUE(RpcManageService::isManaged(String(longest.c_str())));
    EXPECT_FALSE(RpcManageService::isManaged(String((longest + "x").c_str())));
}

TEST(ManageServiceTest, WithoutTheCallersStreamNothingIsDone) {
    RpcManageService method;
    EXPECT_EQ(method.execute(params({"velnor agent"_s, "start"_s}), nullptr), xmlrpc::faultBadConfiguration);
}
