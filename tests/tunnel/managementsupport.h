// Test support for the management client: a listener that records events,
// and XML-RPC servers (on the daemon's pipe and on loopback TCP) that
// answer "stopVpn" and remember what they were asked.
#pragma once

#include "base/socketio.h"
#include "tunnel/ovpnmanagementclient.h"
#include "xmlrpc/faults.h"
#include "xmlrpc/namedpipeserver.h"
#include "xmlrpc/server.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace mgmttest {

using namespace trivane;
using Clock = std::chrono::steady_clock;

inline std::string str(const String& s) { return std::string(s.data(), s.length()); }

// Every event as one text, in the order they came.
class EventLog : public tunnel::OvpnManagementClientListener {
public:
    void onStarted() override { add("started"); }
    void onConnected(const String& ip) override { add("connected " + str(ip)); }
    void onAuthenticating() override { add("authenticating"); }
    void onAuthFailed() override { add("auth failed"); }
    void onReconnecting(const String& reason) override { add("reconnecting " + str(reason)); }
    void onStopped() override { add("stopped"); }

    // True once `event` has come, within `seconds`.
    bool waitFor(const std::string& event, int seconds = 10) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(seconds), [&] {
            for (const std::string& e : m_events)
                if (e == event) return true;
            return false;
        });
    }
    // True once `n` events have come, within `seconds`.
    bool waitForSize(size_t n, int seconds = 10) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(seconds), [&] { return m_events.size() >= n; });
    }
    std::vector<std::string> events() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_events;
    }

private:
    void add(const std::string& event) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_events.push_back(event);
        m_changed.notify_all();
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_events;
};

// "stopVpn": records "session,delay" and runs an optional action.
class StopVpnMethod : public xmlrpc::ServerMethod {
public:
    explicit StopVpnMethod(std::function<void()> action = nullptr)
        : ServerMethod("stopVpn"_s), m_action(std::move(action)) {}
    using ServerMethod::execute;
    xmlrpc::Value execute(const xmlrpc::Value& params) override {
        std::string call;
        if (params.size() == 2 && params.get(0).type() == xmlrpc::TypeString && params.get(1).type() == xmlrpc::TypeInteger)
            call = str(params.get(0).asString()) + "," + std::to_string(params.get(1).asInt());
        else
            call = "bad parameters";
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_calls.push_back(call);
            m_called.notify_all();
        }
        if (m_action) m_action();
        return xmlrpc::Value();
    }
    std::vector<std::string> calls() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_calls;
    }
    // True once a call has come, within `seconds`.
    bool waitForCall(int seconds = 10) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_called.wait_for(lock, std::chrono::seconds(seconds), [&] { return !m_calls.empty(); });
    }

private:
    std::function<void()> m_action;
    std::mutex m_mutex;
    std::condition_variable m_called;
    std::vector<std::string> m_calls;
};

// An XML-RPC server on plain loopback TCP, as the daemon's HTTP fall-back.
class TcpServer : public xmlrpc::Server {
public:
    // The port chosen by the system.
    int listen() {
        gc::Pointer<IO> socket = createIO(IOServerSide, ProtocolTcp);
        socket->create();
        socket->listen(SocketAddress("127.0.0.1:0"_s), true, 8, String());
        setListener(socket);
        SocketAddress local;
        socket->localAddress(local);
        return local.port().toInt();
    }
};

// Runs a server's work loop on a thread of its own while it lives.
class ServerRunner {
public:
    explicit ServerRunner(xmlrpc::Server& server) : m_server(server), m_thread([this] {
        while (!m_stop.load()) m_server.work(100);
    }) {}
    ~ServerRunner() {
        m_stop.store(true);
        m_thread.join();
    }

private:
    xmlrpc::Server& m_server;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

}  // namespace mgmttest
