// The XML-RPC client: one call per connection, over a socket or a named pipe.
#pragma once

#include "base/io.h"
#include "base/string.h"
#include "xmlrpc/value.h"

#include <cstdint>

namespace trivane::xmlrpc {

// Never throws: transport failures and time-outs give the fault "network
// timeout", unusable replies "bad configuration" (each logged). Holds only
// settings, so several threads may call one client at once.
class Client {
public:
    // Replies are read with the limits the server applies to requests:
    // beyond them the reply is unusable.
    static constexpr uint32_t maxHeaderLength = 64 * 1024;
    static constexpr uint64_t maxContentLength = 1024 * 1024;

    Client() : Client(String(), String(), ProtocolTcp) {}
    // `address` is host:port (":80" added when it has no colon); an empty
    // path is "/rpc".
    Client(const String& address, const String& path, int protocol = ProtocolTcp);

    Value execute(const String& method, const Value& params, uint32_t timeoutMs) const;

    const String& address() const noexcept { return m_address; }
    const String& path() const noexcept { return m_path; }

protected:
    // Sends the call on an open stream and reads the reply.
    Value exchange(IO& stream, const String& method, const Value& params, uint32_t timeoutMs) const;

private:
    Value readResponse(IO& stream) const;

    String m_address;
    String m_path;
    int m_protocol;
};

class NamedPipeClient : public Client {
public:
    // The pipe's name, without the pipe prefix.
    explicit NamedPipeClient(const String& pipeName) : m_pipeName(pipeName) {}

    // A pipe whose instances are all busy is not waited for: "network timeout".
    Value execute(const String& method, const Value& params, uint32_t timeoutMs) const;

private:
    String m_pipeName;
};

}  // namespace trivane::xmlrpc
