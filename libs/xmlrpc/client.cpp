// Building a call, sending it, and reading the reply into a value or a fault.
#include "xmlrpc/client.h"

#include "base/console.h"
#include "base/namedpipeio.h"
#include "http/response.h"
#include "xmlrpc/server.h"
#include "xmlrpc/xml.h"

namespace trivane::xmlrpc {

namespace {

const char s_module[] = "xmlrpc.Client";
constexpr uint32_t s_chunk = 65535;

String request(const String& path, const String& host, const String& method, const Value& params) {
    String body = "<?xml version=\"1.0\"?>\r\n<methodCall><methodName>"_s + method + "</methodName>\r\n";
    if (params.isValid()) body = body + "<params>" + params.toParamsXml() + "</params>";
    body.append("</methodCall>\r\n");
    return "POST "_s + path + " HTTP/1.1\r\nUser-Agent: Velnor-RPC v1.0\r\nHost: " + host +
           "\r\nContent-Type: text/xml\r\nContent-length: " + String::fromUInt(body.length()) + "\r\n\r\n" + body;
}

Value unusable(const String& message) {
    log(LogTrace, s_module, "readResponse", message);
    return faultBadConfiguration;
}

}  // namespace

Client::Client(const String& address, const String& path, int protocol)
    : m_address(address.isEmpty() || address.find(':') != String::npos ? address : address + ":80"),
      m_path(path.isEmpty() ? "/rpc"_s : path),
      m_protocol(protocol) {}

Value Client::execute(const String& method, const Value& params, uint32_t timeoutMs) const {
    Value result = faultNetworkTimeout;
    gc::Pointer<IO> stream;
    try {
        stream = createIO(IOClientSide, m_protocol);
        stream->create();
        stream->setReadTimeout(timeoutMs);
        stream->setWriteTimeout(timeoutMs);
        stream->connect(SocketAddress(m_address), timeoutMs, NoMutex::instance(), String());
        result = exchange(*stream, method, params, timeoutMs);
        stream->setAbortiveClose();
        stream->close();
    } catch (const Exception& e) {
        log(LogTrace, "Client", "execute", "bad xmlrpc call to '"_s + method + "' e=" + e.text());
        if (stream) stream->close();
    }
    return result;
}

Value NamedPipeClient::execute(const String& method, const Value& params, uint32_t timeoutMs) const {
    Value result = faultNetworkTimeout;
    gc::Pointer<IO> stream;
    try {
        stream = new NamedPipeIO();
        stream->setReadTimeout(timeoutMs);
        stream->setWriteTimeout(timeoutMs);
        SocketAddress address;
        address.set(SocketAddress::HostName, m_pipeName, String());
        stream->connect(address, timeoutMs, NoMutex::instance(), String());
        result = exchange(*stream, method, params, timeoutMs);
        stream->close();
    } catch (const Exception& e) {
        log(LogTrace, "NamedPipeClient", "execute", "bad xmlrpc call to '"_s + method + "' e=" + e.text());
        if (stream) stream->close();
    }
    return result;
}

Value Client::exchange(IO& stream, const String& method, const Value& params, uint32_t timeoutMs) const {
    Value result = faultNetworkTimeout;
    try {
        String host = m_address;
        if (host.isEmpty()) {
            SocketAddress remote;
            stream.remoteAddress(remote);
            host = remote.text();
        }
        const String text = request(m_path, host, method, params);
        stream.writeAll(text.data(), text.length(), NoMutex::instance());
        if (!stream.waitReadable(timeoutMs, NoMutex::instance())) return result;
        result = readResponse(stream);
    } catch (const Exception&) {
        log(LogTrace, "Client", "execute", "bad xmlrpc call to '"_s + method + "'");
    }
    return result;
}

Value Client::readResponse(IO& stream) const {
    http::ResponseHeader header;
    String buffer;
    uint32_t searched = 0;
    for (;;) {
        const uint32_t room = maxHeaderLength - buffer.length();
        const uint32_t want = room < s_chunk ? room : s_chunk;
        const uint32_t had = buffer.length();
        const int32_t n = stream.read(buffer.reserve(want), want, NoMutex::instance());
        if (n <= 0) {
            buffer.setLength(had);
            return unusable("Bad connection: "_s + m_address);
        }
        buffer.setLength(had + static_cast<uint32_t>(n));
        if (header.parse(buffer, searched > 3 ? searched - 3 : 0)) break;
        searched = buffer.length();
        if (buffer.length() >= maxHeaderLength) return unusable("Reply header too long: "_s + m_address);
    }
    const int state = header.contentLengthState();
    if (state == http::StateRemoved) return unusable("Invalid Content-length specified: "_s + m_address);
    const uint64_t length = state == http::StatePresent ? header.contentLength() : 0;
    if (length > maxContentLength)
        return unusable("Reply content length beyond the limit: "_s + String::fromUInt64(length) + ": " + m_address);
    if (buffer.length() < length) {
        const uint32_t missing = static_cast<uint32_t>(length) - buffer.length();
        const uint32_t had = buffer.length();
        stream.readFully(buffer.reserve(missing), missing, NoMutex::instance());
        buffer.setLength(had + missing);
    }

    uint32_t pos = 0;
    if (!skipPast("<methodResponse>", buffer, pos))
        return unusable("Invalid response - no methodResponse. Response: "_s + buffer + ": " + m_address);
    if (skipPrefix("<params>", buffer, pos) && skipPrefix("<param>", buffer, pos)) {
        Value value;
        value.fromXml(buffer, pos);
        return value;
    }
    if (skipPrefix("<fault>", buffer, pos)) {
        Value fault;
        if (fault.faultFromXml(buffer, pos)) return fault;
        return unusable("Invalid response value. Response: "_s + buffer + ": " + m_address);
    }
    return unusable("Invalid response - no param or fault tag. Response: "_s + buffer + ": " + m_address);
}

}  // namespace trivane::xmlrpc
