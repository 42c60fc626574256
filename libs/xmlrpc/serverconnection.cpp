// One request on one stream: header, body, dispatch, reply.
#include "xmlrpc/serverconnection.h"

#include "base/clock.h"
#include "base/console.h"
#include "http/request.h"
#include "xmlrpc/server.h"
#include "xmlrpc/xml.h"

namespace trivane::xmlrpc {

namespace {

const char s_module[] = "xmlrpc::ServerConnection";

}  // namespace

ServerConnection::ServerConnection(Server* server, const gc::Pointer<IO>& stream)
    : Thread("xmlrpc-serv-con"_s, true),
      m_server(server),
      m_stream(stream),
      m_deadline(steadyMilliseconds() + server->requestDeadline()) {}

ServerConnection::~ServerConnection() {
    join();
    Locker<Mutex> hold(m_lock);
    if (m_stream) {
        m_stream = nullptr;
        log(LogTrace, "xmlrpc.ServerConnection", "~ServerConnection", "io is valid!");
    }
}

bool ServerConnection::finished() {
    Locker<Mutex> hold(m_lock);
    return !m_stream;
}

void ServerConnection::wake() {
    Locker<Mutex> hold(m_lock);
    if (m_stream) m_stream->shutdown(2);
}

void ServerConnection::run() {
    gc::Pointer<IO> stream;
    {
        Locker<Mutex> hold(m_lock);
        stream = m_stream;
    }
    if (!stream) {
        log(LogTrace, "xmlrpc.ServerConnection", "run", "io is not valid!");
        return;
    }
    if (!stream->isValid()) log(LogTrace, "xmlrpc.ServerConnection", "run", "io is not valid 2!");
    stream->setReadTimeout(ioTimeoutMs);
    stream->setWriteTimeout(ioTimeoutMs);
    m_timeoutSet = ioTimeoutMs;
    Thread::run(true);
    // No thread runs any more: when it never began, its stream is still
    // here and must be closed so that the slot is reaped.
    if (join(0)) releaseStream();
}

void ServerConnection::releaseStream() {
    gc::Pointer<IO> stream;
    {
        Locker<Mutex> hold(m_lock);
        stream = std::move(m_stream);
    }
    if (stream) stream->close();
    stream = nullptr;
    m_server->connectionEnded();
}

void ServerConnection::main() {
    {
        Locker<Mutex> hold(m_lock);
        m_working = m_stream;
    }
    // Whatever ends the body, the stream is released and closed.
    struct Release {
        ServerConnection* self;
        ~Release() {
            self->m_working = nullptr;
            self->releaseStream();
        }
    } release{this};
    try {
        if (m_working && m_working->isValid()) {
            const uint64_t now = steadyMilliseconds();
            const uint64_t left = now < m_deadline ? m_deadline - now : 0;
            const uint32_t wait = left < ioTimeoutMs ? static_cast<uint32_t>(left) : ioTimeoutMs;
            if (wait > 0 && m_working->waitReadable(wait, NoMutex::instance())) readRequest();
        } else {
            log(LogTrace, "ServerConnection", "main", "io not valid!");
        }
    } catch (const Exception& e) {
        logCaught(e, "serverconnection"_s, 70);
    } catch (...) {
        log(LogTrace, "Exception", "catch", "unknown exception -> serverconnection:70");
    }
}

int32_t ServerConnection::readPart(IO& stream, void* buffer, uint32_t count) {
    const uint64_t now = steadyMilliseconds();
    if (now >= m_deadline) return 0;
    const uint64_t left = m_deadline - now;
    const uint32_t timeout = left < ioTimeoutMs ? static_cast<uint32_t>(left) : ioTimeoutMs;
    if (timeout != m_timeoutSet) {
        stream.setReadTimeout(timeout);
        m_timeoutSet = timeout;
    }
    return stream.read(buffer, count, NoMutex::instance());
}

void ServerConnection::readRequest() {
    IO& stream = *m_working;
    http::RequestHeader header;
    String buffer;
    uint32_t searched = 0;
    for (;;) {
        // The header may not grow past its limit, so one read never asks
        // for more than the room left.
        const uint32_t room = maxHeaderLength - buffer.length();
        const uint32_t want = room < chunk ? room : chunk;
        const uint32_t had = buffer.length();
        const int32_t n = readPart(stream, buffer.reserve(want), want);
        if (n <= 0) {
            buffer.setLength(had);
            log(LogTrace, s_module, "readRequest", "bad connection");
            return;
        }
        buffer.setLength(had + static_cast<uint32_t>(n));
        // Only the new bytes, and the three before them that may begin the
        // blank line, need searching again.
        if (header.parse(buffer, searched > 3 ? searched - 3 : 0)) break;
        searched = buffer.length();
        if (buffer.length() >= maxHeaderLength) {
            log(LogTrace, s_module, "readRequest", "header too long");
            return;
        }
    }
    if (header.contentLengthState() != http::StatePresent) {
        log(LogTrace, s_module, "readRequest", "invalid Content-length specified");
        return;
    }
    const uint64_t length = header.contentLength();
    if (length > maxContentLength) {
        log(LogTrace, s_module, "readRequest", "content length beyond the limit: "_s + String::fromUInt64(length));
        return;
    }
    while (buffer.length() < length) {
        const uint32_t missing = static_cast<uint32_t>(length) - buffer.length();
        const uint32_t had = buffer.length();
        const int32_t n = readPart(stream, buffer.reserve(missing), missing);
        if (n <= 0) {
            buffer.setLength(had);
            log(LogTrace, "IO", "read", "problem when read data");
            throw IOException("IOException"_s, "io"_s, 140);
        }
        buffer.setLength(had + static_cast<uint32_t>(n));
    }

    Value params;
    uint32_t pos = 0;
    const String name = textBetween("<methodName>", buffer, pos);
    if (!name.isEmpty() && skipPast("<params>", buffer, pos)) {
        for (int32_t i = 0; skipPrefix("<param>", buffer, pos); ++i) {
            Value value;
            value.fromXml(buffer, pos);
            params.set(i, value);
            skipPrefix("</param>", buffer, pos);
        }
        skipPrefix("</params>", buffer, pos);
    }

    const Value result = m_server->callMethod(name, params, &stream);
    const String body = result.isFault() ? faultResponseXml(result) : responseXml(result);
    const String reply = "HTTP/1.1 200 OK\r\nServer: Velnor-RPC v1.0\r\nConnection: close\r\n"
                         "Content-Type: text/xml\r\nContent-length: "_s +
                         String::fromUInt(body.length()) + "\r\n\r\n" + body;
    for (uint32_t done = 0; done < reply.length();) {
        const uint32_t left = reply.length() - done;
        const uint32_t piece = left < chunk ? left : chunk;
        stream.writeAll(reply.data() + done, piece, NoMutex::instance());
        done += piece;
    }
}

}  // namespace trivane::xmlrpc
