// One HTTP request served on one accepted stream, on a thread of its own.
#pragma once

#include "base/io.h"
#include "base/linkedlist.h"
#include "base/mutex.h"
#include "base/thread.h"

#include <cstdint>

namespace trivane::xmlrpc {

class Server;

// Reads the header and the body, calls the method and writes one reply,
// then closes the stream. The stream is closed only by the connection's own
// thread (or by run() when the thread did not start); the server may only
// wake it (wake()) so that a blocked read ends.
class ServerConnection : public DoubleLinkedList::Item, public Thread {
public:
    static constexpr uint32_t ioTimeoutMs = 10000;
    static constexpr uint32_t chunk = 65535;
    // A header longer than this (blank line included) is refused unanswered.
    static constexpr uint32_t maxHeaderLength = 64 * 1024;
    // A request announcing a longer body is refused before it is read.
    static constexpr uint64_t maxContentLength = 1024 * 1024;

    ServerConnection(Server* server, const gc::Pointer<IO>& stream);
    ~ServerConnection() override;
    const char* className() const noexcept { return "xmlrpc.ServerConnection"; }

    // Prepares the stream and starts the thread.
    void run();
    void main() override;
    void readRequest();

    // True once the stream has been released (the request is over).
    bool finished();
    // Wakes a thread blocked on the stream; the thread then closes it.
    void wake();

private:
    // A read bounded by the time-out and by the request's deadline; 0 when
    // nothing came in time.
    int32_t readPart(IO& stream, void* buffer, uint32_t count);
    void releaseStream();

    Server* m_server;
    Mutex m_lock;
    gc::Pointer<IO> m_stream;
    // The stream the thread works on, set when the thread begins.
    gc::Pointer<IO> m_working;
    uint64_t m_deadline;
    uint32_t m_timeoutSet = 0;
};

}  // namespace trivane::xmlrpc
