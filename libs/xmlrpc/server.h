// The XML-RPC server: its method table and the connections it accepts.
#pragma once

#include "base/io.h"
#include "base/dict.h"
#include "base/linkedlist.h"
#include "base/mutex.h"
#include "base/semaphore.h"
#include "base/string.h"
#include "xmlrpc/faults.h"
#include "xmlrpc/value.h"

#include <atomic>
#include <cstdint>

namespace trivane::xmlrpc {

// A callable method. The application keeps it alive as long as a server
// that holds it exists; execute() runs on connection threads, several at a
// time, so it must be safe to call concurrently. A subclass overriding only
// one execute() brings the other in with `using ServerMethod::execute;`.
class ServerMethod {
public:
    explicit ServerMethod(const String& name) : m_name(name) {}
    virtual ~ServerMethod() = default;
    ServerMethod(const ServerMethod&) = delete;
    ServerMethod& operator=(const ServerMethod&) = delete;

    // With the client's stream, for methods that ask who the caller is.
    virtual Value execute(const Value& params, IO* stream);
    virtual Value execute(const Value& params) = 0;

    const String& name() const noexcept { return m_name; }

private:
    const String m_name;
};

class ServerConnection;

// Accepts clients on a listening stream that a subclass supplies and serves
// each on a thread of its own. work(), addMethod() and destruction belong to
// the application's thread; callMethod() runs on connection threads.
class Server {
public:
    // Live connections at most; at the limit work() stops accepting until
    // one ends, so threads and memory stay bounded whatever clients do.
    static constexpr uint32_t maxConnections = 256;

    Server() = default;
    // Closes the listening stream, wakes the connections still running and
    // waits for each to end.
    virtual ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Replaces a method registered under the same name.
    void addMethod(ServerMethod* method);
    // The method's result, or the fault "unknown method name". Exceptions
    // of the method pass through.
    Value callMethod(const String& name, const Value& params, IO* stream);
    // Accepts and starts connections for about `timeoutMs`; stream
    // exceptions pass through.
    void work(uint32_t timeoutMs);

    // From accept to the last body byte of a request (30000 ms unless
    // changed); a slower request ends like one that timed out. Set before
    // work() starts connections.
    void setRequestDeadline(uint32_t ms) noexcept { m_requestDeadlineMs = ms; }
    uint32_t requestDeadline() const noexcept { return m_requestDeadlineMs; }

    // Live connections, as the work thread last counted them.
    uint32_t connectionCount() const noexcept { return m_live.load(std::memory_order_relaxed); }

protected:
    // Closes and replaces the listening stream; the server owns it.
    void setListener(const gc::Pointer<IO>& listener);
    const gc::Pointer<IO>& listener() const noexcept { return m_listener; }

private:
    friend class ServerConnection;
    // Called by a connection thread once its stream is released.
    void connectionEnded();
    // Joins and destroys the connections whose streams are released.
    void reap();
    // At the connection limit: waits up to `timeoutMs` for one to end.
    void waitForEnd(uint32_t timeoutMs);
    void start(const gc::Pointer<IO>& client);

    gc::Pointer<IO> m_listener;
    Mutex m_methodsLock;
    Dict<String, ServerMethod*> m_methods;
    DoubleLinkedList m_connections;
    Mutex m_endLock;
    Condition m_endCondition;
    bool m_ended = false;
    std::atomic<uint32_t> m_live{0};
    uint32_t m_requestDeadlineMs = 30000;
};

}  // namespace trivane::xmlrpc
