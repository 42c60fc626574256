// The method table, accepting and reaping connections.
#include "xmlrpc/server.h"

#include "base/clock.h"
#include "base/console.h"
#include "xmlrpc/serverconnection.h"

#include <vector>

namespace trivane::xmlrpc {

Value ServerMethod::execute(const Value& params, IO*) { return execute(params); }

Server::~Server() {
    setListener(nullptr);
    {
        Locker<Mutex> hold(m_methodsLock);
        m_methods.clear();
    }
    while (DoubleLinkedList::Item* item = m_connections.head()) {
        auto* connection = static_cast<ServerConnection*>(item);
        connection->wake();
        connection->join();
        m_connections.remove(item);
        delete connection;
    }
}

void Server::setListener(const gc::Pointer<IO>& listener) {
    if (m_listener) m_listener->close();
    m_listener = listener;
}

void Server::addMethod(ServerMethod* method) {
    Locker<Mutex> hold(m_methodsLock);
    m_methods.item(method->name()) = method;
}

Value Server::callMethod(const String& name, const Value& params, IO* stream) {
    ServerMethod* method = nullptr;
    {
        Locker<Mutex> hold(m_methodsLock);
        if (m_methods.contains(name)) method = m_methods.get(name);
    }
    if (!method) {
        log(LogTrace, "xmlrpc.Server", "callMethod", "not found: "_s + name);
        return faultUnknownMethod;
    }
    return stream ? method->execute(params, stream) : method->execute(params);
}

void Server::work(uint32_t timeoutMs) {
    if (!m_listener || !m_listener->isValid()) {
        log(LogTrace, "xmlrpc.Server", "work", "socket not valid!");
        return;
    }
    uint64_t remaining = timeoutMs;
    for (;;) {
        const uint64_t began = steadyMilliseconds();
        bool pending = false;
        if (m_connections.count() >= maxConnections) reap();
        if (m_connections.count() >= maxConnections) {
            // Clients wait in the pipe's backlog (or find it busy) meanwhile.
            waitForEnd(static_cast<uint32_t>(remaining));
        } else {
            pending = m_listener->waitReadable(static_cast<uint32_t>(remaining), NoMutex::instance());
        }
        reap();
        if (pending) {
            const gc::Pointer<IO> client = m_listener->accept(10000, NoMutex::instance());
            if (client) start(client);
            else log(LogTrace, "xmlrpc.Server", "work", "connection not valid!");
        }
        const uint64_t spent = steadyMilliseconds() - began;
        if (spent >= remaining) return;
        remaining -= spent;
    }
}

void Server::start(const gc::Pointer<IO>& client) {
    if (!client->isValid()) {
        // Nothing could serve it: neither listed nor started.
        client->close();
        return;
    }
    auto* connection = new ServerConnection(this, client);
    m_connections.insertFront(connection);
    m_live.store(m_connections.count(), std::memory_order_relaxed);
    if (m_connections.count() % 10 == 0)
        log(LogTrace, "xmlrpc.Server", "work", String::fromUInt(m_connections.count()) + " connections opened");
    connection->run();
}

void Server::reap() {
    if (m_connections.count() == 0) return;
    std::vector<ServerConnection*> done;
    for (DoubleLinkedList::Item* item = m_connections.first(); item; item = m_connections.next()) {
        auto* connection = static_cast<ServerConnection*>(item);
        if (connection->finished()) done.push_back(connection);
    }
    for (ServerConnection* connection : done) {
        m_connections.remove(connection);
        connection->join();
        delete connection;
    }
    m_live.store(m_connections.count(), std::memory_order_relaxed);
}

void Server::connectionEnded() {
    Locker<Mutex> hold(m_endLock);
    m_ended = true;
    m_endCondition.notifyAll();
}

void Server::waitForEnd(uint32_t timeoutMs) {
    const uint64_t deadline = steadyMilliseconds() + timeoutMs;
    Locker<Mutex> hold(m_endLock);
    while (!m_ended) {
        const uint64_t now = steadyMilliseconds();
        if (now >= deadline) break;
        m_endCondition.wait(static_cast<int32_t>(deadline - now), m_endLock);
    }
    m_ended = false;
}

}  // namespace trivane::xmlrpc
