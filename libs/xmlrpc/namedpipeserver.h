// The XML-RPC server on a named pipe.
#pragma once

#include "base/pipesecurity.h"
#include "xmlrpc/server.h"

namespace trivane::xmlrpc {

class NamedPipeServer : public Server {
public:
    NamedPipeServer() = default;
    ~NamedPipeServer() override = default;

    // Creates the pipe `name` with room for `instances` clients connecting
    // at once. `attributes` (null: the process's default protection) must
    // live as long as the server. A listening pipe held before is closed
    // first; a failure throws ENamedPipeIO and leaves the server without one.
    void listen(const String& name, int instances, const sys::SecurityAttributes* attributes);
};

}  // namespace trivane::xmlrpc
